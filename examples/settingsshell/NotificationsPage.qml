pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import SettingModel

// The tone for new messages, chosen by the name the module gives it, and heard on the chosen
// output.
Item {
    id: page

    required property RingtoneManager ringtones
    readonly property var presets: page.ringtones.presetRingtones()
    readonly property string current: page.ringtones.globalRingtoneSetting.presetName

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 16
        spacing: 8

        Label {
            text: qsTr("Tone for new messages")
            font.bold: true
        }
        RowLayout {
            ComboBox {
                id: tones

                objectName: "messageTone"
                Layout.fillWidth: true
                model: page.presets
                textRole: "name"
                currentIndex: page.presets.findIndex(tone => tone.id === (page.current.length > 0 ? page.current : "system_ringtone"))
                onActivated: index => page.ringtones.setGlobalRingtone(page.presets[index].id, false, false)
            }
            Button {
                text: qsTr("Play")
                enabled: tones.currentIndex >= 0
                onClicked: page.ringtones.playRingtone(page.presets[tones.currentIndex].id, false)
            }
        }
        Label {
            text: qsTr("%1 custom ringtones").arg(page.ringtones.customRingtoneModel.count)
        }
        Item { Layout.fillHeight: true }
    }
}
