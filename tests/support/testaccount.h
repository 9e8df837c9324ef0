#pragma once

#include "refaccount.h"
#include "scriptedtransport.h"

#include <QString>

class SettingServiceCmd;
class PrivacyModel;
class SharedPreferenceModel;

// A reference account over a scripted transport with the module's models registered, as the
// host composes one. The database lives in dataDir; a second TestAccount on the same dataDir
// and id is the same device after a restart.
class TestAccount {
public:
    explicit TestAccount(const QString& dataDir, const QString& accountId = QStringLiteral("account"));
    // A device on another transport (the simulated server's); transport stays null then.
    TestAccount(const QString& dataDir, const QString& accountId, std::unique_ptr<Transport> other);
    ~TestAccount();
    TestAccount(const TestAccount&) = delete;
    TestAccount& operator=(const TestAccount&) = delete;

    RefAccount* account = nullptr;
    ScriptedTransport* transport = nullptr;
    SettingServiceCmd* cmd = nullptr;
    PrivacyModel* privacy = nullptr;
    SharedPreferenceModel* prefs = nullptr;

    // Runs the preference store's local load and waits for it.
    bool loadPreferences();

    // Fixed clock for deterministic versions.
    qint64 now = 1'700'000'000'000;

private:
    void compose();
};
