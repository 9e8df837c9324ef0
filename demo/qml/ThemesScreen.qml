pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "directory.js" as Directory

// Themes: the current one as a chat looks with it (its half for the app's mode), the built-in
// and the user's own themes, each editable; colour circles that recolour either half of the
// current theme; and any chat's theme as the server holds it.
ScreenPage {
    id: screen
    property var device
    property color accent
    // The app's mode: the half of each theme that shows.
    property bool dark: false
    readonly property var themes: screen.device.themeHandler
    property string chatId: "family"
    readonly property var chat: screen.device.chat(screen.chatId)
    // The half the colour circles recolour.
    property bool circlesDark: screen.dark
    spacing: 8

    function themeById(id) {
        return id.length === 0 ? null : (screen.themes.themeModel.itemById(id) || screen.themes.customThemeModel.itemById(id));
    }

    // A theme's half as a small chat: its wallpaper, two bubbles in its message colours, its accent.
    component ThemeCard: Rectangle {
        id: card
        required property var theme
        property bool current: false
        readonly property var half: card.theme ? (screen.dark && card.theme.dark ? card.theme.dark : card.theme.light) : null
        implicitWidth: 108
        implicitHeight: 132
        radius: 8
        clip: true
        border.width: card.current ? 3 : 1
        border.color: card.current ? screen.accent : "#D5DCE4"
        WallpaperView {
            anchors.fill: parent
            anchors.margins: 1
            wallpaper: card.half ? card.half.wallpaperItem : null
        }
        TransferBar {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.margins: 4
            file: card.half && card.half.wallpaperItem ? card.half.wallpaperItem.hiPhoto : null
        }
        Rectangle {
            x: 8; y: 12; width: 60; height: 16; radius: 8
            color: Style.base
        }
        Rectangle {
            x: 40; y: 34; width: 60; height: 16; radius: 8
            color: card.half && card.half.messageColors.length > 0 ? card.half.messageColors[0] : "#DCF1FF"
        }
        Rectangle {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            height: 34
            color: Qt.rgba(Style.base.r, Style.base.g, Style.base.b, 0.88)
            RowLayout {
                anchors.fill: parent
                anchors.margins: 5
                Rectangle {
                    width: 14; height: 14; radius: 7
                    color: card.half && card.half.themeColors.length > 0 ? card.half.themeColors[0] : "#999999"
                }
                Label {
                    text: card.theme ? card.theme.name + (card.theme.modified ? " *" : "") : ""
                    font.pixelSize: 13
                    elide: Text.ElideRight
                    Layout.fillWidth: true
                    color: Style.text
                }
            }
        }
    }

    RowLayout {
        Layout.fillWidth: true
        SectionTitle { text: qsTr("Current theme") }
        Item { Layout.fillWidth: true }
        Button {
            objectName: "editCurrentTheme"
            text: qsTr("Edit…")
            enabled: screen.themes.currentTheme !== null
            onClicked: editor.edit(screen.themes.currentTheme, false)
        }
        Button {
            objectName: "newTheme"
            text: qsTr("New from this…")
            enabled: screen.themes.currentTheme !== null && screen.themes.customThemeModel.count < 10
            onClicked: editor.edit(screen.themes.currentTheme, true)
        }
    }
    RowLayout {
        spacing: 12
        Layout.fillWidth: true
        // The chat as it looks with the current theme in the app's mode.
        WallpaperView {
            readonly property var half: screen.themes.currentTheme ? (screen.dark && screen.themes.currentTheme.dark ? screen.themes.currentTheme.dark
                                                                                                                  : screen.themes.currentTheme.light) : null
            Layout.preferredWidth: 220
            Layout.preferredHeight: 130
            wallpaper: half ? half.wallpaperItem : null
            bubbles: true
            bubbleColors: half && half.messageColors.length > 0 ? ["#FFFFFF", half.messageColors[0]] : ["#FFFFFF", "#DCF1FF"]
        }
        ColumnLayout {
            Layout.fillWidth: true
            Label {
                text: screen.themes.currentTheme ? screen.themes.currentTheme.name : ""
                font.pixelSize: 28
            }
            Label {
                text: (screen.themes.currentTheme && screen.themes.currentTheme.modified ? qsTr("changed by you") : qsTr("as it ships"))
                      + " · " + (screen.dark ? qsTr("dark mode") : qsTr("light mode"))
                color: Style.secondary
            }
            Button {
                objectName: "resetTheme"
                visible: screen.themes.currentTheme !== null && screen.themes.currentTheme.preset && screen.themes.currentTheme.modified
                text: qsTr("Reset to how it ships")
                onClicked: screen.themes.resetPresetTheme(screen.themes.currentTheme)
            }
        }
    }
    RowLayout {
        Layout.fillWidth: true
        Label { text: qsTr("Colour circles for"); color: Style.secondary }
        RadioButton { text: qsTr("light mode"); checked: !screen.circlesDark; onClicked: screen.circlesDark = false }
        RadioButton { objectName: "circlesDark"; text: qsTr("dark mode"); checked: screen.circlesDark; onClicked: screen.circlesDark = true }
    }
    Flow {
        Layout.fillWidth: true
        spacing: 6
        Repeater {
            model: screen.themes.colorCircleModel
            delegate: Rectangle {
                id: swatch
                required property var colorCircle
                required property int index
                readonly property var side: screen.circlesDark ? swatch.colorCircle.dark : swatch.colorCircle.light
                objectName: "circle_" + swatch.index
                width: 26; height: 26; radius: 13
                color: swatch.side && swatch.side.themeColors.length > 0 ? swatch.side.themeColors[0] : "#999999"
                border.width: screen.themes.colorCircleModel.currentColorId === swatch.colorCircle.colorId ? 3 : 0
                border.color: Style.text
                MouseArea {
                    anchors.fill: parent
                    onClicked: screen.themes.updateThemeWithColorCircle(screen.circlesDark, swatch.colorCircle.colorId)
                }
            }
        }
    }

    SectionTitle { text: qsTr("Built-in themes") }
    ListView {
        Layout.fillWidth: true
        Layout.preferredHeight: 136
        orientation: ListView.Horizontal
        spacing: 8
        clip: true
        model: screen.themes.themeModel
        delegate: ThemeCard {
            id: builtIn
            objectName: "builtInTheme_" + builtIn.theme.themeId
            current: screen.themes.currentTheme !== null && screen.themes.currentTheme.themeId === builtIn.theme.themeId
            MouseArea {
                anchors.fill: parent
                onClicked: screen.themes.currentTheme = builtIn.theme
            }
        }
    }

    SectionTitle { text: qsTr("My themes (%1 of 10)").arg(screen.themes.customThemeModel.count) }
    Label {
        visible: screen.themes.customThemeModel.count === 0
        text: qsTr("None yet: “New from this…” makes one from the current theme.")
        color: Style.faint
    }
    ListView {
        visible: screen.themes.customThemeModel.count > 0
        Layout.fillWidth: true
        Layout.preferredHeight: 136
        orientation: ListView.Horizontal
        spacing: 8
        clip: true
        model: screen.themes.customThemeModel
        delegate: ThemeCard {
            id: mine
            current: screen.themes.currentTheme !== null && screen.themes.currentTheme.themeId === mine.theme.themeId
            MouseArea {
                anchors.fill: parent
                onClicked: screen.themes.currentTheme = mine.theme
            }
            ToolButton {
                anchors.top: parent.top
                anchors.right: parent.right
                text: "×"
                Accessible.name: qsTr("Remove %1").arg(mine.theme.name)
                onClicked: screen.themes.removeTheme(mine.theme.themeId)
            }
        }
    }

    SectionTitle { text: qsTr("A chat's theme") }
    RowLayout {
        Layout.fillWidth: true
        ComboBox {
            id: chatChoice
            objectName: "themeChat"
            Layout.preferredWidth: 160
            model: Directory.chats(screen.device)
            textRole: "name"
            currentIndex: model.findIndex(entry => entry.dialogId === screen.chatId)
            onActivated: index => screen.chatId = model[index].dialogId
        }
        // What the server holds for the chat, on every device alike.
        ComboBox {
            id: chatTheme
            objectName: "chatTheme"
            Layout.fillWidth: true
            readonly property var held: screen.chat ? screen.themeById(screen.chat.themeId) : null
            model: screen.themes.themeModel
            textRole: "display"
            currentIndex: chatTheme.held ? screen.themes.themeModel.count >= 0 && Array.from({ length: screen.themes.themeModel.count },
                                                                                                (_, i) => screen.themes.themeModel.itemByIndex(i).themeId)
                                                                                       .indexOf(chatTheme.held.themeId) : -1
            displayText: chatTheme.held ? chatTheme.held.name : qsTr("the app's theme")
            delegate: ItemDelegate {
                id: choice
                required property var theme
                width: chatTheme.width
                text: choice.theme.name
            }
            onActivated: index => screen.themes.syncDialogTheme(screen.chatId, screen.themes.themeModel.itemByIndex(index))
        }
        Button {
            objectName: "clearChatTheme"
            text: qsTr("Clear")
            enabled: chatTheme.held !== null
            onClicked: screen.themes.removeDialogTheme(screen.chatId)
        }
    }
    Item { Layout.fillHeight: true }

    ThemeEditor {
        id: editor
        objectName: "themeEditor"
        device: screen.device
    }
}
