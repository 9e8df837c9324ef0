pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Picks one entry of the directory by name, with a search: the people, groups, chats or tags a
// setting applies to. Each entry is a map with "key", "name" and a "kind" shown beside the name;
// entries whose key is in `excluded` are already chosen and are left out.
Popup {
    id: picker
    property var entries: []
    property var excluded: []
    property string emptyText: qsTr("Everyone is already chosen.")
    signal picked(var entry)
    readonly property var shown: picker.entries.filter(entry => picker.excluded.indexOf(entry.key) < 0
                                                       && entry.name.toLowerCase().indexOf(search.text.toLowerCase()) >= 0)

    function choose(entry) {
        picker.picked(entry);
        picker.close();
    }

    width: 300
    height: 340
    modal: true
    focus: true
    padding: 8
    // Inside the window, even when opened from the foot of a page.
    margins: 8
    onOpened: {
        search.text = "";
        search.forceActiveFocus();
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 6
        TextField {
            id: search
            objectName: "pickerSearch"
            Layout.fillWidth: true
            placeholderText: qsTr("Search by name")
            // Enter takes the first match, so a name typed in full is enough.
            onAccepted: if (picker.shown.length > 0) picker.choose(picker.shown[0])
        }
        ListView {
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: picker.shown
            ScrollBar.vertical: ScrollBar {}
            delegate: ItemDelegate {
                id: row
                required property var modelData
                objectName: "pick_" + row.modelData.key
                width: ListView.view.width
                contentItem: RowLayout {
                    Label { text: row.modelData.name; color: Style.text; elide: Text.ElideRight; Layout.fillWidth: true }
                    Label { text: row.modelData.kind; color: Style.faint; font.pixelSize: 11 }
                }
                onClicked: picker.choose(row.modelData)
            }
        }
        Label {
            visible: picker.shown.length === 0
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            color: Style.faint
            text: search.text.length > 0 ? qsTr("Nothing is called “%1”.").arg(search.text) : picker.emptyText
        }
    }
}
