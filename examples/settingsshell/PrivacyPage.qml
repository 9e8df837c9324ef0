pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import SettingModel

// Who can find the user, and who sees when he was last online: each change goes to the server
// and shows once the server took it.
Item {
    id: page

    required property PrivacyModel privacy

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 16
        spacing: 8

        component Toggle: Switch {
            id: toggle

            required property string setting

            objectName: toggle.setting
            checked: page.privacy[toggle.setting]
            enabled: !page.privacy.atSending
            onToggled: {
                page.privacy[toggle.setting] = toggle.checked
                toggle.checked = Qt.binding(() => page.privacy[toggle.setting])
            }
        }

        Toggle { setting: "findMeByPhone"; text: qsTr("Find me by phone number") }
        Toggle { setting: "findMeById"; text: qsTr("Find me by ID") }
        Toggle { setting: "enableStrangerChat"; text: qsTr("Chats from people I do not know") }

        Label {
            text: qsTr("Last seen and online")
            font.bold: true
        }
        Repeater {
            model: [qsTr("Everybody"), qsTr("My contacts"), qsTr("Nobody")]
            RadioButton {
                required property string modelData
                required property int index

                text: modelData
                checked: page.privacy.lastseen.rule === index
                onClicked: page.privacy.lastseen.changeRule(index)
            }
        }
        Item { Layout.fillHeight: true }
    }
}
