import QtQuick
import QtTest
import "../../demo/qml"

// A theme made and named on the themes screen, and a chat's theme, reach the other device.
Item {
    width: 640
    height: 720

    ThemesScreen {
        id: screen
        anchors.fill: parent
        device: testDevice
        accent: "#3A66C4"
    }

    TestCase {
        name: "ThemesScreen"
        when: windowShown

        function initTestCase() {
            tryVerify(function() { return testDevice.ready && otherDevice.ready }, 5000)
            tryVerify(function() { return testDevice.themeHandler.currentTheme !== null }, 5000)
        }

        // A new theme takes a free emoji name from the picker, an accent for its dark half, and
        // arrives on the other device as it was saved.
        function test_aNewThemeNamedAndColoured() {
            var editor = findChild(screen, "themeEditor")
            findChild(screen, "newTheme").clicked()
            tryVerify(function() { return editor.opened })
            verify(editor.theme.name.length > 0)
            findChild(editor.contentItem, "themeName").clicked()
            var picker = findChild(findChild(editor.contentItem, "themeName"), "themeNamePicker")
            tryVerify(function() { return picker.opened })
            var emoji = null
            for (var i = 0; i < 40 && !emoji; ++i) {
                var cell = findChild(picker.contentItem, "emoji_" + i)
                if (cell && cell.enabled && cell.text !== editor.theme.name)
                    emoji = cell
            }
            verify(emoji)
            var name = emoji.text
            emoji.clicked()
            compare(editor.theme.name, name)
            verify(!editor.nameTaken)
            editor.lightHalf = false
            findChild(editor.contentItem, "accentSwatches").chosen("#6B46C1")
            compare(editor.theme.dark.themeColors[0].toUpperCase(), "#6B46C1")
            editor.accept()
            tryVerify(function() {
                var model = otherDevice.themeHandler.customThemeModel
                for (var i = 0; i < model.count; ++i) {
                    var theme = model.itemByIndex(i)
                    if (theme.name === name)
                        return theme.dark.themeColors[0].toUpperCase() === "#6B46C1"
                }
                return false
            }, 5000)
            // A name another theme has is refused by the module's check.
            findChild(screen, "newTheme").clicked()
            tryVerify(function() { return editor.opened })
            editor.theme.name = name
            verify(editor.nameTaken)
            editor.reject()
        }

        // A chat's theme is what the server holds: both devices' chats show it.
        function test_aChatsTheme() {
            var chats = findChild(screen, "themeChat")
            var index = chats.model.findIndex(function(chat) { return chat.dialogId === "bookclub" })
            chats.currentIndex = index
            chats.activated(index)
            var theme = testDevice.themeHandler.themeModel.itemByIndex(1)
            findChild(screen, "chatTheme").activated(1)
            tryCompare(otherDevice.chat("bookclub"), "themeId", theme.themeId, 3000)
            tryCompare(findChild(screen, "chatTheme"), "displayText", theme.name, 3000)
            findChild(screen, "clearChatTheme").clicked()
            tryCompare(otherDevice.chat("bookclub"), "themeId", "", 3000)
        }
    }
}
