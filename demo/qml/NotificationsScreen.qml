pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import "directory.js" as Directory

// Notification sounds: the tones for messages and mentions, the custom ringtones, any chat's
// own tone, silence and previews, and the muted groups whose replies or mentions still notify.
// Every tone can be heard on the chosen audio output.
ScreenPage {
    id: screen
    property var device
    property color accent
    property var audio
    readonly property var ringtones: screen.device.ringtoneManager
    readonly property var global: screen.ringtones.globalRingtoneSetting
    readonly property var muted: screen.device.groupMutedSettingModel
    readonly property int maxRingtones: 20
    // Every tone a choice can name: the presets, then the custom ringtones in list order.
    readonly property var tones: {
        const list = screen.ringtones.presetRingtones().map(tone => ({ id: tone.id, name: tone.name, custom: false }));
        if (screen.ringtones.customRingtoneModel.count >= 0)
            screen.device.customRingtoneIds().forEach(id => list.push({ id: id, name: screen.ringtones.ringtoneDisplayName(id, true), custom: true }));
        return list;
    }
    // The chat whose own choices are shown. A chat that never had a choice has no setting until
    // one is made (here or on another device), so it is asked for again on every tick.
    property string chatId: "family"
    readonly property var chatSetting: (screen.tick, screen.ringtones.ringtoneSetting(screen.chatId))
    // Re-read what has no change signal of its own (whether a file is here) now and then.
    property int tick: 0
    spacing: 8

    onVisibleChanged: if (visible) screen.tick++
    Timer {
        interval: 1000
        repeat: true
        running: screen.visible
        onTriggered: screen.tick++
    }

    function toneIndex(id, custom) {
        const tone = id.length > 0 ? id : "system_ringtone";
        return screen.tones.findIndex(t => t.id === tone && t.custom === custom);
    }
    // The chat's tone as it plays: its own, the global one it follows, or none when silenced.
    function chatTone() {
        screen.tick;
        const setting = screen.chatSetting;
        // Read here so that a change of the chat's choice, or of the default it follows, shows at once.
        if (setting) {
            setting.customId; setting.presetName; setting.silence; setting.customPriority;
        }
        screen.global.customId; screen.global.presetName; screen.global.customPriority;
        const valid = screen.ringtones.getValidRingtone(screen.chatId).normal;
        if (!valid || valid.ringtone === undefined)
            return { text: qsTr("its custom ringtone is not in the list any more"), id: "", custom: false };
        if (valid.ringtone === "")
            return setting && setting.silence ? { text: qsTr("nothing: the chat is silenced"), id: "", custom: false }
                                              : { text: screen.ringtones.ringtoneDisplayName("", false), id: "", custom: false };
        // A custom tone is given as its file to play; its name is the chat's choice.
        const id = valid.iscustom ? (setting && setting.customPriority ? setting.customId : screen.global.customId) : valid.ringtone;
        return { text: screen.ringtones.ringtoneDisplayName(id, valid.iscustom), id: id, custom: valid.iscustom };
    }

    // A tone choice: the tones by name, bound to what the account holds, with a button to hear it.
    component ToneChoice: RowLayout {
        id: choice
        property string label
        property string toneId
        property bool custom
        // No choice of its own: it plays what the default plays.
        property bool followsDefault: false
        signal chosen(string id, bool custom)
        Layout.fillWidth: true
        Label { text: choice.label; color: Style.secondary; Layout.preferredWidth: 90 }
        ComboBox {
            objectName: "tone_" + choice.label
            Layout.fillWidth: true
            model: screen.tones
            textRole: "name"
            currentIndex: screen.toneIndex(choice.toneId, choice.custom)
            displayText: choice.followsDefault ? qsTr("as the default")
                                               : currentIndex < 0 ? qsTr("a ringtone not in the list") : currentText
            onActivated: index => choice.chosen(screen.tones[index].id, screen.tones[index].custom)
        }
        PlayButton { toneId: choice.toneId; custom: choice.custom }
    }
    component PlayButton: ToolButton {
        id: play
        property string toneId
        property bool custom
        text: "▶"
        Accessible.name: qsTr("Play")
        ToolTip.visible: hovered
        ToolTip.text: qsTr("Play on the chosen output")
        onClicked: {
            screen.awaitingPlay = true;
            screen.playError = "";
            screen.ringtones.playRingtone(play.toneId, play.custom);
        }
    }
    // The sound object is the computer's, shared by both devices: this screen says only what
    // became of the sound it asked for.
    property bool awaitingPlay: false
    property string playError
    Connections {
        target: screen.audio
        enabled: screen.awaitingPlay
        function onPlaybackErrorChanged() {
            if (screen.audio.playbackError.length > 0) {
                screen.playError = screen.audio.playbackError;
                screen.awaitingPlay = false;
            }
        }
        function onPlayingChanged() {
            if (screen.audio.playing)
                screen.awaitingPlay = false;
        }
    }

    RowLayout {
        SectionTitle { text: qsTr("Tones") }
        Item { Layout.fillWidth: true }
        Button {
            objectName: "resetTones"
            text: qsTr("Reset to default")
            onClicked: screen.ringtones.resetNotification()
        }
    }
    ToneChoice {
        label: qsTr("Messages")
        toneId: screen.global.customPriority ? screen.global.customId : screen.global.presetName
        custom: screen.global.customPriority
        onChosen: (id, custom) => screen.ringtones.setGlobalRingtone(id, custom, false)
    }
    ToneChoice {
        label: qsTr("Mentions")
        toneId: screen.global.customAitePriority ? screen.global.aiteCustomId : screen.global.aitePresetName
        custom: screen.global.customAitePriority
        onChosen: (id, custom) => screen.ringtones.setGlobalRingtone(id, custom, true)
    }
    Label {
        objectName: "playbackError"
        visible: screen.playError.length > 0
        text: "⚠ " + screen.playError
        color: Style.failure
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }

    RowLayout {
        SectionTitle { text: qsTr("Custom ringtones (%1 of %2)").arg(screen.ringtones.customRingtoneModel.count).arg(screen.maxRingtones) }
        Item { Layout.fillWidth: true }
        Button {
            objectName: "addRingtone"
            text: qsTr("Add a ringtone…")
            enabled: screen.ringtones.customRingtoneModel.count < screen.maxRingtones
            onClicked: picker.open()
        }
    }
    // The module does nothing at the limit, so the screen says why the button does nothing.
    Label {
        objectName: "ringtoneLimit"
        visible: screen.ringtones.customRingtoneModel.count >= screen.maxRingtones
        text: qsTr("You have %1 custom ringtones, the most there can be. Remove one to add another.").arg(screen.maxRingtones)
        color: Style.warning
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    FileDialog {
        id: picker
        objectName: "ringtonePicker"
        title: qsTr("Choose a ringtone")
        nameFilters: [qsTr("Sounds (*.wav *.mp3 *.ogg *.opus *.flac *.m4a)")]
        onAccepted: screen.ringtones.addRingtoneByPath(decodeURIComponent(String(picker.selectedFile).replace(/^file:\/\//, "")))
    }
    Label {
        visible: screen.ringtones.customRingtoneModel.count === 0
        text: qsTr("No custom ringtones yet: add a sound file, and every device of yours can use it.")
        color: Style.faint
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    // A plain column, not the page's layout: a layout that holds a repeater's rows can
    // crash as the rows go (Qt 6.4).
    Column {
        Layout.fillWidth: true
        Repeater {
            model: screen.ringtones.customRingtoneModel
            delegate: Rectangle {
                id: tone
                required property int index
                required property var itemModel
                width: parent.width
                implicitHeight: 36
                color: tone.index % 2 ? Style.alternate : Style.base
                RowLayout {
                    anchors.fill: parent
                    anchors.leftMargin: 6
                    PlayButton { toneId: tone.itemModel.fileId; custom: true }
                    Label { text: tone.itemModel.fileName; color: Style.text; Layout.fillWidth: true; elide: Text.ElideRight }
                    TransferBar {
                        Layout.preferredWidth: 90
                        file: tone.itemModel
                    }
                    Label {
                        visible: tone.itemModel.transferState === 0
                        text: (screen.tick, tone.itemModel.fileExist()) ? qsTr("on this device") : qsTr("on the server")
                        color: Style.faint
                        font.pixelSize: 11
                    }
                    Button {
                        objectName: "removeRingtone_" + tone.index
                        text: qsTr("Remove")
                        onClicked: screen.ringtones.deleteRingtone(tone.itemModel.fileId)
                    }
                }
            }
        }
    }

    RowLayout {
        SectionTitle { text: qsTr("A chat's own sound") }
        Item { Layout.fillWidth: true }
        ComboBox {
            id: chatChoice
            objectName: "chatChoice"
            Layout.preferredWidth: 200
            model: Directory.chats(screen.device)
            textRole: "name"
            currentIndex: model.findIndex(chat => chat.dialogId === screen.chatId)
            onActivated: index => screen.chatId = model[index].dialogId
        }
    }
    Label {
        objectName: "chatPlays"
        readonly property var playing: screen.chatTone()
        text: qsTr("%1 plays %2").arg(chatChoice.currentText).arg(playing.text)
        color: Style.text
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    ToneChoice {
        label: qsTr("Chat tone")
        toneId: screen.chatSetting ? (screen.chatSetting.customPriority ? screen.chatSetting.customId : screen.chatSetting.presetName) : ""
        custom: screen.chatSetting ? screen.chatSetting.customPriority : false
        followsDefault: !screen.chatSetting || (screen.chatSetting.customId === "" && screen.chatSetting.presetName === "")
        onChosen: (id, custom) => {
            screen.ringtones.setChatRingtone(screen.chatId, id, screen.chatSetting ? screen.chatSetting.preview : true, custom);
            screen.tick++;
        }
    }
    RowLayout {
        Layout.fillWidth: true
        CheckBox {
            objectName: "chatSilent"
            text: qsTr("Silent")
            checked: screen.chatSetting ? screen.chatSetting.silence : false
            onToggled: {
                screen.ringtones.setChatSilence(screen.chatId, checked);
                screen.tick++;
                checked = Qt.binding(() => screen.chatSetting ? screen.chatSetting.silence : false);
            }
        }
        CheckBox {
            objectName: "chatPreview"
            text: qsTr("Show message text")
            checked: screen.chatSetting ? screen.chatSetting.preview : true
            onToggled: {
                const tone = screen.chatSetting;
                screen.ringtones.setChatRingtone(screen.chatId, tone ? (tone.customPriority ? tone.customId : tone.presetName) : "",
                                                 checked, tone ? tone.customPriority : false);
                screen.tick++;
                checked = Qt.binding(() => screen.chatSetting ? screen.chatSetting.preview : true);
            }
        }
        Item { Layout.fillWidth: true }
        Button {
            objectName: "chatFollowDefault"
            text: qsTr("Use the default tone")
            onClicked: {
                screen.ringtones.setChatRingtone(screen.chatId,
                                                 screen.global.customPriority ? screen.global.customId : screen.global.presetName,
                                                 screen.chatSetting ? screen.chatSetting.preview : true,
                                                 screen.global.customPriority);
                screen.tick++;
            }
        }
    }

    RowLayout {
        SectionTitle { text: qsTr("Muted groups that still notify (%1)").arg(screen.muted.count) }
        Item { Layout.fillWidth: true }
        TextField {
            Layout.preferredWidth: 150
            placeholderText: qsTr("Search")
            onTextChanged: text.length > 0 ? screen.muted.search(text) : screen.muted.searchFinish()
        }
        Button {
            id: addMuted
            objectName: "addMutedGroup"
            text: qsTr("Add a group…")
            onClicked: groupPicker.open()
            DirectoryPicker {
                id: groupPicker
                objectName: "mutedGroupPicker"
                x: addMuted.width - width
                y: addMuted.height
                emptyText: qsTr("Every group is already here.")
                entries: Directory.groups(screen.device)
                excluded: {
                    screen.muted.count;
                    return Directory.groups(screen.device).filter(group => screen.muted.mutedSetting(group.dialogId) !== null)
                                                          .map(group => group.key);
                }
                // A group added here notifies for replies and mentions until changed below.
                onPicked: entry => screen.muted.updateGroupNotification(entry.dialogId, true, true, false)
            }
        }
    }
    Label {
        visible: screen.muted.count === 0
        text: qsTr("No exceptions: muted groups stay silent.")
        color: Style.faint
    }
    // A plain column, not the page's layout: a layout that holds a repeater's rows can
    // crash as the rows go (Qt 6.4).
    Column {
        Layout.fillWidth: true
        Repeater {
            model: screen.muted
            delegate: Rectangle {
                id: exception
                required property int index
                required property var itemModel
                readonly property string dialogId: exception.itemModel.dialog ? exception.itemModel.dialog.dialogId : ""
                width: parent.width
                implicitHeight: 34
                color: exception.index % 2 ? Style.alternate : Style.base
                RowLayout {
                    anchors.fill: parent
                    anchors.leftMargin: 6
                    Label { text: screen.device.chatName(exception.dialogId); color: Style.text; Layout.fillWidth: true; elide: Text.ElideRight }
                    CheckBox {
                        text: qsTr("Replies")
                        checked: exception.itemModel.reply
                        onToggled: screen.muted.updateGroupNotification(exception.dialogId, checked, exception.itemModel.at, exception.itemModel.atAll)
                    }
                    CheckBox {
                        text: qsTr("Mentions")
                        checked: exception.itemModel.at
                        onToggled: screen.muted.updateGroupNotification(exception.dialogId, exception.itemModel.reply, checked, exception.itemModel.atAll)
                    }
                    CheckBox {
                        text: qsTr("@all")
                        checked: exception.itemModel.atAll
                        onToggled: screen.muted.updateGroupNotification(exception.dialogId, exception.itemModel.reply, exception.itemModel.at, checked)
                    }
                    ToolButton {
                        text: "×"
                        Accessible.name: qsTr("Remove %1").arg(screen.device.chatName(exception.dialogId))
                        onClicked: screen.muted.deleteGroupNotification(exception.dialogId, true)
                    }
                }
            }
        }
    }
    Item { Layout.fillHeight: true }
}
