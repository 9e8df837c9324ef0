import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A switch whose value changes only when the server acknowledges it: a toggle sends the
// change and snaps back to the acknowledged value until the answer arrives.
RowLayout {
    id: row
    property string text
    property string hint
    property bool value
    property bool busy
    signal requested(bool on)
    Layout.fillWidth: true

    ColumnLayout {
        spacing: 0
        Layout.fillWidth: true
        Label { text: row.text; color: Style.text; font.pixelSize: 14 }
        Label { text: row.hint; color: Style.faint; font.pixelSize: 11; visible: row.hint.length > 0 }
    }
    Item { Layout.fillWidth: true }
    Switch {
        id: toggle
        objectName: "switch_" + row.text
        checked: row.value
        enabled: !row.busy
        onToggled: {
            row.requested(checked)
            checked = Qt.binding(function() { return row.value })
        }
    }
}
