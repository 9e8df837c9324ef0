#include "testaccount.h"

#include "commands/settingservicecmd.h"
#include "host/threadmanager.h"
#include "preferences/sharedpreferencemodel.h"
#include "privacy/privacymodel.h"

#include <QTest>

TestAccount::TestAccount(const QString& dataDir, const QString& accountId)
{
    auto scripted = std::make_unique<ScriptedTransport>();
    transport = scripted.get();
    account = new RefAccount(accountId, dataDir, std::move(scripted));
    compose();
}

TestAccount::TestAccount(const QString& dataDir, const QString& accountId, std::unique_ptr<Transport> other)
{
    account = new RefAccount(accountId, dataDir, std::move(other));
    compose();
}

void TestAccount::compose()
{
    account->setClock([this] { return now; });
    account->open();
    QVERIFY(QTest::qWaitFor([this] { return account->isReady(); }));

    cmd = new SettingServiceCmd(account);
    account->setSettingServiceCmd(cmd);
    privacy = new PrivacyModel(account);
    account->setPrivacyModel(privacy);
    prefs = new SharedPreferenceModel(account);
    account->setSharedPreference(prefs);
}

bool TestAccount::loadPreferences()
{
    prefs->loadLocalData(false);
    return QTest::qWaitFor([this] { return prefs->localDataLoaded(); });
}

TestAccount::~TestAccount()
{
    delete account;
    ThreadManager::getInstance()->waitForIdle();
}
