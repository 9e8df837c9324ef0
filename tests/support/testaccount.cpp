#include "testaccount.h"

#include "host/accountmanager.h"
#include "host/threadmanager.h"
#include "preferences/sharedpreferencemodel.h"

#include <QTest>

TestAccount::TestAccount(const QString& dataDir, const QString& accountId)
{
    auto scripted = std::make_unique<ScriptedTransport>();
    transport = scripted.get();
    compose(new RefAccount(accountId, dataDir, std::move(scripted)));
}

TestAccount::TestAccount(const QString& dataDir, const QString& accountId, std::unique_ptr<Transport> other)
{
    compose(new RefAccount(accountId, dataDir, std::move(other)));
}

void TestAccount::compose(RefAccount* made)
{
    account = made;
    account->setClock([this] { return now; });
    composition = std::make_unique<AccountComposition>(account);
    cmd = composition->settingServiceCmd();
    privacy = composition->privacyModel();
    prefs = composition->sharedPreference();
    account->open();
    QVERIFY(QTest::qWaitFor([this] { return account->isReady(); }, kWaitMs));
}

bool TestAccount::start()
{
    composition->start();
    return QTest::qWaitFor([this] { return composition->stage() == AccountComposition::Running; }, kWaitMs);
}

bool TestAccount::startLocal()
{
    composition->startLocal();
    return QTest::qWaitFor([this] { return composition->stage() == AccountComposition::LocalDataLoaded; },
                           kWaitMs);
}

bool TestAccount::loadPreferences()
{
    prefs->loadLocalData(false);
    return QTest::qWaitFor([this] { return prefs->localDataLoaded(); }, kWaitMs);
}

TestAccount::~TestAccount()
{
    composition.reset();
    ThreadManager::getInstance()->waitForIdle();
}

QString lastReportedError()
{
    const QList<AccountManager::Error> errors = AccountManager::getInstance()->errors();
    return errors.isEmpty() ? QString() : errors.last().text;
}
