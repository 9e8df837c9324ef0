pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Every privacy setting of the account: who can find and reach the user, what new chats may do,
// archiving, the inactive-account timer and the five rules with their exceptions.
ScreenPage {
    id: screen
    property var device
    property color accent
    readonly property var privacy: device.privacyModel
    readonly property var selfDestructTimes: [{ value: 0, text: qsTr("Off") }, { value: 86400, text: qsTr("1 day") },
                                              { value: 604800, text: qsTr("1 week") }, { value: 2592000, text: qsTr("30 days") }]
    readonly property var inactiveMonths: [1, 3, 6, 12]
    spacing: 6
    // A client reads its privacy settings again whenever the screen is shown: privacy has no
    // push, so another device's changes arrive only this way.
    onVisibleChanged: if (visible) screen.device.settingServiceCmd.listPrivacySettings()

    component Choice: RowLayout {
        id: choice
        property string text
        property var options
        property int value
        signal requested(int value)
        Layout.fillWidth: true
        Label { text: choice.text; color: Style.text; font.pixelSize: 14; Layout.fillWidth: true; wrapMode: Text.Wrap }
        ComboBox {
            objectName: "choice_" + choice.text
            Layout.preferredWidth: 170
            enabled: !screen.privacy.atSending
            model: choice.options
            textRole: "text"
            currentIndex: choice.options.findIndex(option => option.value === choice.value)
            displayText: currentIndex < 0 ? qsTr("not set") : currentText
            onActivated: index => choice.requested(choice.options[index].value)
        }
    }


    RowLayout {
        SectionTitle { text: qsTr("Who can find and reach me") }
        BusyIndicator { running: screen.privacy.atSending; visible: running; implicitWidth: 22; implicitHeight: 22 }
    }
    SettingSwitch {
        text: qsTr("Find me by phone number")
        value: screen.privacy.findMeByPhone
        busy: screen.privacy.atSending
        onRequested: on => screen.privacy.findMeByPhone = on
    }
    SettingSwitch {
        text: qsTr("Find me by ID")
        value: screen.privacy.findMeById
        busy: screen.privacy.atSending
        onRequested: on => screen.privacy.findMeById = on
    }
    SettingSwitch {
        text: qsTr("Chats from strangers")
        hint: qsTr("People outside your contacts can start a chat")
        value: screen.privacy.enableStrangerChat
        busy: screen.privacy.atSending
        onRequested: on => screen.privacy.enableStrangerChat = on
    }
    SettingSwitch {
        text: qsTr("Accept contacts automatically")
        value: screen.privacy.autoAcceptContact
        busy: screen.privacy.atSending
        onRequested: on => screen.privacy.autoAcceptContact = on
    }
    SettingSwitch {
        text: qsTr("Security notices")
        value: screen.privacy.enableSecurityNotif
        busy: screen.privacy.atSending
        onRequested: on => screen.privacy.enableSecurityNotif = on
    }

    SectionTitle { text: qsTr("New chats") }
    Choice {
        text: qsTr("Messages in new chats disappear after")
        options: screen.selfDestructTimes
        value: screen.privacy.newChatSelfDestructTime
        onRequested: value => screen.privacy.newChatSelfDestructTime = value
    }
    // Count and days go to the server together; 0 and 0 is no limit.
    Label {
        text: screen.privacy.messageCountLimit > 0
              ? qsTr("Strangers may send %1 messages in %2 days before I answer")
                .arg(screen.privacy.messageCountLimit).arg(screen.privacy.messageDaysLimit)
              : qsTr("Strangers may send any number of messages before I answer")
        color: Style.text
        font.pixelSize: 14
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    RowLayout {
        Layout.fillWidth: true
        SpinBox {
            id: limitCount
            objectName: "limitCount"
            from: 0
            to: 100
            editable: true
            value: screen.privacy.messageCountLimit
            Accessible.name: qsTr("Messages")
        }
        Label { text: qsTr("in"); color: Style.secondary }
        SpinBox {
            id: limitDays
            objectName: "limitDays"
            from: 0
            to: 30
            editable: true
            value: screen.privacy.messageDaysLimit
            Accessible.name: qsTr("Days")
        }
        Label { text: qsTr("days"); color: Style.secondary }
        Button {
            objectName: "limitApply"
            text: qsTr("Apply")
            enabled: !screen.privacy.atSending && (limitCount.value !== screen.privacy.messageCountLimit
                                                   || limitDays.value !== screen.privacy.messageDaysLimit)
            onClicked: screen.privacy.setMessageLimit(limitCount.value, limitDays.value)
        }
    }

    SectionTitle { text: qsTr("Archived chats") }
    SettingSwitch {
        text: qsTr("Unarchive a chat when a message comes")
        value: screen.privacy.autoUnarchiveDialog
        busy: screen.privacy.atSending
        onRequested: on => screen.privacy.autoUnarchiveDialog = on
    }
    SettingSwitch {
        text: qsTr("… also muted chats")
        value: screen.privacy.autoUnarchiveMutedDialog
        busy: screen.privacy.atSending
        onRequested: on => screen.privacy.autoUnarchiveMutedDialog = on
    }
    SettingSwitch {
        text: qsTr("… also chats in folders")
        value: screen.privacy.autoUnarchiveDialogInFolder
        busy: screen.privacy.atSending
        onRequested: on => screen.privacy.autoUnarchiveDialogInFolder = on
    }

    SectionTitle { text: qsTr("My account") }
    Choice {
        text: qsTr("Delete my account if I am away for")
        options: screen.inactiveMonths.map(months => ({ value: months, text: months === 1 ? qsTr("1 month") : qsTr("%1 months").arg(months) }))
        value: screen.privacy.deleteInactiveAccountMonth
        onRequested: value => screen.privacy.deleteInactiveAccountMonth = value
    }

    RuleEditor {
        objectName: "lastseen"
        title: qsTr("Last seen and online")
        device: screen.device
        rule: screen.privacy.lastseen
        accent: screen.accent
    }
    RuleEditor {
        objectName: "status"
        title: qsTr("Status")
        device: screen.device
        rule: screen.privacy.status
        accent: screen.accent
    }
    RuleEditor {
        objectName: "calls"
        title: qsTr("Calls")
        device: screen.device
        rule: screen.privacy.calls
        accent: screen.accent
    }
    RuleEditor {
        objectName: "showRealPhoto"
        title: qsTr("Real profile photo")
        hint: qsTr("Who sees your real photo; the others see an alternative one, if you set any.")
        device: screen.device
        rule: screen.privacy.showRealPhoto
        accent: screen.accent
    }
    RuleEditor {
        objectName: "forwardMyMessage"
        title: qsTr("Forwarded messages")
        hint: qsTr("Who is named when your messages are forwarded.")
        device: screen.device
        rule: screen.privacy.forwardMyMessage
        accent: screen.accent
    }
}
