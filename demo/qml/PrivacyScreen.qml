import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

ScrollView {
    id: screen
    property var device
    property color accent
    readonly property var privacy: device.privacyModel
    contentWidth: availableWidth
    clip: true

    ColumnLayout {
        width: screen.availableWidth
        spacing: 6

        RowLayout {
            SectionTitle { text: qsTr("Who can find and reach me") }
            BusyIndicator { running: privacy.atSending; visible: running; implicitWidth: 22; implicitHeight: 22 }
        }
        SettingSwitch {
            text: qsTr("Find me by phone number")
            value: privacy.findMeByPhone
            busy: privacy.atSending
            onRequested: function(on) { privacy.findMeByPhone = on }
        }
        SettingSwitch {
            text: qsTr("Find me by ID")
            value: privacy.findMeById
            busy: privacy.atSending
            onRequested: function(on) { privacy.findMeById = on }
        }
        SettingSwitch {
            text: qsTr("Chats from strangers")
            hint: qsTr("People outside your contacts can start a chat")
            value: privacy.enableStrangerChat
            busy: privacy.atSending
            onRequested: function(on) { privacy.enableStrangerChat = on }
        }
        SettingSwitch {
            text: qsTr("Accept contacts automatically")
            value: privacy.autoAcceptContact
            busy: privacy.atSending
            onRequested: function(on) { privacy.autoAcceptContact = on }
        }
        SettingSwitch {
            text: qsTr("Security notices")
            value: privacy.enableSecurityNotif
            busy: privacy.atSending
            onRequested: function(on) { privacy.enableSecurityNotif = on }
        }

        SectionTitle { text: qsTr("Last seen and online") }
        RuleEditor { device: screen.device; rule: privacy.lastseen; accent: screen.accent; Layout.fillWidth: true }
        SectionTitle { text: qsTr("Calls") }
        RuleEditor { device: screen.device; rule: privacy.calls; accent: screen.accent; Layout.fillWidth: true }
    }
}
