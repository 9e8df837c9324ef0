import QtQuick
import QtTest
import "../../demo/qml"

// A stored preference edited in place reaches the other device's store.
Item {
    width: 640
    height: 720

    PreferencesScreen {
        id: screen
        anchors.fill: parent
        device: testDevice
    }

    TestCase {
        name: "PreferencesScreen"
        when: windowShown

        function initTestCase() {
            tryVerify(function() { return testDevice.ready && otherDevice.ready }, 5000)
        }

        function test_editedInPlace() {
            testDevice.writePreference(11, "dialog_folder_config", "before")
            var button = null
            tryVerify(function() { button = findChild(screen, "editButton_dialog_folder_config"); return button !== null }, 5000)
            button.clicked()
            var field = findChild(screen, "edit_dialog_folder_config")
            verify(field.visible)
            compare(field.text, "before")
            field.text = "after"
            field.accepted()
            tryCompare(otherDevice, "ready", true)
            tryVerify(function() { return otherDevice.preference("dialog_folder_config") === "after" }, 5000)
        }
    }
}
