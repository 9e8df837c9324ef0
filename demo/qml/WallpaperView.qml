import QtQuick
import "files.js" as Files

// A wallpaper drawn as a chat shows it: its colours (a gradient turned by its rotation), its
// picture or pattern over them with its blur, dim or pattern strength and fill, moving slowly
// when motion is on; with `bubbles`, two messages in the given colours on top.
Item {
    id: view
    property var wallpaper
    property bool bubbles: false
    property var bubbleColors: ["#FFFFFF", "#DCF1FF"]
    // Bubbles side by side, for a strip only one bubble high.
    property bool compact: false
    readonly property var colors: view.wallpaper && view.wallpaper.bgColors.length > 0 ? view.wallpaper.bgColors : ["#DDE3EA"]
    readonly property bool pattern: view.wallpaper ? view.wallpaper.hasPattern : false
    readonly property int blur: view.wallpaper ? view.wallpaper.blur : 0
    readonly property int intensity: view.wallpaper ? view.wallpaper.intensity : 0
    readonly property bool motion: view.wallpaper ? view.wallpaper.isMotion : false
    clip: true

    // Text that reads on a bubble of that colour.
    function inkOn(bubble) {
        return Qt.color(bubble).hslLightness > 0.55 ? "#1F2A37" : "#FFFFFF";
    }

    Rectangle {
        anchors.centerIn: parent
        width: Math.hypot(view.width, view.height)
        height: width
        rotation: view.wallpaper ? view.wallpaper.rotation : 0
        gradient: Gradient {
            GradientStop { position: 0; color: view.colors[0] }
            GradientStop { position: 1; color: view.colors[view.colors.length - 1] }
        }
    }
    Image {
        id: picture
        width: view.width + (view.motion ? 24 : 0)
        height: view.height + (view.motion ? 24 : 0)
        x: view.motion ? -12 : 0
        y: view.motion ? -12 : 0
        asynchronous: true
        smooth: true
        // A blur drawn the cheap way: the picture read small and scaled up smoothly.
        sourceSize.width: view.blur > 0 ? Math.max(12, 360 / (1 + view.blur / 2)) : Math.max(64, view.width * 1.5)
        fillMode: view.pattern || (view.wallpaper && view.wallpaper.fillType === 2) ? Image.Tile
                : view.wallpaper && view.wallpaper.fillType === 0 ? Image.PreserveAspectFit : Image.PreserveAspectCrop
        opacity: view.pattern ? Math.max(0.1, Math.abs(view.intensity) / 100) : 1
        source: !view.wallpaper ? "" : view.pattern ? Files.fileUrl(view.wallpaper.hiPhoto)
                                                    : (Files.fileUrl(view.wallpaper.hiPhoto) || Files.fileUrl(view.wallpaper.loPhoto))
        SequentialAnimation on x {
            running: view.motion && view.visible
            loops: Animation.Infinite
            NumberAnimation { from: -12; to: 0; duration: 2500; easing.type: Easing.InOutSine }
            NumberAnimation { from: 0; to: -12; duration: 2500; easing.type: Easing.InOutSine }
        }
    }
    // A picture is dimmed by its intensity; a pattern's intensity is its strength instead.
    Rectangle {
        anchors.fill: parent
        color: "black"
        opacity: !view.pattern && picture.status === Image.Ready ? Math.max(0, view.intensity) / 100 * 0.6 : 0
    }
    Rectangle {
        visible: view.bubbles
        x: 12; y: view.compact ? (view.height - height) / 2 : 14
        width: Math.min(view.width * 0.6, 180); height: view.compact ? 26 : 30; radius: 12
        color: view.bubbleColors[0]
        Text { anchors.centerIn: parent; text: qsTr("Are we still on for Sunday?"); font.pixelSize: 11; color: view.inkOn(view.bubbleColors[0]); elide: Text.ElideRight; width: parent.width - 12 }
    }
    Rectangle {
        visible: view.bubbles
        x: view.width - width - 12; y: view.compact ? (view.height - height) / 2 : 52
        width: Math.min(view.width * 0.5, 150); height: view.compact ? 26 : 30; radius: 12
        color: view.bubbleColors[view.bubbleColors.length - 1]
        Text { anchors.centerIn: parent; text: qsTr("Yes, 10 at the harbour"); font.pixelSize: 11; color: view.inkOn(view.bubbleColors[view.bubbleColors.length - 1]); elide: Text.ElideRight; width: parent.width - 12 }
    }
}
