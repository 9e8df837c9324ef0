#pragma once

#include "accountcomposition.h"
#include "refaccount.h"
#include "scriptedtransport.h"

#include <QString>

#include <memory>

class SettingServiceCmd;
class PrivacyModel;
class SharedPreferenceModel;

// A reference account composed with the module's models, as the demo composes one, over a
// scripted transport. The account is open when the constructor returns; the models' lifecycle
// runs when a test asks (start, startLocal, loadPreferences). The database lives in dataDir: a
// second TestAccount on the same dataDir and id is the same device after a restart.
class TestAccount {
public:
    explicit TestAccount(const QString& dataDir, const QString& accountId = QStringLiteral("account"));
    // A device on another transport (the simulated server's); transport stays null then.
    TestAccount(const QString& dataDir, const QString& accountId, std::unique_ptr<Transport> other);
    ~TestAccount();
    TestAccount(const TestAccount&) = delete;
    TestAccount& operator=(const TestAccount&) = delete;

    std::unique_ptr<AccountComposition> composition;
    RefAccount* account = nullptr;
    ScriptedTransport* transport = nullptr;
    SettingServiceCmd* cmd = nullptr;
    PrivacyModel* privacy = nullptr;
    SharedPreferenceModel* prefs = nullptr;

    // The whole lifecycle start, waited for.
    bool start();
    // The start up to the local copies, waited for.
    bool startLocal();
    // Only the preference store's local load, waited for.
    bool loadPreferences();

    // Fixed clock for deterministic versions.
    qint64 now = 1'700'000'000'000;

    // Waits end as soon as their condition holds; the bound only catches a hang, so it is long
    // enough for the slowest machine and the sanitizer build.
    static constexpr int kWaitMs = 60000;

private:
    void compose(RefAccount* made);
};

// The text of the newest message the module reported to the user, or "" when none.
QString lastReportedError();
