pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import "directory.js" as Directory
import "looks.js" as Looks

// The chat wallpapers in list order: the user's own pictures, the server's presets and patterns,
// each by a name a person recognises. A click opens it full size with its settings, to use in
// the app or in a chat. New ones come from an image file; unsynced ones are marked until the
// server has them.
ScreenPage {
    id: screen
    property var device
    property color accent
    readonly property var wallpapers: screen.device.wallpaperHandler
    readonly property var list: screen.wallpapers.wallpaperModel
    property bool patternsOnly: false
    property string lastApplied
    spacing: 8

    RowLayout {
        Layout.fillWidth: true
        SectionTitle {
            text: qsTr("Wallpapers (%1)").arg(screen.list.count)
        }
        Item { Layout.fillWidth: true }
        CheckBox {
            text: qsTr("Patterns only")
            checked: screen.patternsOnly
            onToggled: screen.patternsOnly = checked
        }
        Button {
            objectName: "addWallpaper"
            text: screen.wallpapers.loading ? qsTr("Preparing…") : qsTr("Add a picture…")
            enabled: !screen.wallpapers.loading && !screen.list.upToLimite
            onClicked: picker.open()
        }
        Button {
            text: qsTr("Reset")
            onClicked: resetAsk.open()
        }
    }
    Label {
        visible: screen.list.upToLimite
        text: qsTr("You have as many pictures of your own as there can be: remove one to add another.")
        color: Style.warning
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    Label {
        visible: screen.lastApplied.length > 0
        text: "✓ " + screen.lastApplied
        color: "#1E5631"
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    Label {
        visible: screen.list.count === 0
        text: qsTr("No wallpapers yet: the server's arrive once this device is connected.")
        color: Style.faint
    }
    FileDialog {
        id: picker
        objectName: "wallpaperPicker"
        title: qsTr("Choose a picture")
        nameFilters: [qsTr("Pictures (*.jpg *.jpeg *.png *.bmp *.webp)")]
        onAccepted: screen.wallpapers.add(decodeURIComponent(String(picker.selectedFile).replace(/^file:\/\//, "")))
    }

    // The chats' own wallpapers, as the server holds them: a change on any device shows here.
    readonly property var chatsWithWallpaper: Directory.chats(screen.device).filter(chat => {
        const dialog = screen.device.chat(chat.dialogId);
        // Read the chat's wallpaper so that its change re-evaluates this; the item says if it has one.
        return dialog !== null && (dialog.wallpaper, screen.device.chatWallpaper(chat.dialogId) !== null);
    })
    SectionTitle {
        visible: screen.chatsWithWallpaper.length > 0
        text: qsTr("Chats with a wallpaper of their own (%1)").arg(screen.chatsWithWallpaper.length)
    }
    Flow {
        visible: screen.chatsWithWallpaper.length > 0
        Layout.fillWidth: true
        spacing: 6
        Repeater {
            model: screen.chatsWithWallpaper
            delegate: Rectangle {
                id: chatLook
                required property var modelData
                readonly property var dialog: screen.device.chat(chatLook.modelData.dialogId)
                objectName: "chatWallpaper_" + chatLook.modelData.dialogId
                width: 170
                height: 52
                radius: 8
                border.color: Style.border
                clip: true
                WallpaperView {
                    id: lookView
                    x: 1; y: 1
                    width: 50
                    height: 50
                    wallpaper: (chatLook.dialog.wallpaper, screen.device.chatWallpaper(chatLook.modelData.dialogId))
                }
                Label {
                    anchors.left: lookView.right
                    anchors.right: removeLook.left
                    anchors.verticalCenter: parent.verticalCenter
                    anchors.leftMargin: 6
                    elide: Text.ElideRight
                    text: chatLook.modelData.name
                    color: Style.text
                }
                ToolButton {
                    id: removeLook
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    text: "×"
                    enabled: screen.device.online
                    Accessible.name: qsTr("Take %1's wallpaper away").arg(chatLook.modelData.name)
                    onClicked: screen.device.themeHandler.removeDialogWallPaper(chatLook.modelData.dialogId)
                }
            }
        }
    }

    GridView {
        id: grid
        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.minimumHeight: 200
        clip: true
        cellWidth: 112
        cellHeight: 178
        ScrollBar.vertical: ScrollBar {}
        model: screen.patternsOnly ? screen.wallpapers.patternModel : screen.list
        delegate: Item {
            id: cell
            required property var itemModel
            required property int index
            width: grid.cellWidth
            height: grid.cellHeight

            Rectangle {
                anchors.fill: parent
                anchors.margins: 4
                radius: 8
                clip: true
                color: Style.base
                border.color: cell.itemModel.uploadFailed ? "#C0392B" : cell.itemModel.unsynced ? "#E08A1E" : "#D5DCE4"
                border.width: cell.itemModel.unsynced ? 2 : 1
                WallpaperView {
                    anchors.fill: parent
                    anchors.margins: 1
                    anchors.bottomMargin: 36
                    wallpaper: cell.itemModel
                }
                // The picture's upload or download, with retry and cancel where the module offers them,
                // on a backing of their own so that they read over any picture.
                Rectangle {
                    anchors.fill: transfer
                    anchors.margins: -3
                    radius: 4
                    visible: transfer.height > 0 && (bar.visible || cell.itemModel.unsynced || cell.itemModel.uploadFailed)
                    color: Qt.rgba(Style.base.r, Style.base.g, Style.base.b, 0.9)
                }
                Column {
                    id: transfer
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.bottom: parent.bottom
                    anchors.bottomMargin: 44
                    anchors.margins: 8
                    spacing: 2
                    TransferBar {
                        id: bar
                        width: parent.width
                        file: cell.itemModel.hiPhoto
                    }
                    Row {
                        spacing: 4
                        Button {
                            objectName: "retryWallpaper_" + cell.index
                            visible: cell.itemModel.uploadFailed
                            text: qsTr("Retry")
                            font.pixelSize: 10
                            onClicked: screen.wallpapers.reupload(cell.itemModel.wallpaperId)
                        }
                        Button {
                            objectName: "cancelWallpaper_" + cell.index
                            visible: cell.itemModel.unsynced
                            text: qsTr("Cancel")
                            font.pixelSize: 10
                            onClicked: screen.wallpapers.cancelUpload(cell.itemModel.wallpaperId)
                        }
                    }
                }
                Column {
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.bottom: parent.bottom
                    anchors.margins: 5
                    Label {
                        width: parent.width
                        elide: Text.ElideRight
                        font.pixelSize: 11
                        color: Style.text
                        text: Looks.wallpaperName(cell.itemModel)
                    }
                    Label {
                        width: parent.width
                        elide: Text.ElideRight
                        font.pixelSize: 10
                        color: cell.itemModel.uploadFailed ? Style.failure : cell.itemModel.unsynced ? Style.warning : Style.faint
                        text: cell.itemModel.uploadFailed ? qsTr("upload failed")
                                                          : cell.itemModel.unsynced ? qsTr("uploading…")
                                                          : cell.itemModel.isDark ? qsTr("for dark mode") : " "
                    }
                }
                MouseArea {
                    objectName: "wallpaperCell_" + cell.index
                    anchors.fill: parent
                    onClicked: editor.edit(cell.itemModel)
                }
                ToolButton {
                    anchors.top: parent.top
                    anchors.right: parent.right
                    visible: cell.itemModel.isOwner
                    text: "×"
                    Accessible.name: qsTr("Remove")
                    onClicked: screen.wallpapers.deleteWallpaper(cell.itemModel.wallpaperId)
                }
            }
        }
    }

    WallpaperEditor {
        id: editor
        objectName: "wallpaperEditor"
        device: screen.device
        onApplied: text => screen.lastApplied = text
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
