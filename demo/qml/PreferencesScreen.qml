pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The preferences this device's database holds, as the server synchronised them.
ScreenPage {
    id: screen
    property var device
    spacing: 8

    onVisibleChanged: if (visible) screen.device.refreshPreferences()
    Timer {
        interval: 1000
        repeat: true
        running: screen.visible
        onTriggered: screen.device.refreshPreferences()
    }

    RowLayout {
        SectionTitle { text: qsTr("Stored preferences (%1)").arg(screen.device.preferences.count) }
        Item { Layout.fillWidth: true }
        Button { text: qsTr("Refresh"); onClicked: screen.device.refreshPreferences() }
    }
    RowLayout {
        Layout.fillWidth: true
        Layout.leftMargin: 6
        Label { text: qsTr("Key"); color: Style.faint; Layout.preferredWidth: 200 }
        Label { text: qsTr("Type"); color: Style.faint; Layout.preferredWidth: 50 }
        Label { text: qsTr("Value"); color: Style.faint; Layout.fillWidth: true }
    }
    ListView {
        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.minimumHeight: 200
        clip: true
        model: screen.device.preferences
        delegate: Rectangle {
            id: row
            required property int index
            required property string key
            required property int type
            required property string value
            required property bool unapplied
            width: ListView.view.width
            height: 34
            color: row.index % 2 ? Style.alternate : Style.base
            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 6
                Label { text: row.key; elide: Text.ElideRight; Layout.preferredWidth: 200; color: Style.text }
                Label { text: row.type; Layout.preferredWidth: 50; color: Style.secondary }
                Label {
                    visible: !editor.visible
                    text: row.value
                    elide: Text.ElideRight
                    Layout.fillWidth: true
                    color: row.unapplied ? Style.warning : Style.text
                }
                // A value is edited in place: Enter writes it through the store (here first, then
                // the server, then the other devices); Escape leaves it.
                TextField {
                    id: editor
                    objectName: "edit_" + row.key
                    visible: false
                    Layout.fillWidth: true
                    onAccepted: {
                        screen.device.writePreference(row.type, row.key, editor.text);
                        editor.visible = false;
                    }
                    Keys.onEscapePressed: editor.visible = false
                }
                ToolButton {
                    objectName: "editButton_" + row.key
                    text: "✎"
                    Accessible.name: qsTr("Edit %1").arg(row.key)
                    onClicked: {
                        editor.text = row.value;
                        editor.visible = true;
                        editor.forceActiveFocus();
                    }
                }
            }
        }
    }
}
