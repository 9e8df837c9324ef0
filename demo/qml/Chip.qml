import QtQuick
import QtQuick.Controls

// A chosen person, group, chat or tag, with a button that takes it away.
Rectangle {
    id: chip
    property string label
    property color tint: "#E6F4EA"
    signal removed()
    radius: 13
    color: chip.tint
    implicitWidth: chipText.implicitWidth + 38
    implicitHeight: 26
    Label {
        id: chipText
        anchors.verticalCenter: parent.verticalCenter
        x: 10
        text: chip.label
        color: Style.text
    }
    ToolButton {
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        implicitWidth: 24
        implicitHeight: 24
        text: "×"
        Accessible.name: qsTr("Remove %1").arg(chip.label)
        onClicked: chip.removed()
    }
}
