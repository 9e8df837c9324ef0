import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Asks before a destructive action; with askPassword, the action takes the password typed here.
Dialog {
    id: dialog
    property string text
    property string actionText: qsTr("Continue")
    property bool askPassword: false
    signal confirmed(string password)

    modal: true
    anchors.centerIn: Overlay.overlay
    width: 380
    standardButtons: Dialog.Ok | Dialog.Cancel
    onOpened: {
        password.text = "";
        if (dialog.askPassword)
            password.forceActiveFocus();
    }
    onAccepted: dialog.confirmed(password.text)
    Component.onCompleted: {
        const ok = dialog.standardButton(Dialog.Ok);
        ok.text = Qt.binding(() => dialog.actionText);
        ok.enabled = Qt.binding(() => !dialog.askPassword || password.text.length > 0);
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 10
        Label {
            text: dialog.text
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        TextField {
            id: password
            objectName: "confirmPassword"
            visible: dialog.askPassword
            placeholderText: qsTr("Your password")
            echoMode: TextInput.Password
            Layout.fillWidth: true
            onAccepted: if (text.length > 0) dialog.accept()
        }
    }
}
