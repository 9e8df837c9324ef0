pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import "directory.js" as Directory
import "files.js" as Files

// Recent emoji and reactions, status shortcuts and the alternative profile photos with their
// audiences.
ScreenPage {
    id: screen
    property var device
    property color accent
    readonly property var photos: screen.device.alternativeProfilePhoto
    readonly property var picks: ["😀", "🎉", "👍", "🍜", "🚀", "🌧️"]
    spacing: 8

    component RecentRow: ColumnLayout {
        id: recent
        required property var model
        required property string title
        RowLayout {
            SectionTitle { text: recent.title + " (" + recent.model.count + ")" }
            Item { Layout.fillWidth: true }
            Repeater {
                model: screen.picks
                delegate: ToolButton {
                    required property string modelData
                    text: modelData
                    font.pixelSize: 18
                    onClicked: recent.model.emojiUsed(modelData, -1, -1)
                }
            }
            Button { text: qsTr("Clear"); onClicked: recent.model.clearRecent() }
        }
        Label {
            visible: recent.model.count === 0
            text: qsTr("Nothing used yet on this device.")
            color: Style.faint
        }
        ListView {
            visible: recent.model.count > 0
            Layout.fillWidth: true
            Layout.preferredHeight: 36
            orientation: ListView.Horizontal
            spacing: 4
            model: recent.model
            delegate: Rectangle {
                id: used
                required property string emoji
                required property int packId
                required property int emojiId
                width: 34; height: 34; radius: 6
                color: Style.alternate
                Label { anchors.centerIn: parent; text: used.emoji; font.pixelSize: 18 }
                MouseArea {
                    anchors.fill: parent
                    onClicked: recent.model.remove(used.emoji, used.packId, used.emojiId)
                }
            }
        }
    }

    RecentRow { model: screen.device.recentEmoji; title: qsTr("Recent emoji"); Layout.fillWidth: true }
    RecentRow { model: screen.device.recentReactions; title: qsTr("Recent reactions"); Layout.fillWidth: true }

    // Status shortcuts: each an emoji and a short text, edited here as a list and written whole.
    readonly property var shortcuts: screen.device.statusShortCut.shortCutSetting
    function writeShortcuts(list) {
        screen.device.writeStatusShortcutEntries(list.map(entry => {
            const written = { desc: entry.desc, emoji: entry.emoji, time: entry.time || 3600 };
            if (entry.sticker)
                written.sticker = entry.sticker;
            if (entry.stickerPid)
                written.stickerPid = entry.stickerPid;
            return written;
        }));
    }
    // A sticker's image arrives after its shortcut: looked for again now and then.
    property int tick: 0
    Timer {
        interval: 1000
        repeat: true
        running: screen.visible
        onTriggered: screen.tick++
    }
    function moved(list, from, to) {
        const copy = list.slice();
        const entry = copy.splice(from, 1)[0];
        copy.splice(to, 0, entry);
        return copy;
    }
    RowLayout {
        SectionTitle { text: qsTr("Status shortcuts (%1)").arg(screen.shortcuts.length) }
        Item { Layout.fillWidth: true }
    }
    Label {
        visible: screen.shortcuts.length === 0
        text: qsTr("No shortcuts: add one below to set your status in one click.")
        color: Style.faint
    }
    // A plain column, not the page's layout: a layout that holds a repeater's rows can
    // crash as the rows go (Qt 6.4).
    Column {
        Layout.fillWidth: true
        Repeater {
            model: screen.shortcuts
            delegate: RowLayout {
                id: shortcut
                required property var modelData
                required property int index
                width: parent.width
                Label { visible: !shortcut.modelData.sticker; text: shortcut.modelData.emoji; font.pixelSize: 18 }
            Image {
                visible: shortcut.modelData.sticker !== undefined
                Layout.preferredWidth: 28
                Layout.preferredHeight: 28
                fillMode: Image.PreserveAspectFit
                readonly property string path: shortcut.modelData.sticker ? (screen.tick, screen.device.stickerImage(shortcut.modelData.sticker)) : ""
                source: path.length > 0 ? "file://" + path : ""
            }
                Label { text: shortcut.modelData.desc; color: Style.text; Layout.fillWidth: true; elide: Text.ElideRight }
                ToolButton {
                    text: "↑"
                    enabled: shortcut.index > 0
                    Accessible.name: qsTr("Move up")
                    onClicked: screen.writeShortcuts(screen.moved(screen.shortcuts, shortcut.index, shortcut.index - 1))
                }
                ToolButton {
                    text: "↓"
                    enabled: shortcut.index < screen.shortcuts.length - 1
                    Accessible.name: qsTr("Move down")
                    onClicked: screen.writeShortcuts(screen.moved(screen.shortcuts, shortcut.index, shortcut.index + 1))
                }
                ToolButton {
                    objectName: "removeShortcut_" + shortcut.index
                    text: "×"
                    Accessible.name: qsTr("Remove %1").arg(shortcut.modelData.desc)
                    onClicked: screen.writeShortcuts(screen.shortcuts.filter((_, i) => i !== shortcut.index))
                }
            }
        }
    }
    RowLayout {
        Layout.fillWidth: true
        Button {
            id: shortcutEmoji
            objectName: "shortcutEmoji"
            property string chosen: "📅"
            text: chosen
            font.pixelSize: 18
            onClicked: shortcutPicker.open()
            EmojiPicker {
                id: shortcutPicker
                y: shortcutEmoji.height
                table: screen.device.emojiTable()
                themes: screen.device.themeHandler
                ownName: ""
                // Any emoji will do for a status; the theme names' check does not apply here.
                anyEmoji: true
                onPicked: emoji => shortcutEmoji.chosen = emoji
            }
        }
        ComboBox {
            id: shortcutSticker
            objectName: "shortcutSticker"
            Layout.preferredWidth: 130
            model: [{ pid: 0, name: qsTr("no sticker") }].concat(screen.device.stickers)
            textRole: "name"
        }
        TextField {
            id: shortcutText
            objectName: "shortcutText"
            Layout.fillWidth: true
            placeholderText: qsTr("In a meeting, At lunch…")
            maximumLength: 40
            onAccepted: addShortcut.clicked()
        }
        Button {
            id: addShortcut
            objectName: "addShortcut"
            text: qsTr("Add")
            enabled: shortcutText.text.trim().length > 0
            onClicked: {
                const sticker = shortcutSticker.model[shortcutSticker.currentIndex].pid;
                screen.writeShortcuts(screen.shortcuts.concat([{ desc: shortcutText.text.trim(), emoji: shortcutEmoji.chosen, time: 3600,
                                                                 stickerPid: sticker }]));
                shortcutText.text = "";
            }
        }
    }

    RowLayout {
        SectionTitle { text: qsTr("Alternative profile photos (%1)").arg(photoList.count) }
        BusyIndicator { running: screen.photos.modifying; visible: running; implicitWidth: 24; implicitHeight: 24 }
        Item { Layout.fillWidth: true }
        CheckBox {
            objectName: "nonContactsSeeOne"
            text: qsTr("Non-contacts see one")
            checked: screen.photos.showToNonContact
            onToggled: {
                screen.photos.changeShowToNonContact(checked);
                checked = Qt.binding(() => screen.photos.showToNonContact);
            }
        }
        Button { objectName: "addPhoto"; text: qsTr("Add a photo…"); onClicked: photoFile.open() }
    }
    Label {
        text: qsTr("People who may not see your real photo (see Privacy) see one of these instead; each photo shows to the people and groups you pick.")
        color: Style.faint
        font.pixelSize: 11
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    Label {
        visible: photoList.count === 0
        text: qsTr("No alternative photos: add one from a picture.")
        color: Style.faint
    }
    FileDialog {
        id: photoFile
        objectName: "photoPicker"
        title: qsTr("Choose a photo")
        nameFilters: [qsTr("Pictures (*.jpg *.jpeg *.png *.bmp *.webp)")]
        onAccepted: screen.device.addAlternativePhotoFromFile(decodeURIComponent(String(photoFile.selectedFile).replace(/^file:\/\//, "")))
    }
    ListView {
        id: photoList
        visible: count > 0
        Layout.fillWidth: true
        Layout.preferredHeight: 196
        orientation: ListView.Horizontal
        spacing: 8
        clip: true
        model: screen.photos
        delegate: Rectangle {
            id: card
            required property var profilePhoto
            required property int index
            // The audience by name: the people and groups the photo shows to.
            readonly property var audience: Directory.people(screen.device).filter(p => card.profilePhoto.userList.indexOf(p.id) >= 0)
                                             .concat(Directory.groups(screen.device).filter(g => card.profilePhoto.groupList.indexOf(g.id) >= 0))
            objectName: "photo_" + card.index
            width: 150
            height: 194
            radius: 8
            color: Style.base
            border.color: Style.border
            ColumnLayout {
                anchors.fill: parent
                anchors.margins: 6
                spacing: 3
                Image {
                    Layout.preferredWidth: 138
                    Layout.preferredHeight: 80
                    fillMode: Image.PreserveAspectCrop
                    source: Files.fileUrl(card.profilePhoto.srcPhotoInfo)
                    opacity: card.profilePhoto.uploading ? 0.5 : 1
                }
                TransferBar {
                    Layout.fillWidth: true
                    file: card.profilePhoto.srcPhotoInfo
                }
                Label {
                    Layout.fillWidth: true
                    text: card.profilePhoto.uploading ? qsTr("uploading…")
                                                      : card.audience.length === 0 ? qsTr("shown to no one yet")
                                                      : qsTr("shown to %1").arg(card.audience.map(entry => entry.name).join(", "))
                    font.pixelSize: 11
                    color: Style.secondary
                    wrapMode: Text.Wrap
                    maximumLineCount: 3
                    elide: Text.ElideRight
                }
                Item { Layout.fillHeight: true }
                RowLayout {
                    Button {
                        id: audienceButton
                        objectName: "audience_" + card.index
                        text: qsTr("Audience…")
                        font.pixelSize: 11
                        onClicked: audiencePicker.open()
                        // Everyone the photo may show to, ticked when it does: a tick adds, an
                        // untick takes away; each change goes to the server at once.
                        Popup {
                            id: audiencePicker
                            objectName: "audiencePicker_" + card.index
                            y: audienceButton.height
                            width: 240
                            height: 300
                            modal: true
                            margins: 8
                            readonly property var everyone: Directory.people(screen.device).concat(Directory.groups(screen.device))
                            ListView {
                                anchors.fill: parent
                                clip: true
                                model: audiencePicker.everyone
                                ScrollBar.vertical: ScrollBar {}
                                delegate: CheckBox {
                                    id: member
                                    required property var modelData
                                    objectName: "member_" + member.modelData.key
                                    width: ListView.view.width
                                    text: member.modelData.name + (member.modelData.type === "group" ? qsTr(" (group)") : "")
                                    enabled: !screen.photos.modifying
                                    checked: (member.modelData.type === "group" ? card.profilePhoto.groupList : card.profilePhoto.userList)
                                             .indexOf(member.modelData.id) >= 0
                                    onToggled: {
                                        const group = member.modelData.type === "group";
                                        const ids = group ? card.profilePhoto.groupList : card.profilePhoto.userList;
                                        const changed = member.checked ? ids.concat([member.modelData.id])
                                                                       : ids.filter(id => id !== member.modelData.id);
                                        card.profilePhoto.setIds(group ? card.profilePhoto.userList : changed,
                                                                 group ? changed : card.profilePhoto.groupList);
                                    }
                                }
                            }
                        }
                    }
                    ToolButton {
                        text: "×"
                        Accessible.name: qsTr("Delete the photo")
                        onClicked: {
                            deleteAsk.photo = card.profilePhoto;
                            deleteAsk.open();
                        }
                    }
                }
            }
        }
    }
    Item { Layout.fillHeight: true }

    ConfirmDialog {
        id: deleteAsk
        objectName: "photoDeleteAsk"
        property var photo: null
        title: qsTr("Delete the photo")
        text: qsTr("Delete this photo on all your devices? The people it was shown to see another one, or your real photo.")
        actionText: qsTr("Delete")
        onConfirmed: if (deleteAsk.photo) deleteAsk.photo.deletePhoto()
    }
}
