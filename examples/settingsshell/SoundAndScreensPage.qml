pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import SettingModel

// The machine's audio output for notification sounds, with a test, and its screens.
Item {
    id: window

    readonly property int screensListed: screenList.count
    // The module's two process-wide objects, as the QML module's singletons.
    readonly property AudioManage audio: AudioManage
    readonly property ScreenManage screens: ScreenManage

    // Rows are read again whenever a screen comes or goes: indices move.
    function refreshScreens() {
        screenList.model = 0
        screenList.model = screens.screenCount()
    }

    Component.onCompleted: {
        screens.init()
        audio.refreshAudioOutputDevice()
        refreshScreens()
    }

    Connections {
        function onScreenAdded() { window.refreshScreens() }
        function onScreenRemoved() { window.refreshScreens() }

        target: window.screens
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 16
        spacing: 12

        Label {
            text: qsTr("Notification sounds play on")
            font.bold: true
        }
        RowLayout {
            ComboBox {
                id: outputs

                Layout.fillWidth: true
                model: window.audio.availableOutputDevices()
                currentIndex: model.indexOf(window.audio.defaultOutputDeviceName)
                displayText: currentIndex < 0 ? qsTr("No output") : currentText
                onActivated: window.audio.defaultOutputDeviceName = currentText
            }
            Button {
                text: qsTr("Test")
                enabled: outputs.currentIndex >= 0
                onClicked: window.audio.test(outputs.currentText)
            }
        }

        Label {
            text: qsTr("Screens")
            font.bold: true
        }
        ListView {
            id: screenList

            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            delegate: Label {
                required property int index
                readonly property var info: window.screens.screenInfoAt(index)

                text: qsTr("%1: %2 x %3 at %4, %5 (ratio %6)").arg(index + 1)
                    .arg(info.geometry.width).arg(info.geometry.height)
                    .arg(info.geometry.x).arg(info.geometry.y).arg(info.dpr)
            }
        }
    }
}
