import QtQuick
import QtTest
import SettingModel 1.0

// What a client shell's QML sees once the module is registered.
Item {
    id: root

    property PrivacyItem rule: testDevice.privacyModel.lastseen
    // Every model is a type of the module once registered, whatever registered the name first.
    property PrivacyModel privacy: testDevice.privacyModel
    property RingtoneManager ringtones: testDevice.ringtoneManager

    TestCase {
        name: "Registration"

        function test_privacyItemIsATypeButNotCreatable() {
            verify(root.rule !== null)
            compare(root.rule, testDevice.privacyModel.lastseen)
            compare(root.privacy.lastseen, root.rule)
            verify(root.ringtones !== null)
            var reason = ""
            try {
                Qt.createQmlObject("import SettingModel 1.0; PrivacyItem {}", root)
            } catch (e) {
                reason = e.qmlErrors[0].message
            }
            compare(reason, "PrivacyItemis uncreatable")
        }

        function test_deviceObjectsByName() {
            ScreenManage.init()
            verify(ScreenManage.screenCount() >= 1)
            compare(ScreenManage.screenInfoAt(-1).dpr, 1)
            compare(typeof AudioManage.availableOutputDevices().length, "number")
            AudioManage.defaultOutputDeviceName = "registration test"
            compare(AudioManage.defaultOutputDeviceName, "registration test")
            // A screen read in QML is the application's still once its value is collected.
            var count = ScreenManage.screenCount()
            for (var i = 0; i < 3; ++i)
                verify(ScreenManage.screenAt(0).geometry.width > 0)
            gc()
            wait(0)
            compare(ScreenManage.screenCount(), count)
            verify(ScreenManage.screenAt(0) !== null)
        }

        function test_typesCrossThreads() {
            var names = ["PrivacyItem*", "RingtoneManager*", "GroupMutedSettingModel*", "WallpaperItemPtr",
                         "QList<WallpaperItemPtr>", "ThemeHandler*", "ColorCircleModel*"]
            for (var i = 0; i < names.length; ++i)
                verify(relay.knowsType(names[i]), names[i])
            relay.sendFromWorker(3)
            tryCompare(relay, "received", 3)
        }
    }
}
