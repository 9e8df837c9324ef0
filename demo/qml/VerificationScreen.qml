import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

ScreenPage {
    id: screen
    property var device
    property color accent
    readonly property var cmd: device.settingServiceCmd
    property string passwordResult
    property string emailResult
    spacing: 8
    onVisibleChanged: if (visible) screen.cmd.getVerificationSetting()

    Connections {
        target: screen.cmd
        function onVerifyPasswordFinished(code, succ, valid, error) {
            screen.passwordResult = valid ? qsTr("Password confirmed.") : error
        }
        function onVerifyEmailFinished(code, succ, tip) { screen.emailResult = tip }
    }

    SectionTitle { text: qsTr("Status") }
    Label {
        text: screen.device.account.verificationEnabled ? qsTr("On — recovery e-mail %1").arg(screen.device.account.verificationEmail)
                                                 : qsTr("Off")
        color: Style.text
        font.pixelSize: 15
    }
    Label {
        visible: screen.device.account.verificationResetAt > 0
        text: qsTr("Reset scheduled for %1").arg(new Date(screen.device.account.verificationResetAt).toLocaleString(Qt.locale(), Locale.ShortFormat))
        color: Style.warning
    }

    SectionTitle { text: qsTr("Confirm your password") }
    RowLayout {
        TextField { id: password; placeholderText: qsTr("Password"); echoMode: TextInput.Password; Layout.fillWidth: true }
        Button { text: qsTr("Confirm"); onClicked: screen.cmd.verifyPassword(password.text) }
    }
    Label { text: screen.passwordResult; color: "#9B1C1C"; wrapMode: Text.Wrap; Layout.fillWidth: true }

    SectionTitle { text: qsTr("Recovery e-mail") }
    RowLayout {
        TextField { id: email; placeholderText: qsTr("name@example.org"); Layout.fillWidth: true }
        Button { text: qsTr("Send code"); onClicked: screen.cmd.verifyEmail(email.text) }
    }
    Label { text: screen.emailResult; color: Style.secondary; wrapMode: Text.Wrap; Layout.fillWidth: true }

    RowLayout {
        Button { text: qsTr("Refresh"); onClicked: screen.cmd.getVerificationSetting() }
        Button { objectName: "resetVerification"; text: qsTr("Reset verification"); onClicked: resetAsk.open() }
    }
    Item { Layout.fillHeight: true }

    ConfirmDialog {
        id: resetAsk
        objectName: "verificationResetAsk"
        title: qsTr("Reset two-step verification")
        text: qsTr("Ask the server to turn two-step verification off after its waiting period?")
        actionText: qsTr("Reset")
        onConfirmed: screen.cmd.resetVerification(false)
    }
}
