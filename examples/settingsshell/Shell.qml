pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import SettingModel

// A small settings client of its own: privacy, notifications, sound and screens of one account.
ApplicationWindow {
    id: window

    required property PrivacyModel privacy
    required property RingtoneManager ringtones
    readonly property int screensListed: soundPage.screensListed
    // Why the server cannot be reached, while it cannot; empty otherwise.
    property string connectionProblem

    width: 520
    height: 480
    visible: true
    title: qsTr("Settings")

    header: TabBar {
        id: tabs

        TabButton { text: qsTr("Privacy") }
        TabButton { text: qsTr("Notifications") }
        TabButton { text: qsTr("Sound and screens") }
    }

    footer: Label {
        width: window.width
        visible: window.connectionProblem.length > 0
        text: window.connectionProblem
        wrapMode: Text.Wrap
        padding: 8
        color: "#B3261E"
    }

    StackLayout {
        anchors.fill: parent
        currentIndex: tabs.currentIndex

        PrivacyPage { privacy: window.privacy }
        NotificationsPage { ringtones: window.ringtones }
        SoundAndScreensPage { id: soundPage }
    }
}
