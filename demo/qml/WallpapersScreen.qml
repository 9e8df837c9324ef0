pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import "files.js" as Files

// The chat wallpapers in list order: the user's own images, the server's presets and patterns.
// New ones come from an image file; unsynced ones are marked until the server has them.
ScreenPage {
    id: screen
    property var device
    property color accent
    readonly property var wallpapers: screen.device.wallpaperHandler
    readonly property var list: screen.wallpapers.wallpaperModel
    property bool patternsOnly: false
    spacing: 8

    // The copy on this device: the account's cached one, else where it was picked from.
    RowLayout {
        Layout.fillWidth: true
        SectionTitle {
            text: qsTr("Wallpapers (%1)").arg(screen.list.count)
        }
        Label {
            visible: screen.list.upToLimite
            text: qsTr("— the limit of your own is reached")
            color: "#9B1C1C"
        }
        Item { Layout.fillWidth: true }
        CheckBox {
            text: qsTr("Patterns only")
            checked: screen.patternsOnly
            onToggled: screen.patternsOnly = checked
        }
        Button {
            text: screen.wallpapers.loading ? qsTr("Preparing…") : qsTr("Add an image…")
            enabled: !screen.wallpapers.loading && !screen.list.upToLimite
            onClicked: picker.open()
        }
        Button {
            text: qsTr("Reset")
            onClicked: resetAsk.open()
        }
    }
    FileDialog {
        id: picker
        objectName: "wallpaperPicker"
        title: qsTr("Choose an image")
        nameFilters: [qsTr("Images (*.jpg *.jpeg *.png *.bmp *.webp)")]
        onAccepted: screen.wallpapers.add(decodeURIComponent(String(picker.selectedFile).replace(/^file:\/\//, "")))
    }

    GridView {
        id: grid
        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.minimumHeight: 200
        clip: true
        cellWidth: 118
        cellHeight: 186
        model: screen.patternsOnly ? screen.wallpapers.patternModel : screen.list
        delegate: Item {
            id: cell
            required property var itemModel
            readonly property var colors: cell.itemModel.bgColors.length > 0 ? cell.itemModel.bgColors : ["#DDE3EA"]
            width: grid.cellWidth
            height: grid.cellHeight

            Rectangle {
                id: frame
                anchors.fill: parent
                anchors.margins: 5
                radius: 8
                clip: true
                border.color: cell.itemModel.uploadFailed ? "#C0392B" : cell.itemModel.unsynced ? "#E08A1E" : "#D5DCE4"
                border.width: cell.itemModel.unsynced ? 2 : 1
                gradient: Gradient {
                    GradientStop { position: 0; color: cell.colors[0] }
                    GradientStop { position: 1; color: cell.colors[cell.colors.length - 1] }
                }
                // A pattern is drawn over the colours; any other wallpaper is its picture.
                Image {
                    anchors.fill: parent
                    anchors.margins: 1
                    fillMode: Image.PreserveAspectCrop
                    asynchronous: true
                    sourceSize.width: 220
                    opacity: cell.itemModel.hasPattern ? 0.9 : 1
                    source: cell.itemModel.hasPattern ? Files.fileUrl(cell.itemModel.hiPhoto)
                                                      : (Files.fileUrl(cell.itemModel.loPhoto) || Files.fileUrl(cell.itemModel.hiPhoto))
                }
                Rectangle {
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.bottom: parent.bottom
                    height: 26
                    color: "#B3FFFFFF"
                    Label {
                        anchors.centerIn: parent
                        font.pixelSize: 11
                        color: cell.itemModel.uploadFailed ? "#8A1C1C" : cell.itemModel.unsynced ? "#B45309" : "#1F2A37"
                        text: cell.itemModel.uploadFailed ? qsTr("upload failed")
                                                          : cell.itemModel.unsynced ? qsTr("uploading…")
                                                          : cell.itemModel.isOwner ? qsTr("yours")
                                                          : cell.itemModel.hasPattern ? qsTr("pattern")
                                                          : cell.itemModel.isDark ? qsTr("preset, dark") : qsTr("preset")
                    }
                }
                ToolButton {
                    anchors.top: parent.top
                    anchors.right: parent.right
                    visible: cell.itemModel.isOwner
                    text: "×"
                    onClicked: screen.wallpapers.deleteWallpaper(cell.itemModel.wallpaperId)
                }
            }
        }
    }

    ConfirmDialog {
        id: resetAsk
        objectName: "wallpaperResetAsk"
        title: qsTr("Reset wallpapers")
        text: qsTr("Remove all your own wallpapers, on every device, and bring back the server's?")
        actionText: qsTr("Reset")
        onConfirmed: screen.wallpapers.resetWallpaper()
    }
}
