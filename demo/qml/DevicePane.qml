pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One device: its header (network, clock, messages) and the chosen settings screen.
Rectangle {
    id: pane
    property var device
    property string screen
    property color accent
    // The app's mode, for the screens that show a theme's half.
    property bool dark
    // The machine's device objects, the same for both devices.
    property var audio
    property var screenInfo
    readonly property var screens: ["privacy", "devices", "verification", "preferences", "notifications", "wallpapers", "themes", "emoji", "sound"]
    // The device's current theme in the app's mode: its accent colours the controls, and a strip
    // shows a chat as it looks with it.
    readonly property var themeHalf: {
        const theme = pane.device.themeHandler ? pane.device.themeHandler.currentTheme : null;
        return theme ? (pane.dark && theme.dark ? theme.dark : theme.light) : null;
    }
    readonly property color themeAccent: pane.themeHalf && pane.themeHalf.themeColors.length > 0 ? pane.themeHalf.themeColors[0] : pane.accent
    radius: 10
    color: Style.base
    border.color: Style.border
    palette.highlight: pane.themeAccent
    palette.dark: pane.themeAccent

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 14
        spacing: 10

        RowLayout {
            Layout.fillWidth: true
            Rectangle { width: 12; height: 12; radius: 6; color: pane.device.online && !pane.device.signedOut ? pane.accent : "#B0B8C2" }
            Label {
                text: qsTr("Device %1").arg(pane.device.name)
                font.pixelSize: 18
                font.bold: true
                color: Style.text
            }
            // What the account says of itself: synchronised only when nothing waits for the server.
            Label {
                readonly property var account: pane.device.account
                text: {
                    switch (account.syncState) {
                    case 0: return qsTr("offline");
                    case 2: return account.unsentChanges === 1 ? qsTr("sending 1 change")
                                                                : qsTr("sending %1 changes").arg(account.unsentChanges);
                    case 3: return qsTr("synchronised");
                    case 4: return account.storageState === 3 ? qsTr("storage trouble: changes wait for room on the disk")
                                                              : qsTr("storage trouble: nothing is saved on this computer");
                    case 5: return qsTr("signed out");
                    default: return qsTr("connecting…");
                    }
                }
                color: account.syncState >= 4 ? Style.failure : Style.secondary
            }
            Item { Layout.fillWidth: true }
            Label { text: qsTr("Online"); color: Style.secondary }
            Switch {
                enabled: !pane.device.signedOut
                // The user's choice: the dot and the state line say whether the server is reached.
                checked: pane.device.account.onlineChosen
                onToggled: pane.device.online = checked
            }
        }

        // Why the server cannot be reached, while it cannot: "offline" alone does not say whether
        // waiting helps.
        Label {
            objectName: "connectionProblem"
            visible: text.length > 0 && !pane.device.signedOut
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: pane.device.account.connectionProblem
            color: Style.failure
        }

        // A chat as it looks with the current theme: its wallpaper and bubbles in its colours.
        WallpaperView {
            objectName: "themePreview"
            visible: !pane.device.signedOut
            Layout.fillWidth: true
            Layout.preferredHeight: 40
            wallpaper: pane.themeHalf ? pane.themeHalf.wallpaperItem : null
            bubbles: true
            bubbleColors: pane.themeHalf && pane.themeHalf.messageColors.length > 0 ? ["#FFFFFF", pane.themeHalf.messageColors[0]] : ["#FFFFFF", "#DCF1FF"]
            compact: true
        }

        // Signed out from another device: nothing of the account is left here to show.
        ColumnLayout {
            visible: pane.device.signedOut
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 12
            Item { Layout.fillHeight: true }
            Label {
                Layout.alignment: Qt.AlignHCenter
                text: qsTr("This device is signed out.")
                font.pixelSize: 18
                color: Style.text
            }
            Label {
                Layout.alignment: Qt.AlignHCenter
                Layout.maximumWidth: pane.width - 60
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                text: qsTr("Its settings were removed from this computer. Signing in again reads them from the server.")
                color: Style.secondary
            }
            Button {
                Layout.alignment: Qt.AlignHCenter
                text: qsTr("Sign in again")
                highlighted: true
                onClicked: pane.device.signIn()
            }
            Item { Layout.fillHeight: true }
        }

        StackLayout {
            visible: !pane.device.signedOut
            Layout.fillWidth: true
            Layout.fillHeight: true
            // The page ends above the messages while there are any: nothing hides under them, and
            // nothing on the page moves.
            Layout.bottomMargin: toasts.height > 0 ? toasts.height + 6 : 0
            currentIndex: pane.screens.indexOf(pane.screen)
            PrivacyScreen { device: pane.device; accent: pane.themeAccent }
            DevicesScreen { device: pane.device; accent: pane.themeAccent }
            VerificationScreen { device: pane.device; accent: pane.themeAccent }
            PreferencesScreen { device: pane.device }
            NotificationsScreen { device: pane.device; accent: pane.themeAccent; audio: pane.audio }
            WallpapersScreen { device: pane.device; accent: pane.themeAccent }
            ThemesScreen { device: pane.device; accent: pane.themeAccent; dark: pane.dark }
            EmojiScreen { device: pane.device; accent: pane.themeAccent }
            SoundScreen { device: pane.device; accent: pane.themeAccent; audio: pane.audio; screens: pane.screenInfo }
        }

    }

    // The account's messages, newest first, float over the foot of the pane: nothing on the screen
    // moves or hides when one comes or goes, and each can be dismissed. Failures stand out from
    // tips.
    Column {
        id: toasts
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 14
        spacing: 6
        Repeater {
            model: pane.device.messages.slice(0, 2)
            Rectangle {
                id: message
                required property var modelData
                width: parent.width
                height: 52
                radius: 6
                color: modelData.failure ? "#FDECEC" : "#EAF6EE"
                border.color: modelData.failure ? "#E3A3A3" : "#9FD3B0"
                Label {
                    anchors.left: parent.left
                    anchors.right: dismiss.left
                    anchors.verticalCenter: parent.verticalCenter
                    anchors.leftMargin: 10
                    text: (message.modelData.failure ? "⚠ " : "✓ ") + message.modelData.text
                    color: message.modelData.failure ? "#8A1C1C" : "#1E5631"
                    wrapMode: Text.Wrap
                    maximumLineCount: 2
                    elide: Text.ElideRight
                }
                ToolButton {
                    id: dismiss
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    text: "×"
                    Accessible.name: qsTr("Dismiss")
                    onClicked: pane.device.dismissMessage(message.modelData.id)
                }
            }
        }
    }
}
