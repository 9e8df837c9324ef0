pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "files.js" as Files

// Recent emoji and reactions, status shortcuts and the alternative profile photos with their
// audiences.
ScreenPage {
    id: screen
    property var device
    property color accent
    readonly property var photos: screen.device.alternativeProfilePhoto
    readonly property var picks: ["😀", "🎉", "👍", "🍜", "🚀", "🌧️"]
    spacing: 8

    component RecentRow: ColumnLayout {
        id: recent
        required property var model
        required property string title
        RowLayout {
            SectionTitle { text: recent.title + " (" + recent.model.count + ")" }
            Item { Layout.fillWidth: true }
            Repeater {
                model: screen.picks
                delegate: ToolButton {
                    required property string modelData
                    text: modelData
                    font.pixelSize: 18
                    onClicked: recent.model.emojiUsed(modelData, -1, -1)
                }
            }
            Button { text: qsTr("Clear"); onClicked: recent.model.clearRecent() }
        }
        ListView {
            Layout.fillWidth: true
            Layout.preferredHeight: 36
            orientation: ListView.Horizontal
            spacing: 4
            model: recent.model
            delegate: Rectangle {
                id: used
                required property string emoji
                required property int packId
                required property int emojiId
                width: 34; height: 34; radius: 6
                color: "#F1F4F8"
                Label { anchors.centerIn: parent; text: used.emoji; font.pixelSize: 18 }
                MouseArea {
                    anchors.fill: parent
                    onClicked: recent.model.remove(used.emoji, used.packId, used.emojiId)
                }
            }
        }
    }

    RecentRow { model: screen.device.recentEmoji; title: qsTr("Recent emoji"); Layout.fillWidth: true }
    RecentRow { model: screen.device.recentReactions; title: qsTr("Recent reactions"); Layout.fillWidth: true }

    RowLayout {
        SectionTitle { text: qsTr("Status shortcuts") }
        Item { Layout.fillWidth: true }
        Button {
            text: qsTr("Set two shortcuts")
            onClicked: screen.device.writeStatusShortcuts([qsTr("In a meeting"), qsTr("Lunch")], ["📅", "🍜"])
        }
    }
    Flow {
        Layout.fillWidth: true
        spacing: 6
        Repeater {
            model: screen.device.statusShortCut.shortCutSetting
            delegate: Rectangle {
                id: shortcut
                required property var modelData
                width: label.implicitWidth + 20
                height: 30
                radius: 15
                color: "#EEF1F5"
                Label {
                    id: label
                    anchors.centerIn: parent
                    text: shortcut.modelData.emoji + " " + shortcut.modelData.desc
                }
            }
        }
    }

    RowLayout {
        SectionTitle { text: qsTr("Alternative profile photos") }
        BusyIndicator { running: screen.photos.modifying; visible: running; implicitWidth: 24; implicitHeight: 24 }
        Item { Layout.fillWidth: true }
        CheckBox {
            text: qsTr("Non-contacts see one")
            checked: screen.photos.showToNonContact
            onToggled: screen.photos.changeShowToNonContact(checked)
        }
        Button { text: qsTr("Add a photo"); onClicked: screen.device.addAlternativePhoto(screen.accent) }
    }
    ListView {
        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.minimumHeight: 200
        orientation: ListView.Horizontal
        spacing: 8
        clip: true
        model: screen.photos
        delegate: Rectangle {
            id: card
            required property var profilePhoto
            width: 120
            height: 170
            radius: 8
            border.color: "#D5DCE4"
            ColumnLayout {
                anchors.fill: parent
                anchors.margins: 6
                Image {
                    Layout.preferredWidth: 108
                    Layout.preferredHeight: 90
                    fillMode: Image.PreserveAspectCrop
                    source: Files.fileUrl(card.profilePhoto.srcPhotoInfo)
                    opacity: card.profilePhoto.uploading ? 0.5 : 1
                }
                Label {
                    text: card.profilePhoto.uploading ? qsTr("uploading…")
                                                      : qsTr("audience: %1").arg(card.profilePhoto.userList.length)
                    font.pixelSize: 11
                    color: "#5B6675"
                }
                RowLayout {
                    Button {
                        text: qsTr("Alice only")
                        font.pixelSize: 11
                        onClicked: card.profilePhoto.setIds([101], [])
                    }
                    ToolButton { text: "×"; onClicked: card.profilePhoto.deletePhoto() }
                }
            }
        }
    }
}
