pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "files.js" as Files

// Themes: the current one, the built-in and the user's own (each drawn from its colours and its
// wallpaper), the colour circles that recolour the current theme, and one chat's theme.
ScreenPage {
    id: screen
    property var device
    property color accent
    property bool dark: false
    readonly property var themes: screen.device.themeHandler
    spacing: 8

    // A theme's half as a small chat: its wallpaper, two bubbles in its message colours, its accent.
    component ThemeCard: Rectangle {
        id: card
        required property var theme
        property bool current: false
        readonly property var half: card.theme ? (screen.dark && card.theme.dark ? card.theme.dark : card.theme.light) : null
        readonly property var wallpaper: card.half ? card.half.wallpaperItem : null
        readonly property var colors: card.wallpaper && card.wallpaper.bgColors.length > 0 ? card.wallpaper.bgColors : ["#E9EDF2"]
        readonly property var bubbles: card.half && card.half.messageColors.length > 0 ? card.half.messageColors : ["#FFFFFF"]
        implicitWidth: 108
        implicitHeight: 132
        radius: 8
        clip: true
        border.width: card.current ? 3 : 1
        border.color: card.current ? screen.accent : "#D5DCE4"
        gradient: Gradient {
            GradientStop { position: 0; color: card.colors[0] }
            GradientStop { position: 1; color: card.colors[card.colors.length - 1] }
        }
        Image {
            anchors.fill: parent
            anchors.margins: 1
            fillMode: card.wallpaper && card.wallpaper.hasPattern ? Image.Tile : Image.PreserveAspectCrop
            asynchronous: true
            sourceSize.width: 220
            opacity: card.wallpaper && card.wallpaper.hasPattern ? card.wallpaper.intensity / 100 + 0.3 : 1
            source: card.wallpaper ? Files.fileUrl(card.wallpaper.hiPhoto) : ""
        }
        Rectangle {
            x: 8; y: 12; width: 60; height: 16; radius: 8
            color: card.bubbles[0]
        }
        Rectangle {
            x: 40; y: 34; width: 60; height: 16; radius: 8
            color: card.bubbles[card.bubbles.length - 1]
        }
        Rectangle {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            height: 34
            color: "#D9FFFFFF"
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
                    color: "#1F2A37"
                }
            }
        }
    }

    RowLayout {
        Layout.fillWidth: true
        SectionTitle { text: qsTr("Current theme") }
        Item { Layout.fillWidth: true }
        CheckBox {
            text: qsTr("Show dark halves")
            checked: screen.dark
            onToggled: screen.dark = checked
        }
        Button {
            text: qsTr("Save as my theme")
            enabled: screen.themes.customThemeModel.count < 10
            onClicked: {
                const made = screen.themes.createTheme(screen.themes.currentTheme);
                made.name = screen.themes.generateThemeName();
                screen.themes.syncCustomTheme();
            }
        }
    }
    RowLayout {
        spacing: 12
        ThemeCard { theme: screen.themes.currentTheme; current: true }
        ColumnLayout {
            Label {
                text: screen.themes.currentTheme ? screen.themes.currentTheme.name : ""
                font.pixelSize: 28
            }
            Label {
                text: screen.themes.currentTheme && screen.themes.currentTheme.modified ? qsTr("changed by you") : qsTr("as it ships")
                color: "#5B6675"
            }
            Flow {
                Layout.preferredWidth: 380
                spacing: 6
                Repeater {
                    model: screen.themes.colorCircleModel
                    delegate: Rectangle {
                        id: swatch
                        required property var colorCircle
                        width: 26; height: 26; radius: 13
                        color: swatch.colorCircle.light.themeColors.length > 0 ? swatch.colorCircle.light.themeColors[0] : "#999999"
                        border.width: screen.themes.colorCircleModel.currentColorId === swatch.colorCircle.colorId ? 3 : 0
                        border.color: "#1F2A37"
                        MouseArea {
                            anchors.fill: parent
                            onClicked: screen.themes.updateThemeWithColorCircle(swatch.colorCircle.colorId)
                        }
                    }
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
            current: screen.themes.currentTheme !== null && screen.themes.currentTheme.themeId === builtIn.theme.themeId
            MouseArea {
                anchors.fill: parent
                onClicked: screen.themes.currentTheme = builtIn.theme
            }
        }
    }

    SectionTitle { text: qsTr("My themes (%1 of 10)").arg(screen.themes.customThemeModel.count) }
    ListView {
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
                onClicked: screen.themes.removeTheme(mine.theme.themeId)
            }
        }
    }

    RowLayout {
        Label {
            text: qsTr("Family chat theme")
            color: "#5B6675"
        }
        ComboBox {
            id: chatTheme
            Layout.preferredWidth: 160
            currentIndex: 0
            model: screen.themes.themeModel
            textRole: "display"
            displayText: {
                const model = screen.themes.themeModel;
                const theme = model.count > 0 ? model.itemByIndex(chatTheme.currentIndex) : null;
                return theme ? theme.name : "";
            }
            delegate: ItemDelegate {
                id: choice
                required property var theme
                required property int index
                width: chatTheme.width
                text: choice.theme.name
            }
        }
        Button {
            text: qsTr("Use for the chat")
            onClicked: screen.themes.syncDialogTheme("family", screen.themes.themeModel.itemByIndex(chatTheme.currentIndex))
        }
        Button {
            text: qsTr("Clear")
            onClicked: screen.themes.removeDialogTheme("family")
        }
    }
    Item { Layout.fillHeight: true }
}
