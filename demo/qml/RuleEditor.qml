import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One privacy rule: its audience and its exception lists. Every edit is a request; the lists
// show what the server acknowledged.
ColumnLayout {
    id: editor
    property var device
    property var rule
    property color accent
    readonly property var people: [{ id: 101, name: "Alice Wong" }, { id: 102, name: "Bruno Diaz" },
                                   { id: 103, name: "Chen Li" }, { id: 104, name: "Dana Okafor" },
                                   { id: 105, name: "Emil Novak" }]
    spacing: 4

    RowLayout {
        Repeater {
            model: [qsTr("Everybody"), qsTr("My contacts"), qsTr("Nobody")]
            RadioButton {
                objectName: "rule_" + index
                text: modelData
                checked: editor.rule.rule === index
                onClicked: {
                    editor.rule.changeRule(index)
                    checked = Qt.binding(function() { return editor.rule.rule === index })
                }
            }
        }
    }

    component ExceptionList: ColumnLayout {
        id: list
        property string title
        property var items
        property bool black
        Layout.fillWidth: true
        RowLayout {
            Label { text: list.title + " (" + list.items.count + ")"; color: "#1F2A37" }
            Item { Layout.fillWidth: true }
            ComboBox {
                id: picker
                objectName: list.black ? "blackPicker" : "whitePicker"
                model: editor.people
                textRole: "name"
                implicitWidth: 160
            }
            Button {
                objectName: list.black ? "addBlack" : "addWhite"
                text: qsTr("Add")
                onClicked: {
                    var id = editor.people[picker.currentIndex].id
                    if (list.black)
                        editor.rule.addBlacks([id], [], [])
                    else
                        editor.rule.addWhites([id], [], [])
                }
            }
        }
        Flow {
            Layout.fillWidth: true
            spacing: 6
            Repeater {
                model: list.items
                Rectangle {
                    radius: 12
                    color: list.black ? "#FDECEC" : "#E6F4EA"
                    implicitWidth: chip.implicitWidth + 36
                    implicitHeight: 26
                    Label {
                        id: chip
                        anchors.verticalCenter: parent.verticalCenter
                        x: 10
                        text: itemModel.name
                        color: "#1F2A37"
                    }
                    ToolButton {
                        anchors.right: parent.right
                        anchors.verticalCenter: parent.verticalCenter
                        implicitWidth: 24
                        implicitHeight: 24
                        text: "×"
                        onClicked: list.black ? editor.rule.removeBlack(itemModel.userId, false)
                                              : editor.rule.removeWhite(itemModel.userId, false)
                    }
                }
            }
        }
    }

    ExceptionList { title: qsTr("Never share with"); items: editor.rule.blacklist; black: true }
    ExceptionList { title: qsTr("Always share with"); items: editor.rule.whitelist; black: false }
}
