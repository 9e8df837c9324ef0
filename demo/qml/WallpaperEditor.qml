pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "directory.js" as Directory
import "looks.js" as Looks

// One wallpaper full size with its settings on a working copy (a live preview), applied to the
// app's light or dark look, or to a chat; a chat's own wallpaper can be taken away here too.
Dialog {
    id: editor
    property var device
    readonly property var themes: editor.device.themeHandler
    // The working copy the module made for this edit; dropped on close.
    property var wallpaper: null
    property string chatId: "family"
    signal applied(string text)

    function edit(item) {
        editor.wallpaper = editor.themes.editWallpaper(item);
        editor.open();
    }
    // The app's look is the current theme's: the wallpaper goes into one half of it.
    function useForApp(light) {
        const theme = editor.themes.editTheme(editor.themes.currentTheme);
        if (!theme)
            return;
        editor.themes.setWallpaper(light, editor.wallpaper);
        editor.themes.syncEditTheme();
        editor.applied(light ? qsTr("The wallpaper is the app's in light mode.") : qsTr("The wallpaper is the app's in dark mode."));
        editor.close();
    }

    title: Looks.wallpaperName(editor.wallpaper)
    modal: true
    anchors.centerIn: Overlay.overlay
    width: Math.min(560, Overlay.overlay ? Overlay.overlay.width - 40 : 560)
    height: Math.min(640, Overlay.overlay ? Overlay.overlay.height - 40 : 640)
    standardButtons: Dialog.Close
    onClosed: {
        editor.themes.cancelEditWallpaper();
        editor.wallpaper = null;
    }

    Flickable {
        anchors.fill: parent
        contentHeight: settings.implicitHeight
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {}
        ColumnLayout {
            id: settings
            width: parent.width - 12
            spacing: 6
            WallpaperView {
                objectName: "wallpaperPreview"
                wallpaper: editor.wallpaper
                bubbles: true
                Layout.fillWidth: true
                Layout.preferredHeight: 200
            }
            GridLayout {
                columns: 2
                Layout.fillWidth: true
                Label { text: qsTr("Blur"); color: Style.secondary }
                Slider {
                    objectName: "blurSlider"
                    Layout.fillWidth: true
                    from: 0; to: 30; stepSize: 1
                    value: editor.wallpaper ? editor.wallpaper.blur : 0
                    onMoved: editor.wallpaper.blur = value
                }
                Label { text: editor.wallpaper && editor.wallpaper.hasPattern ? qsTr("Pattern strength") : qsTr("Dim"); color: Style.secondary }
                Slider {
                    objectName: "intensitySlider"
                    Layout.fillWidth: true
                    from: 0; to: 100; stepSize: 1
                    value: editor.wallpaper ? Math.abs(editor.wallpaper.intensity) : 0
                    onMoved: editor.wallpaper.intensity = value
                }
                Label { text: qsTr("Colour angle"); color: Style.secondary; visible: editor.wallpaper && editor.wallpaper.bgColors.length > 1 }
                Slider {
                    visible: editor.wallpaper && editor.wallpaper.bgColors.length > 1
                    Layout.fillWidth: true
                    from: 0; to: 315; stepSize: 45; snapMode: Slider.SnapAlways
                    value: editor.wallpaper ? editor.wallpaper.rotation : 0
                    onMoved: editor.wallpaper.rotation = value
                }
                Label { text: qsTr("Fill"); color: Style.secondary; visible: editor.wallpaper && !editor.wallpaper.hasPattern }
                ComboBox {
                    objectName: "fillChoice"
                    visible: editor.wallpaper && !editor.wallpaper.hasPattern
                    Layout.fillWidth: true
                    model: [qsTr("Fit the whole picture"), qsTr("Fill the chat"), qsTr("Tile")]
                    currentIndex: editor.wallpaper ? Math.max(0, Math.min(2, editor.wallpaper.fillType)) : 1
                    onActivated: index => editor.wallpaper.fillType = index
                }
                Label { text: qsTr("Motion"); color: Style.secondary }
                Switch {
                    objectName: "motionSwitch"
                    checked: editor.wallpaper ? editor.wallpaper.isMotion : false
                    onToggled: editor.wallpaper.isMotion = checked
                }
            }
            SectionTitle { text: qsTr("Use it") }
            RowLayout {
                Button { objectName: "useLight"; text: qsTr("In light mode"); onClicked: editor.useForApp(true) }
                Button { objectName: "useDark"; text: qsTr("In dark mode"); onClicked: editor.useForApp(false) }
            }
            RowLayout {
                Layout.fillWidth: true
                ComboBox {
                    id: chatChoice
                    objectName: "wallpaperChat"
                    Layout.fillWidth: true
                    model: Directory.chats(editor.device)
                    textRole: "name"
                    currentIndex: model.findIndex(chat => chat.dialogId === editor.chatId)
                    onActivated: index => editor.chatId = model[index].dialogId
                }
                CheckBox { id: bothSides; text: qsTr("for both of us"); checked: true }
            }
            RowLayout {
                Button {
                    objectName: "useForChat"
                    text: qsTr("Use in this chat")
                    enabled: editor.device.online
                    onClicked: {
                        editor.themes.syncDialogWallpaper(editor.chatId, editor.wallpaper, bothSides.checked);
                        editor.applied(qsTr("The wallpaper was sent for %1.").arg(chatChoice.currentText));
                        editor.close();
                    }
                }
                Button {
                    objectName: "removeChatWallpaper"
                    text: qsTr("Take the chat's wallpaper away")
                    enabled: editor.device.online
                    onClicked: {
                        editor.themes.removeDialogWallPaper(editor.chatId);
                        editor.applied(qsTr("%1 has no wallpaper of its own any more.").arg(chatChoice.currentText));
                        editor.close();
                    }
                }
            }
            Label {
                visible: !editor.device.online
                text: qsTr("A chat's wallpaper is set on the server: connect first.")
                color: Style.warning
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
        }
    }
}
