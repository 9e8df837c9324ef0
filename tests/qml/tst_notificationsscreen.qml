import QtQuick
import QtTest
import "../../demo/qml"

// The notifications screen's choices reach the other device through the server's pushes.
Item {
    width: 640
    height: 720

    NotificationsScreen {
        id: screen
        anchors.fill: parent
        device: testDevice
        accent: "#3A66C4"
        audio: AudioManage
    }

    TestCase {
        name: "NotificationsScreen"
        when: windowShown

        function initTestCase() {
            tryVerify(function() { return testDevice.ready && otherDevice.ready }, 5000)
        }

        function choose(box, text) {
            var index = box.model.findIndex(function(entry) { return entry.name === text })
            verify(index >= 0, text)
            box.currentIndex = index
            box.activated(index)
        }

        // Tones are chosen by name; the other device plays the same.
        function test_globalTonesByName() {
            var messages = findChild(screen, "tone_Messages")
            choose(messages, testDevice.ringtoneManager.ringtoneDisplayName("chime", false))
            tryCompare(otherDevice.ringtoneManager.globalRingtoneSetting, "presetName", "chime", 3000)
            compare(messages.displayText, testDevice.ringtoneManager.ringtoneDisplayName("chime", false))
            findChild(screen, "resetTones").clicked()
            tryCompare(otherDevice.ringtoneManager.globalRingtoneSetting, "presetName", "system_ringtone", 3000)
        }

        // Any chat is chosen from the list; its silence reaches the other device.
        function test_aChatsOwnSound() {
            choose(findChild(screen, "chatChoice"), "Bruno Diaz")
            compare(screen.chatId, "user102")
            var silent = findChild(screen, "chatSilent")
            silent.toggle()
            silent.toggled()
            tryVerify(function() { return otherDevice.chatSilent("user102") }, 3000)
            verify(findChild(screen, "chatPlays").text.indexOf("silenced") >= 0)
            silent.toggle()
            silent.toggled()
            tryVerify(function() { return !otherDevice.chatSilent("user102") }, 3000)
        }

        // A group found by name becomes an exception on both devices, and leaves the picker.
        function test_mutedGroupFromThePicker() {
            var picker = findChild(screen, "mutedGroupPicker")
            findChild(screen, "addMutedGroup").clicked()
            tryVerify(function() { return picker.opened })
            var search = findChild(picker.contentItem, "pickerSearch")
            search.text = "neigh"
            search.accepted()
            tryVerify(function() { return testDevice.groupMutedSettingModel.mutedSetting("neighbours") !== null }, 3000)
            tryVerify(function() { return otherDevice.groupMutedSettingModel.mutedSetting("neighbours") !== null }, 3000)
            verify(picker.excluded.indexOf("g204") >= 0)
        }

        // Playing a tone plays it or says why it cannot (no output on a machine without sound).
        function test_playingSaysWhatHappens() {
            AudioManage.stopSound()
            var play = findChild(screen, "tone_Messages").parent.children[2]
            play.clicked()
            tryVerify(function() { return AudioManage.playing || AudioManage.playbackError.length > 0 }, 3000)
            tryCompare(findChild(screen, "playbackError"), "visible", AudioManage.playbackError.length > 0)
            AudioManage.stopSound()
        }
    }
}
