import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The preferences this device's database holds, as the server synchronised them.
ColumnLayout {
    id: screen
    property var device
    spacing: 8

    onVisibleChanged: if (visible) device.refreshPreferences()
    Timer {
        interval: 1000
        repeat: true
        running: screen.visible
        onTriggered: device.refreshPreferences()
    }

    RowLayout {
        SectionTitle { text: qsTr("Stored preferences (%1)").arg(device.preferences.count) }
        Item { Layout.fillWidth: true }
        Button { text: qsTr("Refresh"); onClicked: device.refreshPreferences() }
    }
    RowLayout {
        Layout.fillWidth: true
        Layout.leftMargin: 6
        Label { text: qsTr("Key"); color: "#7A8594"; Layout.preferredWidth: 200 }
        Label { text: qsTr("Type"); color: "#7A8594"; Layout.preferredWidth: 50 }
        Label { text: qsTr("Value"); color: "#7A8594"; Layout.fillWidth: true }
    }
    ListView {
        Layout.fillWidth: true
        Layout.fillHeight: true
        clip: true
        model: device.preferences
        delegate: Rectangle {
            width: ListView.view.width
            height: 34
            color: index % 2 ? "#F6F8FA" : "white"
            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 6
                Label { text: key; elide: Text.ElideRight; Layout.preferredWidth: 200; color: "#1F2A37" }
                Label { text: type; Layout.preferredWidth: 50; color: "#5B6675" }
                Label { text: value; elide: Text.ElideRight; Layout.fillWidth: true; color: unapplied ? "#9B5C00" : "#1F2A37" }
            }
        }
    }
}
