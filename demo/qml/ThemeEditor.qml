pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "looks.js" as Looks

// Edits a theme on the module's working copy: its emoji name (checked by the module), and for
// each half its accent, its message colours and its wallpaper, with a chat preview. Saving writes
// it over the theme edited, or as a new theme of the user's own.
Dialog {
    id: editor
    property var device
    readonly property var themes: editor.device.themeHandler
    property var theme: null
    property bool isNew: false
    property string originalName
    property bool lightHalf: true
    readonly property var half: editor.theme ? (editor.lightHalf ? editor.theme.light : editor.theme.dark) : null
    // The half's wallpaper as it will be saved: the working copy while its pattern is changed.
    readonly property var shownWallpaper: editor.half ? (editor.half.editWallpaper ? editor.half.editWallpaper : editor.half.wallpaperItem) : null
    readonly property var swatches: ["#3A66C4", "#2F855A", "#C05621", "#B83280", "#6B46C1", "#0987A0", "#C53030", "#4A5568"]
    readonly property var bubbleSwatches: ["#FFFFFF", "#DCF1FF", "#E6F4EA", "#FFF4D6", "#F3E8FF", "#2D3748", "#1A365D", "#22543D"]
    // The module's check; the theme may keep the name it had.
    readonly property bool nameTaken: editor.theme !== null && editor.theme.name !== editor.originalName
                                      && editor.themes.inValidThemeName(editor.theme.name)

    function edit(source, asNew) {
        editor.isNew = asNew;
        editor.theme = asNew ? editor.themes.createTheme(source) : editor.themes.editTheme(source);
        if (!editor.theme)
            return;
        if (asNew)
            editor.theme.name = editor.themes.generateThemeName();
        editor.originalName = asNew ? "" : editor.theme.name;
        editor.lightHalf = true;
        editor.open();
    }

    title: editor.isNew ? qsTr("A new theme") : qsTr("Edit the theme")
    modal: true
    anchors.centerIn: Overlay.overlay
    width: Math.min(560, Overlay.overlay ? Overlay.overlay.width - 40 : 560)
    height: Math.min(660, Overlay.overlay ? Overlay.overlay.height - 40 : 660)
    standardButtons: Dialog.Save | Dialog.Cancel
    Component.onCompleted: {
        const save = editor.standardButton(Dialog.Save);
        save.objectName = "saveTheme";
        save.enabled = Qt.binding(() => editor.theme !== null && !editor.nameTaken);
    }
    onAccepted: {
        if (editor.isNew)
            editor.themes.syncCustomTheme();
        else
            editor.themes.syncEditTheme();
        editor.theme = null;
    }
    onRejected: {
        editor.themes.cancel();
        editor.theme = null;
    }

    Flickable {
        anchors.fill: parent
        contentHeight: content.implicitHeight
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {}
        ColumnLayout {
            id: content
            width: parent.width - 12
            spacing: 6
            RowLayout {
                Label { text: qsTr("Name"); color: Style.secondary }
                Button {
                    id: nameButton
                    objectName: "themeName"
                    text: editor.theme ? editor.theme.name : ""
                    font.pixelSize: 22
                    onClicked: emoji.open()
                    EmojiPicker {
                        id: emoji
                        objectName: "themeNamePicker"
                        y: nameButton.height
                        table: editor.device.emojiTable()
                        themes: editor.themes
                        ownName: editor.originalName
                        onPicked: name => editor.theme.name = name
                    }
                }
                Label {
                    visible: editor.nameTaken
                    text: qsTr("Another theme has this name.")
                    color: Style.failure
                }
                Item { Layout.fillWidth: true }
            }
            TabBar {
                Layout.fillWidth: true
                currentIndex: editor.lightHalf ? 0 : 1
                onCurrentIndexChanged: editor.lightHalf = currentIndex === 0
                TabButton { text: qsTr("Light mode") }
                TabButton { objectName: "darkHalf"; text: qsTr("Dark mode") }
            }
            WallpaperView {
                Layout.fillWidth: true
                Layout.preferredHeight: 150
                wallpaper: editor.shownWallpaper
                bubbles: true
                bubbleColors: editor.half && editor.half.messageColors.length > 0 ? editor.half.messageColors : ["#FFFFFF"]
                Rectangle {
                    anchors.right: parent.right
                    anchors.bottom: parent.bottom
                    anchors.margins: 10
                    width: 34; height: 34; radius: 17
                    color: editor.half && editor.half.themeColors.length > 0 ? editor.half.themeColors[0] : "#999999"
                    Label { anchors.centerIn: parent; text: "➤"; color: "white" }
                }
            }
            component Swatches: RowLayout {
                id: row
                property string title
                property var colors
                property var current: []
                signal chosen(string color)
                Label { text: row.title; color: Style.secondary; Layout.preferredWidth: 110 }
                Repeater {
                    model: row.colors
                    Rectangle {
                        id: swatch
                        required property string modelData
                        width: 28; height: 28; radius: 14
                        color: swatch.modelData
                        border.width: row.current.length > 0 && row.current[0].toUpperCase() === swatch.modelData.toUpperCase() ? 3 : 1
                        border.color: border.width > 1 ? "#1F2A37" : "#C9D3DF"
                        MouseArea { anchors.fill: parent; onClicked: row.chosen(swatch.modelData) }
                    }
                }
            }
            Swatches {
                objectName: "accentSwatches"
                title: qsTr("Accent")
                colors: editor.swatches
                current: editor.half ? editor.half.themeColors : []
                onChosen: color => editor.half.themeColors = [color]
            }
            Swatches {
                objectName: "bubbleSwatches"
                title: qsTr("My messages")
                colors: editor.bubbleSwatches
                current: editor.half ? editor.half.messageColors : []
                onChosen: color => editor.half.messageColors = [color]
            }
            Label { text: qsTr("Wallpaper"); color: Style.secondary }
            ListView {
                Layout.fillWidth: true
                Layout.preferredHeight: 92
                orientation: ListView.Horizontal
                spacing: 6
                clip: true
                model: editor.device.wallpaperHandler.wallpaperModel
                delegate: Item {
                    id: choice
                    required property var itemModel
                    width: 62
                    height: 90
                    WallpaperView {
                        anchors.fill: parent
                        anchors.bottomMargin: 16
                        wallpaper: choice.itemModel
                    }
                    Label {
                        anchors.bottom: parent.bottom
                        width: parent.width
                        elide: Text.ElideRight
                        font.pixelSize: 10
                        text: Looks.wallpaperName(choice.itemModel)
                    }
                    MouseArea {
                        anchors.fill: parent
                        onClicked: editor.themes.setWallpaper(editor.lightHalf, choice.itemModel)
                    }
                }
            }
            // A pattern wallpaper takes any pattern of the list over its own colours.
            Label {
                visible: editor.shownWallpaper !== null && editor.shownWallpaper.hasPattern
                text: qsTr("Pattern")
                color: Style.secondary
            }
            ListView {
                visible: editor.shownWallpaper !== null && editor.shownWallpaper.hasPattern
                Layout.fillWidth: true
                Layout.preferredHeight: 56
                orientation: ListView.Horizontal
                spacing: 6
                clip: true
                model: editor.device.wallpaperHandler.patternModel
                delegate: WallpaperView {
                    id: pattern
                    required property var itemModel
                    required property int index
                    objectName: "pattern_" + pattern.index
                    width: 44
                    height: 52
                    wallpaper: pattern.itemModel
                    MouseArea {
                        anchors.fill: parent
                        onClicked: editor.half.updatePattern(pattern.itemModel)
                    }
                }
            }
        }
    }
}
