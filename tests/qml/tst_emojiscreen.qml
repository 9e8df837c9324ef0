import QtQuick
import QtQml
import QtTest
import "../../demo/qml"

// Status shortcuts edited and alternative photos added from a file, given an audience by name and
// deleted after asking: each reaches the other device.
Item {
    width: 640
    height: 900

    EmojiScreen {
        id: screen
        anchors.fill: parent
        device: testDevice
        accent: "#3A66C4"
    }

    // The other device's photos, read as a view reads the list.
    Instantiator {
        id: otherPhotos
        model: otherDevice.alternativeProfilePhoto
        delegate: QtObject {
            required property var profilePhoto
        }
    }

    TestCase {
        name: "EmojiScreen"
        when: windowShown

        function initTestCase() {
            tryVerify(function() { return testDevice.ready && otherDevice.ready }, 5000)
        }

        function descriptions(device) {
            return device.statusShortCut.shortCutSetting.map(function(entry) { return entry.desc }).join(",")
        }

        function test_statusShortcutsEdited() {
            var text = findChild(screen, "shortcutText")
            var add = findChild(screen, "addShortcut")
            verify(!add.enabled)
            text.text = "Lunch"
            add.clicked()
            tryCompare(screen.shortcuts, "length", 1, 3000)
            text.text = "Walking the dog"
            add.clicked()
            tryVerify(function() { return descriptions(otherDevice) === "Lunch,Walking the dog" }, 3000)
            // Moved up, then the other removed.
            screen.writeShortcuts(screen.moved(screen.shortcuts, 1, 0))
            tryVerify(function() { return descriptions(otherDevice) === "Walking the dog,Lunch" }, 3000)
            findChild(screen, "removeShortcut_1").clicked()
            tryVerify(function() { return descriptions(otherDevice) === "Walking the dog" }, 3000)
        }

        function test_aPhotoFromAFileWithItsAudience() {
            var before = otherPhotos.count
            testDevice.addAlternativePhotoFromFile(relay.pictureFile(640, 400))
            tryVerify(function() { return findChild(screen, "photo_0") !== null }, 5000)
            tryVerify(function() { return otherPhotos.count === before + 1 }, 5000)
            var audience = findChild(screen, "audience_0")
            var picker = findChild(audience, "audiencePicker_0")
            audience.clicked()
            tryVerify(function() { return picker.opened })
            var search = findChild(picker.contentItem, "pickerSearch")
            search.text = "Fatima"
            search.accepted()
            tryVerify(function() {
                var photo = otherPhotos.objectAt(0)
                return photo !== null && photo.profilePhoto.userList.indexOf(106) >= 0
            }, 5000)

            // A file that is not a picture adds nothing and says so.
            testDevice.addAlternativePhotoFromFile("/no/such/picture.png")
            tryVerify(function() { return testDevice.errors.length > 0
                                   && testDevice.errors[testDevice.errors.length - 1].indexOf("not a picture") >= 0 }, 3000)

            var ask = findChild(screen, "photoDeleteAsk")
            ask.photo = findChild(screen, "photo_0").profilePhoto
            ask.confirmed("")
            tryVerify(function() { return otherPhotos.count === before }, 5000)
        }
    }
}
