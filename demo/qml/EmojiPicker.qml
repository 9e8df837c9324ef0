pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls

// Picks one emoji of the host's emoji table (the names themes take); the names the theme handler
// refuses (another theme has them) are shown but not offered, except the one the theme has.
Popup {
    id: picker
    property var table: []
    property var themes
    property string ownName
    // Every emoji may be picked (not a theme's name).
    property bool anyEmoji: false
    signal picked(string emoji)
    width: 330
    height: 300
    modal: true
    focus: true
    margins: 8
    padding: 6

    GridView {
        id: grid
        anchors.fill: parent
        clip: true
        cellWidth: 40
        cellHeight: 40
        model: picker.table
        ScrollBar.vertical: ScrollBar {}
        delegate: ToolButton {
            id: cell
            required property string modelData
            required property int index
            objectName: "emoji_" + cell.index
            width: 38
            height: 38
            text: cell.modelData
            font.pixelSize: 22
            enabled: picker.anyEmoji || cell.modelData === picker.ownName || !picker.themes.inValidThemeName(cell.modelData)
            onClicked: {
                picker.picked(cell.modelData);
                picker.close();
            }
        }
    }
}
