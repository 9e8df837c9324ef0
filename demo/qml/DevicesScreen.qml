pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

ScreenPage {
    id: screen
    property var device
    property color accent
    readonly property var cmd: device.settingServiceCmd
    spacing: 8
    // Shown again: the list may have changed on another device.
    onVisibleChanged: if (visible) screen.cmd.listDevices()

    RowLayout {
        SectionTitle { text: qsTr("Signed-in devices (%1 of at most %2)").arg(list.count).arg(screen.device.account.maxDeviceCount) }
        Item { Layout.fillWidth: true }
        Button { text: qsTr("Refresh"); onClicked: screen.cmd.listDevices() }
    }
    ListView {
        id: list
        Layout.fillWidth: true
        Layout.preferredHeight: Math.min(contentHeight, 320)
        clip: true
        model: screen.device.deviceModel
        spacing: 6
        delegate: Rectangle {
            id: row
            required property int deviceId
            required property string name
            required property string platform
            required property var lastActive
            required property bool current
            width: ListView.view.width
            height: 56
            radius: 8
            color: row.current ? "#EEF4FF" : Style.alternate
            RowLayout {
                anchors.fill: parent
                anchors.margins: 10
                ColumnLayout {
                    spacing: 0
                    Label { text: row.name + (row.current ? qsTr("  · this device") : ""); font.bold: row.current; color: Style.text }
                    Label {
                        text: row.platform + " · " + qsTr("active %1").arg(new Date(row.lastActive).toLocaleString(Qt.locale(), Locale.ShortFormat))
                        color: Style.faint
                        font.pixelSize: 11
                    }
                }
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "signOut_" + row.deviceId
                    visible: !row.current
                    text: qsTr("Sign out")
                    onClicked: {
                        signOut.deviceId = row.deviceId;
                        signOut.text = qsTr("Sign %1 out? It will have to sign in again.").arg(row.name);
                        signOut.open();
                    }
                }
            }
        }
    }

    SectionTitle { text: qsTr("Sign out inactive devices after") }
    ComboBox {
        model: [qsTr("Never"), qsTr("1 week"), qsTr("1 month"), qsTr("3 months")]
        currentIndex: screen.device.deviceModel.deleteTimer
        onActivated: function(index) { screen.cmd.updateDeviceDeleteTimer(index) }
    }
    // The answer to a sign-out: the module tells it by signal only, so the screen says it.
    property string unlinkResult
    Connections {
        target: screen.cmd
        function onUnlinkDeviceFinished(code) {
            screen.unlinkResult = code === 0 ? qsTr("The device was signed out.")
                                             : qsTr("The device was not signed out: the password was not accepted, or the server refused (code %1).").arg(code)
        }
    }
    Label {
        visible: screen.unlinkResult.length > 0
        text: screen.unlinkResult
        wrapMode: Text.Wrap
        color: Style.secondary
        Layout.fillWidth: true
    }
    Item { Layout.fillHeight: true }

    // Signing a device out takes the user's password, asked for here, never kept.
    ConfirmDialog {
        id: signOut
        objectName: "signOutAsk"
        property int deviceId
        title: qsTr("Sign a device out")
        actionText: qsTr("Sign out")
        askPassword: true
        onConfirmed: function(password) { screen.cmd.unlinkDevices([signOut.deviceId], password) }
    }
}
