pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "directory.js" as Directory

// One privacy rule: its audience, the exceptions that mean something under that audience, and its
// special people. Every edit is a request; the lists show what the server acknowledged.
ColumnLayout {
    id: editor
    property var device
    property var rule
    property color accent
    property string title
    property string hint
    readonly property var audiences: [{ value: 0, text: qsTr("Everybody") }, { value: 1, text: qsTr("My contacts") },
                                      { value: 3, text: qsTr("My contacts and groups") },
                                      { value: 4, text: qsTr("People not in my contacts") }, { value: 2, text: qsTr("Nobody") }]
    // Under "everybody" an "always" list would change nothing (and the module empties it, as under
    // "contacts and groups"); under "nobody" a "never" list would change nothing.
    readonly property bool offersNever: editor.rule.rule !== 2
    readonly property bool offersAlways: editor.rule.rule !== 0 && editor.rule.rule !== 3
    spacing: 4
    Layout.fillWidth: true

    SectionTitle { text: editor.title }
    Label {
        visible: editor.hint.length > 0
        text: editor.hint
        color: Style.faint
        font.pixelSize: 11
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    Flow {
        Layout.fillWidth: true
        spacing: 2
        Repeater {
            model: editor.audiences
            RadioButton {
                required property var modelData
                objectName: editor.objectName + "_rule_" + modelData.value
                text: modelData.text
                checked: editor.rule.rule === modelData.value
                onClicked: {
                    editor.rule.changeRule(modelData.value);
                    checked = Qt.binding(() => editor.rule.rule === modelData.value);
                }
            }
        }
    }

    component Picked: ColumnLayout {
        id: list
        property string title
        property string kind
        property var users
        property var groups: null
        property var tags: []
        property var entries
        property color tint
        signal add(var entry)
        signal remove(var entry)
        readonly property var chosen: {
            const keys = [];
            if (list.users.count >= 0)
                list.users.userIds().forEach(id => keys.push("u" + id));
            if (list.groups && list.groups.count >= 0)
                list.groups.groupIds().forEach(id => keys.push("g" + id));
            list.tags.forEach(tag => keys.push("t" + tag.id));
            return keys;
        }
        Layout.fillWidth: true
        spacing: 4
        RowLayout {
            Layout.fillWidth: true
            Label { text: list.title + " (" + list.chosen.length + ")"; color: Style.text }
            Item { Layout.fillWidth: true }
            Button {
                id: addButton
                objectName: editor.objectName + "_add" + list.kind
                text: qsTr("Add…")
                onClicked: picker.open()
                DirectoryPicker {
                    id: picker
                    objectName: editor.objectName + "_picker" + list.kind
                    x: addButton.width - width
                    y: addButton.height
                    entries: list.entries
                    excluded: list.chosen
                    onPicked: entry => list.add(entry)
                }
            }
        }
        Flow {
            Layout.fillWidth: true
            spacing: 6
            Label { visible: list.chosen.length === 0; text: qsTr("no one"); color: Style.faint }
            Repeater {
                model: list.users
                Chip {
                    required property var itemModel
                    objectName: editor.objectName + "_" + list.kind + "_u" + itemModel.userId
                    tint: list.tint
                    label: itemModel.name
                    onRemoved: list.remove({ type: "person", id: itemModel.userId })
                }
            }
            Repeater {
                model: list.groups
                Chip {
                    required property var itemModel
                    objectName: editor.objectName + "_" + list.kind + "_g" + itemModel.groupId
                    tint: list.tint
                    label: qsTr("%1 (group)").arg(itemModel.name)
                    onRemoved: list.remove({ type: "group", id: itemModel.groupId })
                }
            }
            Repeater {
                model: list.tags
                Chip {
                    required property var modelData
                    tint: list.tint
                    label: qsTr("chats tagged %1").arg(modelData.name)
                    onRemoved: list.remove({ type: "tag", id: modelData.id })
                }
            }
        }
    }

    Picked {
        visible: editor.offersNever
        kind: "Never"
        title: qsTr("Never share with")
        tint: "#FDECEC"
        users: editor.rule.blacklist
        groups: editor.rule.groupBlacklist
        tags: editor.rule.dialogBlackTags
        entries: Directory.people(editor.device).concat(Directory.groups(editor.device), Directory.tags(editor.device))
        onAdd: entry => editor.rule.addBlacks(entry.type === "person" ? [entry.id] : [], entry.type === "group" ? [entry.id] : [],
                                              entry.type === "tag" ? [{ id: entry.id, name: entry.name }] : [])
        onRemove: entry => entry.type === "tag" ? editor.rule.removeTagBlack(entry.id) : editor.rule.removeBlack(entry.id, entry.type === "group")
    }
    Picked {
        visible: editor.offersAlways
        kind: "Always"
        title: qsTr("Always share with")
        tint: "#E6F4EA"
        users: editor.rule.whitelist
        groups: editor.rule.groupWhitelist
        tags: editor.rule.dialogWhiteTags
        entries: Directory.people(editor.device).concat(Directory.groups(editor.device), Directory.tags(editor.device))
        onAdd: entry => editor.rule.addWhites(entry.type === "person" ? [entry.id] : [], entry.type === "group" ? [entry.id] : [],
                                              entry.type === "tag" ? [{ id: entry.id, name: entry.name }] : [])
        onRemove: entry => entry.type === "tag" ? editor.rule.removeTagWhite(entry.id) : editor.rule.removeWhite(entry.id, entry.type === "group")
    }
    Picked {
        kind: "Special"
        title: qsTr("Special people (a list of its own, kept with the rule)")
        tint: "#EEF1F5"
        users: editor.rule.specialList
        entries: Directory.people(editor.device)
        onAdd: entry => editor.rule.addSpecials([entry.id])
        onRemove: entry => editor.rule.removeSpecials([entry.id])
    }
}
