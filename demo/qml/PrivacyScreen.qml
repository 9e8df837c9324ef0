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
    // A client reads its privacy settings again whenever the screen is shown: privacy has no
    // push, so another device's changes arrive only this way.
    onVisibleChanged: if (visible) screen.device.settingServiceCmd.listPrivacySettings()

    ColumnLayout {
        width: screen.availableWidth
        spacing: 6

        RowLayout {
            SectionTitle { text: qsTr("Who can find and reach me") }
            BusyIndicator { running: screen.privacy.atSending; visible: running; implicitWidth: 22; implicitHeight: 22 }
        }
        SettingSwitch {
            text: qsTr("Find me by phone number")
            value: screen.privacy.findMeByPhone
            busy: screen.privacy.atSending
            onRequested: function(on) { screen.privacy.findMeByPhone = on }
        }
        SettingSwitch {
            text: qsTr("Find me by ID")
            value: screen.privacy.findMeById
            busy: screen.privacy.atSending
            onRequested: function(on) { screen.privacy.findMeById = on }
        }
        SettingSwitch {
            text: qsTr("Chats from strangers")
            hint: qsTr("People outside your contacts can start a chat")
            value: screen.privacy.enableStrangerChat
            busy: screen.privacy.atSending
            onRequested: function(on) { screen.privacy.enableStrangerChat = on }
        }
        SettingSwitch {
            text: qsTr("Accept contacts automatically")
            value: screen.privacy.autoAcceptContact
            busy: screen.privacy.atSending
            onRequested: function(on) { screen.privacy.autoAcceptContact = on }
        }
        SettingSwitch {
            text: qsTr("Security notices")
            value: screen.privacy.enableSecurityNotif
            busy: screen.privacy.atSending
            onRequested: function(on) { screen.privacy.enableSecurityNotif = on }
        }

        SectionTitle { text: qsTr("Last seen and online") }
        RuleEditor { device: screen.device; rule: screen.privacy.lastseen; accent: screen.accent; Layout.fillWidth: true }
        SectionTitle { text: qsTr("Calls") }
        RuleEditor { device: screen.device; rule: screen.privacy.calls; accent: screen.accent; Layout.fillWidth: true }
    }
}
