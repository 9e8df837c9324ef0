import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

ColumnLayout {
    id: screen
    property var device
    property color accent
    readonly property var cmd: device.settingServiceCmd
    spacing: 8

    RowLayout {
        SectionTitle { text: qsTr("Signed-in devices (%1 of at most %2)").arg(list.count).arg(device.account.maxDeviceCount) }
        Item { Layout.fillWidth: true }
        Button { text: qsTr("Refresh"); onClicked: cmd.listDevices() }
    }
    ListView {
        id: list
        Layout.fillWidth: true
        Layout.preferredHeight: Math.min(contentHeight, 320)
        clip: true
        model: device.deviceModel
        spacing: 6
        delegate: Rectangle {
            width: ListView.view.width
            height: 56
            radius: 8
            color: current ? "#EEF4FF" : "#F6F8FA"
            RowLayout {
                anchors.fill: parent
                anchors.margins: 10
                ColumnLayout {
                    spacing: 0
                    Label { text: name + (current ? qsTr("  · this device") : ""); font.bold: current; color: "#1F2A37" }
                    Label {
                        text: platform + " · " + qsTr("active %1").arg(new Date(lastActive).toLocaleString(Qt.locale(), Locale.ShortFormat))
                        color: "#7A8594"
                        font.pixelSize: 11
                    }
                }
                Item { Layout.fillWidth: true }
                Button {
                    visible: !current
                    text: qsTr("Sign out")
                    onClicked: cmd.unlinkDevices([deviceId], "correct horse")
                }
            }
        }
    }

    SectionTitle { text: qsTr("Sign out inactive devices after") }
    ComboBox {
        model: [qsTr("Never"), qsTr("1 week"), qsTr("1 month"), qsTr("3 months")]
        currentIndex: device.deviceModel.deleteTimer
        onActivated: function(index) { cmd.updateDeviceDeleteTimer(index) }
    }
    Item { Layout.fillHeight: true }
}
