import QtQuick
import QtTest
import "../../demo/qml"

// The privacy screen's edits reach the server and, when the other device reads its settings, the
// other device.
Item {
    width: 640
    height: 720

    PrivacyScreen {
        id: screen
        anchors.fill: parent
        device: testDevice
        accent: "#3A66C4"
    }

    TestCase {
        name: "PrivacyScreen"
        when: windowShown

        function initTestCase() {
            tryVerify(function() { return testDevice.ready && otherDevice.ready }, 5000)
        }

        // What the other device holds once it read the settings again (privacy has no push).
        function seenOnOther(read, expected) {
            otherDevice.settingServiceCmd.listPrivacySettings()
            tryVerify(function() { return read(otherDevice.privacyModel) === expected }, 3000)
        }

        function test_switchesAndChoices_data() {
            return [{tag: "find me by phone", control: "switch_Find me by phone number", property: "findMeByPhone", value: true},
                    {tag: "unarchive muted chats", control: "switch_… also muted chats", property: "autoUnarchiveMutedDialog", value: true},
                    {tag: "self-destruct time", control: "choice_Messages in new chats disappear after", property: "newChatSelfDestructTime", index: 2, value: 604800},
                    {tag: "inactive months", control: "choice_Delete my account if I am away for", property: "deleteInactiveAccountMonth", index: 3, value: 12}]
        }

        // A switch or a choice sends the change and shows it once the server acknowledged it.
        function test_switchesAndChoices(data) {
            var control = findChild(screen, data.control)
            verify(control, data.control)
            if (data.index === undefined) {
                verify(!control.checked)
                control.toggle()
                control.toggled()
            } else {
                control.currentIndex = data.index
                control.activated(data.index)
            }
            tryCompare(testDevice.privacyModel, data.property, data.value)
            tryCompare(testDevice.privacyModel, "atSending", false)
            seenOnOther(function(model) { return model[data.property] }, data.value)
        }

        // Count and days go together; the button is for a change only.
        function test_messageLimit() {
            var apply = findChild(screen, "limitApply")
            verify(!apply.enabled)
            findChild(screen, "limitCount").value = 5
            findChild(screen, "limitDays").value = 3
            verify(apply.enabled)
            apply.clicked()
            tryCompare(testDevice.privacyModel, "messageDaysLimit", 3)
            compare(testDevice.privacyModel.messageCountLimit, 5)
            tryVerify(function() { return !apply.enabled })
            seenOnOther(function(model) { return model.messageCountLimit * 100 + model.messageDaysLimit }, 503)
        }

        // A person, a group and a tag found by name in the picker go to the "never" list; a chip
        // takes one away again.
        function test_exceptionsPickedByName() {
            var add = findChild(screen, "lastseen_addNever")
            var picker = findChild(screen, "lastseen_pickerNever")
            verify(add && picker)
            var names = ["Chen", "book", "unread"]
            for (var i = 0; i < names.length; ++i) {
                add.clicked()
                tryVerify(function() { return picker.opened })
                var search = findChild(picker.contentItem, "pickerSearch")
                search.text = names[i]
                compare(picker.shown.length, 1, names[i])
                search.accepted()
                tryVerify(function() { return !picker.visible })
                var listed = i + 1
                tryVerify(function() { return picker.excluded.length === listed }, 3000)
            }
            var rule = testDevice.privacyModel.lastseen
            compare(rule.blacklist.userIds(), [103])
            compare(rule.groupBlacklist.groupIds(), [202])
            compare(rule.dialogBlackTags[0].name, "Unread")
            compare(server.privacySummary().lastseenBlacklist, [103])
            seenOnOther(function(model) { return model.lastseen.dialogBlackTags.length + model.lastseen.groupBlacklist.count }, 2)

            var chip = findChild(screen, "lastseen_Never_u103")
            verify(chip)
            chip.removed()
            tryCompare(rule.blacklist, "count", 0)
            compare(rule.groupBlacklist.count, 1)
        }

        // Under "nobody" a "never" list means nothing and is not offered; the other device sees
        // the new audience.
        function test_audienceOffersTheListsThatMeanSomething() {
            var never = findChild(screen, "calls_addNever")
            var always = findChild(screen, "calls_addAlways")
            verify(never.visible)
            verify(!always.visible)
            findChild(screen, "calls_rule_2").clicked()
            tryCompare(testDevice.privacyModel.calls, "rule", 2)
            verify(!never.visible)
            verify(always.visible)
            seenOnOther(function(model) { return model.calls.rule }, 2)
        }
    }
}
