pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// This computer's sound output for notification sounds, with a test, and its screens. Both are
// the machine's, not the account's: both devices' windows show the same choice.
ScreenPage {
    id: screen
    property var device
    property color accent
    property var audio
    property var screens
    // Read again on "Refresh" and whenever a screen comes or goes.
    property var outputs: []
    property int screenCount: 0
    spacing: 8

    function refresh() {
        screen.audio.refreshAudioOutputDevice();
        screen.outputs = screen.audio.availableOutputDevices();
        screen.screenCount = 0;
        screen.screenCount = screen.screens.screenCount();
    }

    Component.onCompleted: {
        screen.screens.init();
        screen.refresh();
    }

    Connections {
        target: screen.screens
        function onScreenAdded() { screen.refresh(); }
        function onScreenRemoved() { screen.refresh(); }
    }

    RowLayout {
        SectionTitle { text: qsTr("Notification sounds play on") }
        Item { Layout.fillWidth: true }
        Button { text: qsTr("Refresh"); onClicked: screen.refresh() }
    }
    RowLayout {
        Layout.fillWidth: true
        visible: screen.outputs.length > 0
        // Outputs by what a person calls them; the choice stays the output's id.
        ComboBox {
            id: outputChoice
            objectName: "outputChoice"
            Layout.fillWidth: true
            model: screen.outputs.map(id => ({ id: id, name: screen.audio.outputDescription(id) }))
            textRole: "name"
            currentIndex: screen.outputs.indexOf(screen.audio.defaultOutputDeviceName)
            displayText: currentIndex < 0 ? qsTr("Choose an output") : currentText
            onActivated: index => screen.audio.defaultOutputDeviceName = screen.outputs[index]
        }
        Button {
            text: qsTr("Play a test sound")
            enabled: outputChoice.currentIndex >= 0
            onClicked: screen.audio.test(screen.outputs[outputChoice.currentIndex])
        }
    }
    Label {
        Layout.fillWidth: true
        wrapMode: Text.Wrap
        color: Style.secondary
        text: screen.outputs.length === 0
              ? qsTr("This computer has no audio outputs (no sound server answers).")
              : screen.outputs.indexOf(screen.audio.defaultOutputDeviceName) < 0
                ? qsTr("The chosen output is not connected; sounds play on the computer's default output.")
                : (screen.outputs.length === 1 ? qsTr("One output.") : qsTr("%1 outputs.").arg(screen.outputs.length))
                  + " " + qsTr("The choice is this computer's, shared by every account.")
    }

    SectionTitle { text: qsTr("Screens (%1)").arg(screen.screenCount) }
    // A plain column, not the page's layout: a layout that holds a repeater's rows can
    // crash as the rows go (Qt 6.4).
    Column {
        Layout.fillWidth: true
        Repeater {
            model: screen.screenCount
            delegate: Rectangle {
                id: row
                required property int index
                readonly property var display: screen.screens.screenAt(index)
                // The diagonal a person knows a screen by, from its physical size in millimetres.
                readonly property real inches: row.display ? Math.sqrt(Math.pow(row.display.physicalSize.width, 2)
                                                                       + Math.pow(row.display.physicalSize.height, 2)) / 25.4 : 0
                readonly property string maker: row.display ? [row.display.manufacturer, row.display.model].filter(part => part.length > 0).join(" ") : ""
                width: parent.width
                implicitHeight: rowText.implicitHeight + 16
                radius: 6
                color: Style.alternate
                Column {
                    id: rowText
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.top: parent.top
                    anchors.margins: 8
                    spacing: 2
                    Label {
                        width: parent.width
                        elide: Text.ElideRight
                        font.bold: true
                        color: Style.text
                        // The platform's connector name ("HDMI-1") beside the maker's model; a
                        // platform that names neither gets the screen's place in the list.
                        readonly property string connector: row.display && row.display.name.length > 0 ? row.display.name
                                                                                                       : qsTr("Screen %1").arg(row.index + 1)
                        text: row.maker.length > 0 ? qsTr("%1 (%2)").arg(row.maker).arg(connector) : connector
                    }
                    Label {
                        width: parent.width
                        wrapMode: Text.Wrap
                        color: Style.secondary
                        text: row.display ? qsTr("%1 × %2 pixels at %3, %4%5%6")
                                            .arg(row.display.size.width).arg(row.display.size.height)
                                            .arg(row.display.geometry.x === 0 && row.display.geometry.y === 0 ? qsTr("the top left")
                                                 : qsTr("(%1, %2)").arg(row.display.geometry.x).arg(row.display.geometry.y))
                                            .arg(row.inches >= 1 ? qsTr("%1″, ").arg(row.inches.toFixed(1)) : "")
                                            .arg(qsTr("%1 Hz").arg(Math.round(row.display.refreshRate)))
                                            .arg(row.display.devicePixelRatio !== 1 ? qsTr(", scaled %1×").arg(row.display.devicePixelRatio) : "")
                                          : ""
                    }
                }
            }
        }
    }
    Item { Layout.fillHeight: true }
}
