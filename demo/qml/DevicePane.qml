import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One device: its header (network, clock, messages) and the chosen settings screen.
Rectangle {
    id: pane
    property var device
    property string screen
    property color accent
    // The machine's device objects, the same for both devices.
    property var audio
    property var screenInfo
    readonly property var screens: ["privacy", "devices", "verification", "preferences", "notifications", "wallpapers", "themes", "emoji", "sound"]
    radius: 10
    color: "white"
    border.color: "#D5DCE4"

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 14
        spacing: 10

        RowLayout {
            Layout.fillWidth: true
            Rectangle { width: 12; height: 12; radius: 6; color: pane.device.online ? pane.accent : "#B0B8C2" }
            Label {
                text: qsTr("Device %1").arg(pane.device.name)
                font.pixelSize: 18
                font.bold: true
                color: "#1F2A37"
            }
            Label {
                text: pane.device.ready ? qsTr("synchronised") : qsTr("loading…")
                color: "#5B6675"
            }
            Item { Layout.fillWidth: true }
            Label { text: qsTr("Online"); color: "#5B6675" }
            Switch {
                checked: pane.device.online
                onToggled: pane.device.online = checked
            }
        }

        // The account's message channel carries tips ("Ringtone saved.") as well as failures,
        // without telling them apart, so the box is neutral.
        Rectangle {
            Layout.fillWidth: true
            visible: pane.device.errors.length > 0
            implicitHeight: messages.implicitHeight + 16
            radius: 6
            color: "#EEF2F8"
            border.color: "#C9D3E3"
            ColumnLayout {
                id: messages
                anchors.fill: parent
                anchors.margins: 8
                Repeater {
                    model: pane.device.errors.slice(-3)
                    Label {
                        required property string modelData
                        text: modelData
                        color: "#1F2937"
                        wrapMode: Text.Wrap
                        Layout.fillWidth: true
                    }
                }
            }
        }

        StackLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: pane.screens.indexOf(pane.screen)
            PrivacyScreen { device: pane.device; accent: pane.accent }
            DevicesScreen { device: pane.device; accent: pane.accent }
            VerificationScreen { device: pane.device; accent: pane.accent }
            PreferencesScreen { device: pane.device }
            NotificationsScreen { device: pane.device; accent: pane.accent }
            WallpapersScreen { device: pane.device; accent: pane.accent }
            ThemesScreen { device: pane.device; accent: pane.accent }
            EmojiScreen { device: pane.device; accent: pane.accent }
            SoundScreen { device: pane.device; accent: pane.accent; audio: pane.audio; screens: pane.screenInfo }
        }
    }
}
