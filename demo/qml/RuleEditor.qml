pragma ComponentBehavior: Bound

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
    // Whom the pickers offer: people and groups the account knows.
    readonly property var people: [{ id: 101, name: "Alice Wong", group: false }, { id: 102, name: "Bruno Diaz", group: false },
                                   { id: 103, name: "Chen Li", group: false }, { id: 104, name: "Dana Okafor", group: false },
                                   { id: 105, name: "Emil Novak", group: false }, { id: 201, name: "Family (group)", group: true },
                                   { id: 202, name: "Book club (group)", group: true }]
    spacing: 4

    RowLayout {
        Repeater {
            model: [qsTr("Everybody"), qsTr("My contacts"), qsTr("Nobody")]
            RadioButton {
                required property string modelData
                required property int index
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

    component Chip: Rectangle {
        id: chip
        property string label
        property bool black
        signal removed()
        radius: 12
        color: chip.black ? "#FDECEC" : "#E6F4EA"
        implicitWidth: chipText.implicitWidth + 36
        implicitHeight: 26
        Label {
            id: chipText
            anchors.verticalCenter: parent.verticalCenter
            x: 10
            text: chip.label
            color: "#1F2A37"
        }
        ToolButton {
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            implicitWidth: 24
            implicitHeight: 24
            text: "×"
            onClicked: chip.removed()
        }
    }
    component ExceptionList: ColumnLayout {
        id: list
        property string title
        property var items
        property var groupItems
        property bool black
        Layout.fillWidth: true
        RowLayout {
            Label { text: list.title + " (" + (list.items.count + list.groupItems.count) + ")"; color: "#1F2A37" }
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
                    var chosen = editor.people[picker.currentIndex]
                    var users = chosen.group ? [] : [chosen.id]
                    var groups = chosen.group ? [chosen.id] : []
                    if (list.black)
                        editor.rule.addBlacks(users, groups, [])
                    else
                        editor.rule.addWhites(users, groups, [])
                }
            }
        }
        Flow {
            Layout.fillWidth: true
            spacing: 6
            Repeater {
                model: list.items
                Chip {
                    required property var itemModel
                    black: list.black
                    label: itemModel.name
                    onRemoved: list.black ? editor.rule.removeBlack(itemModel.userId, false)
                                          : editor.rule.removeWhite(itemModel.userId, false)
                }
            }
            Repeater {
                model: list.groupItems
                Chip {
                    required property var itemModel
                    black: list.black
                    label: itemModel.name + qsTr(" (group)")
                    onRemoved: list.black ? editor.rule.removeBlack(itemModel.groupId, true)
                                          : editor.rule.removeWhite(itemModel.groupId, true)
                }
            }
        }
    }

    ExceptionList { title: qsTr("Never share with"); items: editor.rule.blacklist; groupItems: editor.rule.groupBlacklist; black: true }
    ExceptionList { title: qsTr("Always share with"); items: editor.rule.whitelist; groupItems: editor.rule.groupWhitelist; black: false }
}
