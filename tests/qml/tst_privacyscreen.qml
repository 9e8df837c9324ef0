import QtQuick
import QtTest
import "../../demo/qml"

Item {
    width: 720
    height: 900

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
            tryVerify(function() { return testDevice.ready }, 5000)
        }

        // The switch sends the change and shows it once the server acknowledged it.
        function test_switchGoesToTheServer() {
            var toggle = findChild(screen, "switch_Find me by phone number")
            verify(toggle)
            verify(!toggle.checked)
            var sent = server.requestCount(122)
            mouseClick(toggle)
            tryVerify(function() { return server.privacySummary().findMeByPhone }, 3000)
            tryCompare(toggle, "checked", true)
            compare(testDevice.privacyModel.findMeByPhone, true)
            compare(server.requestCount(122), sent + 1)
        }

        // Adding to an exception list sends the whole rule; the list shows the acknowledged one.
        function test_exceptionListGoesToTheServer() {
            var picker = findChild(screen, "blackPicker")
            var add = findChild(screen, "addBlack")
            verify(picker && add)
            picker.currentIndex = 2
            mouseClick(add)
            tryVerify(function() { return server.privacySummary().lastseenBlacklist.length === 1 }, 3000)
            compare(server.privacySummary().lastseenBlacklist[0], 103)
            tryCompare(testDevice.privacyModel.lastseen.blacklist, "count", 1)
        }
    }
}
