import QtQuick
import QtTest
import "../../demo/qml"

// A wallpaper opened from the gallery is edited on a working copy and used in the app's look,
// which reaches the other device.
Item {
    width: 640
    height: 720

    WallpapersScreen {
        id: screen
        anchors.fill: parent
        device: testDevice
        accent: "#3A66C4"
    }

    TestCase {
        name: "WallpapersScreen"
        when: windowShown

        function initTestCase() {
            tryVerify(function() { return testDevice.ready && otherDevice.ready }, 5000)
            tryVerify(function() { return testDevice.wallpaperHandler.wallpaperModel.count > 0 }, 5000)
        }

        function test_editedAndUsedInTheApp() {
            var editor = findChild(screen, "wallpaperEditor")
            var cell = null
            tryVerify(function() { cell = findChild(screen, "wallpaperCell_0"); return cell !== null })
            cell.clicked(null)
            tryVerify(function() { return editor.opened })
            var original = testDevice.wallpaperHandler.wallpaperModel.itemByIndex(0)
            // The preview shows the working copy; the gallery's item stays as it was.
            var blur = findChild(editor.contentItem, "blurSlider")
            blur.value = 12
            blur.moved()
            compare(editor.wallpaper.blur, 12)
            compare(findChild(editor.contentItem, "wallpaperPreview").blur, 12)
            verify(original.blur !== 12)

            var themeId = testDevice.themeHandler.currentTheme.themeId
            findChild(editor.contentItem, "useLight").clicked()
            tryVerify(function() { return !editor.visible })
            tryCompare(testDevice.themeHandler.currentTheme.light.wallpaperItem, "blur", 12)
            verify(screen.lastApplied.length > 0)
            tryVerify(function() {
                var model = otherDevice.themeHandler.themeModel
                for (var i = 0; i < model.count; ++i) {
                    var theme = model.itemByIndex(i)
                    if (theme.themeId === themeId)
                        return theme.light.wallpaperItem && theme.light.wallpaperItem.blur === 12
                }
                return false
            }, 5000)
        }

        // A chat's wallpaper is the server's: both devices show it, and lose it, from the push.
        function test_aChatsOwnWallpaper() {
            var editor = findChild(screen, "wallpaperEditor")
            var cell = null
            tryVerify(function() { cell = findChild(screen, "wallpaperCell_1"); return cell !== null })
            cell.clicked(null)
            tryVerify(function() { return editor.opened })
            var chats = findChild(editor.contentItem, "wallpaperChat")
            var index = chats.model.findIndex(function(chat) { return chat.dialogId === "climbing" })
            chats.currentIndex = index
            chats.activated(index)
            findChild(editor.contentItem, "useForChat").clicked()
            tryVerify(function() { return otherDevice.chatWallpaper("climbing") !== null }, 3000)
            tryVerify(function() { return findChild(screen, "chatWallpaper_climbing") !== null }, 3000)
            verify(otherDevice.chatWallpaper("climbing").bgColors.length > 0)

            testDevice.themeHandler.removeDialogWallPaper("climbing")
            tryVerify(function() { return otherDevice.chatWallpaper("climbing") === null }, 3000)
            tryVerify(function() { return findChild(screen, "chatWallpaper_climbing") === null }, 3000)
        }

        // A picture added shows its upload under way (with a slow server) and done once saved; the
        // shares per piece are checked where the file services are tested.
        function test_anUploadShowsItsProgress() {
            server.setLatency(40)
            var own = testDevice.wallpaperIds(true).length
            testDevice.wallpaperHandler.add(relay.pictureFile(1800, 1200))
            tryVerify(function() { return testDevice.wallpaperIds(true).length === own + 1 }, 5000)
            var item = testDevice.wallpaperHandler.wallpaperModel.getItemById(testDevice.wallpaperIds(true)[0])
            var states = [item.hiPhoto.transferState]
            var watch = function() { states.push(item.hiPhoto.transferState) }
            item.hiPhoto.transferStateChanged.connect(watch)
            tryVerify(function() { return !item.unsynced }, 10000)
            server.setLatency(0)
            verify(states.indexOf(1) >= 0 || states.indexOf(2) >= 0, "under way when shown: " + states)
            compare(item.hiPhoto.progress, 1)
            compare(item.hiPhoto.transferState, 0)
            tryVerify(function() { return otherDevice.wallpaperIds(true).indexOf(item.wallpaperId) >= 0 }, 5000)
        }
    }
}
