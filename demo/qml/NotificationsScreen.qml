pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts

// Notification sounds (global tones, custom ringtones, one chat's tone) and the muted groups
// that still notify.
ScreenPage {
    id: screen
    property var device
    property color accent
    readonly property var ringtones: screen.device.ringtoneManager
    readonly property var muted: screen.device.groupMutedSettingModel
    readonly property var presets: ["system_ringtone", "chime", "bell"]
    // Re-read what has no change signal of its own (a chat's playable tone) now and then.
    property int tick: 0
    spacing: 8

    onVisibleChanged: if (visible) screen.tick++
    Timer {
        interval: 500
        repeat: true
        running: screen.visible
        onTriggered: screen.tick++
    }

    function toneName(custom, customId, preset) {
        if (custom) {
            const name = screen.ringtones.ringtoneNameById(customId);
            return name.length > 0 ? name : qsTr("custom ringtone");
        }
        return preset.length > 0 ? preset : qsTr("system_ringtone (default)");
    }
    function chatTone(dialogId) {
        screen.tick;
        const valid = screen.ringtones.getValidRingtone(dialogId).normal;
        if (!valid || valid.ringtone === undefined)
            return qsTr("waiting for its ringtone");
        if (valid.ringtone === "")
            return screen.device.chatSilent(dialogId) ? qsTr("silent") : qsTr("system_ringtone (default)");
        return valid.iscustom ? qsTr("%1 (custom)").arg(screen.device.chatRingtoneName(dialogId)) : valid.ringtone;
    }

    SectionTitle { text: qsTr("Tones") }
    GridLayout {
        columns: 3
        columnSpacing: 12
        Label { text: qsTr("Messages"); color: "#5B6675" }
        Label {
            text: screen.toneName(screen.ringtones.globalRingtoneSetting.customPriority,
                                  screen.ringtones.globalRingtoneSetting.customId,
                                  screen.ringtones.globalRingtoneSetting.presetName)
            color: "#1F2A37"
            Layout.fillWidth: true
        }
        ComboBox {
            Layout.preferredWidth: 180
            model: screen.presets
            onActivated: index => screen.ringtones.setGlobalRingtone(screen.presets[index], false, false)
        }
        Label { text: qsTr("Mentions"); color: "#5B6675" }
        Label {
            text: screen.toneName(screen.ringtones.globalRingtoneSetting.customAitePriority,
                                  screen.ringtones.globalRingtoneSetting.aiteCustomId,
                                  screen.ringtones.globalRingtoneSetting.aitePresetName)
            color: "#1F2A37"
            Layout.fillWidth: true
        }
        ComboBox {
            Layout.preferredWidth: 180
            model: screen.presets
            onActivated: index => screen.ringtones.setGlobalRingtone(screen.presets[index], false, true)
        }
    }

    RowLayout {
        SectionTitle { text: qsTr("Custom ringtones (%1 of 20)").arg(screen.ringtones.customRingtoneModel.count) }
        Item { Layout.fillWidth: true }
        Button { text: qsTr("Add a ringtone…"); onClicked: picker.open() }
    }
    FileDialog {
        id: picker
        objectName: "ringtonePicker"
        title: qsTr("Choose a ringtone")
        nameFilters: [qsTr("Sounds (*.wav *.mp3 *.ogg *.opus *.flac *.m4a)")]
        onAccepted: screen.ringtones.addRingtoneByPath(decodeURIComponent(String(picker.selectedFile).replace(/^file:\/\//, "")))
    }
    ListView {
        Layout.fillWidth: true
        Layout.preferredHeight: Math.max(34, contentHeight)
        interactive: false
        model: screen.ringtones.customRingtoneModel
        delegate: Rectangle {
            id: tone
            required property int index
            required property var itemModel
            width: ListView.view.width
            height: 34
            color: tone.index % 2 ? "#F6F8FA" : "white"
            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 6
                Label { text: tone.itemModel.fileName; color: "#1F2A37"; Layout.fillWidth: true; elide: Text.ElideRight }
                Label {
                    text: (screen.tick, tone.itemModel.fileExist()) ? qsTr("on this device") : qsTr("on the server")
                    color: "#5B6675"
                }
                Button {
                    text: qsTr("Use for messages")
                    onClicked: screen.ringtones.setGlobalRingtone(tone.itemModel.fileId, true, false)
                }
                Button { text: qsTr("Remove"); onClicked: screen.ringtones.deleteRingtone(tone.itemModel.fileId) }
            }
        }
    }

    SectionTitle { text: qsTr("Family chat") }
    RowLayout {
        Label {
            text: qsTr("Plays: %1").arg(screen.chatTone("family"))
            color: "#1F2A37"
            elide: Text.ElideRight
            Layout.fillWidth: true
        }
        Button {
            text: qsTr("Use the first custom ringtone")
            enabled: screen.ringtones.customRingtoneModel.count > 0
            onClicked: screen.ringtones.setChatRingtone("family", screen.device.customRingtoneIds()[0], true)
        }
        Button { text: qsTr("Silence"); onClicked: screen.ringtones.setChatSilence("family", true) }
        Button { text: qsTr("Sound"); onClicked: screen.ringtones.setChatSilence("family", false) }
    }

    RowLayout {
        SectionTitle { text: qsTr("Muted groups that still notify (%1)").arg(screen.muted.count) }
        Item { Layout.fillWidth: true }
        TextField {
            placeholderText: qsTr("Search groups")
            onTextChanged: text.length > 0 ? screen.muted.search(text) : screen.muted.searchFinish()
        }
        Button {
            text: qsTr("Add Climbing")
            onClicked: screen.muted.updateGroupNotification("climbing", true, true, false)
        }
    }
    ListView {
        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.minimumHeight: 200
        clip: true
        model: screen.muted
        delegate: Rectangle {
            id: exception
            required property int index
            required property var itemModel
            readonly property string dialogId: exception.itemModel.dialog ? exception.itemModel.dialog.dialogId : ""
            width: ListView.view.width
            height: 34
            color: exception.index % 2 ? "#F6F8FA" : "white"
            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 6
                Label { text: screen.device.chatName(exception.dialogId); color: "#1F2A37"; Layout.fillWidth: true }
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
                Button { text: qsTr("Remove"); onClicked: screen.muted.deleteGroupNotification(exception.dialogId, true) }
            }
        }
    }
}
