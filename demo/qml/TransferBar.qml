import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// How a file's upload or download goes, as the file services report it: waiting, a bar while
// bytes move, or why it stopped. Shows nothing while no transfer is under way.
ColumnLayout {
    id: bar
    // A file record (FileData): its transferState and progress.
    property var file: null
    readonly property int state: bar.file ? bar.file.transferState : 0
    visible: bar.state !== 0
    spacing: 1

    // Drawn here rather than the style's ProgressBar, whose scene-graph nodes Qt 6.4 leaves
    // behind at exit.
    Rectangle {
        Layout.fillWidth: true
        implicitHeight: 5
        radius: 2
        visible: bar.state === 1 || bar.state === 2
        color: Style.border
        Rectangle {
            width: parent.width * (bar.file ? bar.file.progress : 0)
            height: parent.height
            radius: 2
            color: bar.palette.highlight
        }
    }
    Label {
        Layout.fillWidth: true
        elide: Text.ElideRight
        font.pixelSize: 10
        color: bar.state >= 3 ? Style.failure : Style.faint
        text: bar.state === 1 ? qsTr("waiting…")
            : bar.state === 2 ? qsTr("%1%").arg(Math.round((bar.file ? bar.file.progress : 0) * 100))
            : bar.state === 3 ? qsTr("stopped: will try again")
            : bar.state === 4 ? qsTr("failed") : ""
    }
}
