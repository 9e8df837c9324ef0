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

    ProgressBar {
        Layout.fillWidth: true
        visible: bar.state === 1 || bar.state === 2
        indeterminate: bar.state === 1
        value: bar.file ? bar.file.progress : 0
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
