import QtQuick
import QtQuick.Layouts
import QtTest
import "../../demo/qml"

// The account screens' actions reach the other device: a verification reset asked for on one is
// seen on the other, and a device signed out from the other (with the password) ends its session.
Item {
    width: 1280
    height: 720

    RowLayout {
        anchors.fill: parent
        VerificationScreen { id: verification; device: testDevice; accent: "#3A66C4"; Layout.fillWidth: true; Layout.fillHeight: true }
        DevicesScreen { id: devices; device: testDevice; accent: "#3A66C4"; Layout.fillWidth: true; Layout.fillHeight: true }
    }

    TestCase {
        name: "AccountScreens"
        when: windowShown

        function initTestCase() {
            server.setPassword("correct horse")
            server.setVerification("me@example.org", true)
            tryVerify(function() { return testDevice.ready && otherDevice.ready }, 5000)
        }

        function test_1_verificationResetSeenOnTheOther() {
            var ask = findChild(verification, "verificationResetAsk")
            findChild(verification, "resetVerification").clicked()
            tryVerify(function() { return ask.opened })
            ask.accept()
            tryVerify(function() { return testDevice.account.verificationResetAt > 0 }, 3000)
            otherDevice.settingServiceCmd.getVerificationSetting()
            tryVerify(function() { return otherDevice.account.verificationResetAt > 0 }, 3000)
        }

        // The last test: the other device's session ends.
        function test_2_signingTheOtherDeviceOut() {
            devices.cmd.listDevices()
            var button = null
            tryVerify(function() { button = findChild(devices, "signOut_2"); return button !== null }, 3000)
            button.clicked()
            var ask = findChild(devices, "signOutAsk")
            tryVerify(function() { return ask.opened })
            var password = findChild(ask.contentItem, "confirmPassword")
            password.text = "wrong"
            ask.accept()
            tryVerify(function() { return devices.unlinkResult.indexOf("not signed out") >= 0 }, 3000)
            tryVerify(function() { return !ask.visible })
            // A refused password ends nobody's session, this device's least of all.
            verify(!otherDevice.signedOut)
            verify(!testDevice.signedOut)
            tryVerify(function() { button = findChild(devices, "signOut_2"); return button !== null }, 3000)
            button.clicked()
            tryVerify(function() { return ask.opened })
            password.text = "correct horse"
            ask.accept()
            tryVerify(function() { return otherDevice.signedOut }, 3000)
            compare(devices.unlinkResult, "The device was signed out.")
        }
    }
}
