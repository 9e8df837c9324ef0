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
            // A sticker instead of the emoji: the other device shows its image once it came, and
            // keeps it when the list is rewritten.
            var stickers = findChild(screen, "shortcutSticker")
            stickers.currentIndex = 2
            text.text = "Coffee break"
            add.clicked()
            var withSticker = function(device) {
                var list = device.statusShortCut.shortCutSetting
                return list.length === 2 && list[1].sticker !== undefined && device.stickerImage(list[1].sticker).length > 0
            }
            tryVerify(function() { return withSticker(otherDevice) }, 5000)
            screen.writeShortcuts(screen.moved(screen.shortcuts, 1, 0))
            tryVerify(function() { return descriptions(otherDevice) === "Coffee break,Walking the dog" }, 3000)
            verify(otherDevice.statusShortCut.shortCutSetting[0].sticker !== undefined)
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
            // Ticked in, then ticked out again.
            var fatima = null
            tryVerify(function() { fatima = findChild(picker.contentItem, "member_u106"); return fatima !== null })
            fatima.toggle()
            fatima.toggled()
            tryVerify(function() {
                var photo = otherPhotos.objectAt(0)
                return photo !== null && photo.profilePhoto.userList.indexOf(106) >= 0
            }, 5000)
            // The photo is replaced by the one the server holds: its card, and picker, are new.
            tryVerify(function() { return !testDevice.alternativeProfilePhoto.modifying }, 5000)
            audience = findChild(screen, "audience_0")
            picker = findChild(audience, "audiencePicker_0")
            audience.clicked()
            tryVerify(function() { return picker.opened })
            tryVerify(function() { fatima = findChild(picker.contentItem, "member_u106"); return fatima !== null })
            verify(fatima.checked)
            fatima.toggle()
            fatima.toggled()
            tryVerify(function() {
                var photo = otherPhotos.objectAt(0)
                return photo !== null && photo.profilePhoto.userList.indexOf(106) < 0
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
