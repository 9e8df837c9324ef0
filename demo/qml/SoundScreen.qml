pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// This computer's sound output for notification sounds, with a test, and its screens. Both are
// the machine's, not the account's: both devices' windows show the same choice.
ScreenPage {
    id: screen
    property var device
    property color accent
    property var audio
    property var screens
    // Read again on "Refresh" and whenever a screen comes or goes.
    property var outputs: []
    property int screenCount: 0
    spacing: 8

    function refresh() {
        screen.audio.refreshAudioOutputDevice();
        screen.outputs = screen.audio.availableOutputDevices();
        screen.screenCount = 0;
        screen.screenCount = screen.screens.screenCount();
    }

    Component.onCompleted: {
        screen.screens.init();
        screen.refresh();
    }

    Connections {
        target: screen.screens
        function onScreenAdded() { screen.refresh(); }
        function onScreenRemoved() { screen.refresh(); }
    }

    RowLayout {
        SectionTitle { text: qsTr("Notification sounds play on") }
        Item { Layout.fillWidth: true }
        Button { text: qsTr("Refresh"); onClicked: screen.refresh() }
    }
    RowLayout {
        Layout.fillWidth: true
        visible: screen.outputs.length > 0
        ComboBox {
            id: outputChoice
            objectName: "outputChoice"
            Layout.fillWidth: true
            model: screen.outputs
            currentIndex: screen.outputs.indexOf(screen.audio.defaultOutputDeviceName)
            displayText: currentIndex < 0 ? qsTr("Choose an output") : currentText
            onActivated: screen.audio.defaultOutputDeviceName = currentText
        }
        Button {
            text: qsTr("Play a test sound")
            enabled: outputChoice.currentIndex >= 0
            onClicked: screen.audio.test(outputChoice.currentText)
        }
    }
    Label {
        Layout.fillWidth: true
        wrapMode: Text.Wrap
        color: "#5B6675"
        text: screen.outputs.length === 0
              ? qsTr("This computer has no audio outputs (no sound server answers).")
              : screen.outputs.indexOf(screen.audio.defaultOutputDeviceName) < 0
                ? qsTr("The chosen output “%1” is not connected.").arg(screen.audio.defaultOutputDeviceName)
                : (screen.outputs.length === 1 ? qsTr("One output.") : qsTr("%1 outputs.").arg(screen.outputs.length))
                  + " " + qsTr("The choice is this computer's, shared by every account.")
    }

    SectionTitle { text: qsTr("Screens (%1)").arg(screen.screenCount) }
    ListView {
        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.minimumHeight: 200
        clip: true
        spacing: 6
        model: screen.screenCount
        delegate: Rectangle {
            id: row
            required property int index
            readonly property var info: screen.screens.screenInfoAt(index)
            width: ListView.view.width
            implicitHeight: rowText.implicitHeight + 16
            radius: 6
            color: "#F1F4F8"
            Label {
                id: rowText
                anchors.fill: parent
                anchors.margins: 8
                wrapMode: Text.Wrap
                text: qsTr("Screen %1: %2 × %3 at (%4, %5), pixel ratio %6 — id %7")
                      .arg(row.index + 1).arg(row.info.geometry.width).arg(row.info.geometry.height)
                      .arg(row.info.geometry.x).arg(row.info.geometry.y).arg(row.info.dpr)
                      .arg(row.info.serialNumber)
            }
        }
    }
}
