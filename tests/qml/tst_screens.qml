import QtQuick
import QtQuick.Layouts
import QtTest
import "../../demo/qml"

// Every screen of the demo loads against a device and every dialog opens: a QML module the
// machine lacks, or a warning of the demo's QML, fails the run (tst_qml.cpp turns warnings into
// a failure).
Item {
    id: root
    width: 1280
    height: 720

    GridLayout {
        anchors.fill: parent
        columns: 5
        PrivacyScreen { device: testDevice; accent: "#3A66C4"; Layout.fillWidth: true; Layout.fillHeight: true }
        DevicesScreen { device: testDevice; accent: "#3A66C4"; Layout.fillWidth: true; Layout.fillHeight: true }
        VerificationScreen { device: testDevice; accent: "#3A66C4"; Layout.fillWidth: true; Layout.fillHeight: true }
        PreferencesScreen { device: testDevice; Layout.fillWidth: true; Layout.fillHeight: true }
        NotificationsScreen { device: testDevice; accent: "#3A66C4"; audio: AudioManage; Layout.fillWidth: true; Layout.fillHeight: true }
        WallpapersScreen { device: testDevice; accent: "#3A66C4"; Layout.fillWidth: true; Layout.fillHeight: true }
        ThemesScreen { device: testDevice; accent: "#3A66C4"; Layout.fillWidth: true; Layout.fillHeight: true }
        EmojiScreen { device: testDevice; accent: "#3A66C4"; Layout.fillWidth: true; Layout.fillHeight: true }
        SoundScreen {
            device: testDevice
            accent: "#3A66C4"
            audio: AudioManage
            screens: ScreenManage
            Layout.fillWidth: true
            Layout.fillHeight: true
        }
    }

    TestCase {
        name: "Screens"
        when: windowShown

        function initTestCase() {
            tryVerify(function() { return testDevice.ready }, 5000)
        }

        // The file pickers (the non-native Qt Quick dialogs: their own QML modules) and the
        // confirmations open and close.
        function test_everyDialogOpens_data() {
            return [{tag: "ringtone picker", name: "ringtonePicker", file: true},
                    {tag: "wallpaper picker", name: "wallpaperPicker", file: true},
                    {tag: "sign a device out", name: "signOutAsk", file: false},
                    {tag: "reset two-step verification", name: "verificationResetAsk", file: false},
                    {tag: "reset the wallpapers", name: "wallpaperResetAsk", file: false},
                    {tag: "photo picker", name: "photoPicker", file: true},
                    {tag: "delete a photo", name: "photoDeleteAsk", file: false},
                    {tag: "wallpaper editor", name: "wallpaperEditor", file: false},
                    {tag: "theme editor", name: "themeEditor", file: false}]
        }

        function test_everyDialogOpens(data) {
            var dialog = findChild(root, data.name)
            verify(dialog, data.name)
            if (data.file)
                dialog.parentWindow = root.Window.window
            dialog.open()
            tryVerify(function() { return dialog.visible }, 3000)
            dialog.close()
            tryVerify(function() { return !dialog.visible }, 3000)
        }
    }
}
