import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Window {
    id: window
    width: 1440
    height: 900
    visible: true
    title: qsTr("Settings — two devices of one user")
    color: "#E9EDF2"
    // One accent for every control: switches on, tabs, selection.
    palette.dark: "#3A66C4"
    palette.mid: "#C9D3DF"
    palette.button: "#EEF1F5"
    palette.buttonText: "#1F2A37"
    palette.brightText: "white"
    palette.window: "white"
    palette.windowText: "#1F2A37"
    palette.base: "white"
    palette.text: "#1F2A37"
    palette.highlight: "#3A66C4"
    required property var deviceA
    required property var deviceB
    // The application's settings: dark mode is one for both devices.
    required property var appSettings
    readonly property var screens: ["privacy", "devices", "verification", "preferences", "notifications", "wallpapers", "themes", "emoji", "sound"]
    // The module publishes the machine's audio and screen objects to the context by name.
    // qmllint disable unqualified
    readonly property var audio: AudioManage
    readonly property var screenInfo: ScreenManage
    // qmllint enable unqualified

    Item {
        id: root
        anchors.fill: parent
        property string screen: "privacy"

        ColumnLayout {
            anchors.fill: parent
            anchors.margins: 16
            spacing: 12

            RowLayout {
                Layout.fillWidth: true
                Label {
                    text: qsTr("Settings")
                    font.pixelSize: 24
                    font.bold: true
                    color: "#1F2A37"
                }
                Label {
                    text: qsTr("two devices of one user, one simulated server")
                    color: "#5B6675"
                    Layout.leftMargin: 12
                    Layout.alignment: Qt.AlignBottom
                }
                Item { Layout.fillWidth: true }
                Label { text: qsTr("Dark mode"); color: "#5B6675"; visible: root.screen === "wallpapers" }
                Switch {
                    visible: root.screen === "wallpapers"
                    checked: window.appSettings.darkMode
                    onToggled: window.appSettings.darkMode = checked
                }
            }
            // The screens, on a row of their own: there are more of them than fit beside the title.
            RowLayout {
                Layout.fillWidth: true
                Item { Layout.fillWidth: true }
                TabBar {
                    id: tabs
                    currentIndex: window.screens.indexOf(root.screen)
                    onCurrentIndexChanged: root.screen = window.screens[currentIndex]
                    TabButton { text: qsTr("Privacy"); width: implicitWidth + 24 }
                    TabButton { text: qsTr("Devices"); width: implicitWidth + 24 }
                    TabButton { text: qsTr("Two-step verification"); width: implicitWidth + 24 }
                    TabButton { text: qsTr("Synced preferences"); width: implicitWidth + 24 }
                    TabButton { text: qsTr("Notifications"); width: implicitWidth + 24 }
                    TabButton { text: qsTr("Wallpapers"); width: implicitWidth + 24 }
                    TabButton { text: qsTr("Themes"); width: implicitWidth + 24 }
                    TabButton { text: qsTr("Emoji and photos"); width: implicitWidth + 24 }
                    TabButton { text: qsTr("Sound and screens"); width: implicitWidth + 24 }
                }
            }

            RowLayout {
                Layout.fillWidth: true
                Layout.fillHeight: true
                spacing: 16
                DevicePane { device: window.deviceA; audio: window.audio; screenInfo: window.screenInfo; screen: root.screen; accent: "#2F6FEB"; Layout.fillWidth: true; Layout.fillHeight: true }
                DevicePane { device: window.deviceB; audio: window.audio; screenInfo: window.screenInfo; screen: root.screen; accent: "#1E9E6A"; Layout.fillWidth: true; Layout.fillHeight: true }
            }
        }
    }
}
