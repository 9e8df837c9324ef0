pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import SettingModel

Window {
    id: window
    width: 1280
    height: 720
    minimumWidth: 1280
    minimumHeight: 720
    visible: true
    title: window.deviceB ? qsTr("Settings — two devices of one user, one simulated server")
                          : qsTr("Settings — device %1 of %2").arg(window.deviceA.name).arg(window.serverName)
    color: Style.window
    // One accent for every control: switches on, tabs, selection; the rest follows the app's mode.
    palette.dark: "#3A66C4"
    palette.mid: Style.dark ? "#3A4656" : "#C9D3DF"
    palette.button: Style.button
    palette.buttonText: Style.text
    palette.brightText: "white"
    palette.window: Style.base
    palette.windowText: Style.text
    palette.base: Style.base
    palette.text: Style.text
    palette.highlight: "#3A66C4"
    palette.light: Style.dark ? "#2A3441" : "white"
    palette.midlight: Style.dark ? "#2F3A48" : "#E4E9EF"
    palette.placeholderText: Style.faint
    required property var deviceA
    // Null when the demo is one device of a server process (named by serverName).
    required property var deviceB
    property string serverName
    // The application's settings: dark mode is one for both devices.
    required property var appSettings
    Binding {
        target: Style
        property: "dark"
        value: window.appSettings.darkMode
    }
    readonly property var screens: ["privacy", "devices", "verification", "preferences", "notifications", "wallpapers", "themes", "emoji", "sound"]
    // The machine's audio and screen objects, the module's singletons.
    readonly property AudioManage audio: AudioManage
    readonly property ScreenManage screenInfo: ScreenManage

    Item {
        id: root
        anchors.fill: parent
        property string screen: "privacy"

        ColumnLayout {
            anchors.fill: parent
            anchors.margins: 12
            spacing: 12

            // The title, the screens and the application's dark mode on one row, so that the
            // devices keep the height of a small window.
            RowLayout {
                Layout.fillWidth: true
                spacing: 12
                Label {
                    text: qsTr("Settings")
                    font.pixelSize: 22
                    font.bold: true
                    color: Style.text
                }
                TabBar {
                    id: tabs
                    currentIndex: window.screens.indexOf(root.screen)
                    onCurrentIndexChanged: root.screen = window.screens[currentIndex]
                    Repeater {
                        model: [qsTr("Privacy"), qsTr("Devices"), qsTr("Verification"), qsTr("Preferences"), qsTr("Notifications"),
                                qsTr("Wallpapers"), qsTr("Themes"), qsTr("Emoji & photos"), qsTr("Sound & screens")]
                        TabButton {
                            required property string modelData
                            text: modelData.replace("&", "&&")
                            width: implicitWidth + 14
                        }
                    }
                }
                Item { Layout.fillWidth: true }
                Label { text: qsTr("Dark"); color: Style.secondary }
                Switch {
                    objectName: "darkMode"
                    checked: window.appSettings.darkMode
                    onToggled: window.appSettings.darkMode = checked
                }
            }

            RowLayout {
                Layout.fillWidth: true
                Layout.fillHeight: true
                spacing: 16
                DevicePane { device: window.deviceA; dark: window.appSettings.darkMode; audio: window.audio; screenInfo: window.screenInfo; screen: root.screen; accent: "#2F6FEB"; Layout.fillWidth: true; Layout.fillHeight: true }
                // No second pane for one device of a server process; deviceB never changes.
                Repeater {
                    model: window.deviceB ? [window.deviceB] : []
                    DevicePane { device: window.deviceB; dark: window.appSettings.darkMode; audio: window.audio; screenInfo: window.screenInfo; screen: root.screen; accent: "#1E9E6A"; Layout.fillWidth: true; Layout.fillHeight: true }
                }
            }
        }
    }
}
