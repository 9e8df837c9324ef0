import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A screen as a scrolling page: its column gets at least the visible height (so lists can fill
// it) and scrolls when it needs more, so that every control stays reachable at 1280x720. A plain
// flickable: the page's size never depends on whether a scroll bar shows.
Item {
    id: page
    default property alias content: column.data
    property alias spacing: column.spacing

    Flickable {
        id: scroller
        anchors.fill: parent
        contentWidth: width
        contentHeight: holder.height
        flickableDirection: Flickable.VerticalFlick
        boundsBehavior: Flickable.StopAtBounds
        clip: true
        ScrollBar.vertical: ScrollBar {}

        Item {
            id: holder
            width: scroller.width
            height: Math.max(scroller.height, column.implicitHeight)
            ColumnLayout {
                id: column
                anchors.fill: parent
                // Room for the scroll bar beside the controls, not over them.
                anchors.rightMargin: 12
                spacing: 8
            }
        }
    }
}
