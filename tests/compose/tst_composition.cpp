#include "accountcomposition.h"
#include "host/accountsettingmodel.h"
#include "im/common.pb.h"
#include "im/notif.pb.h"
#include "im/user.pb.h"
#include "protohelpers.h"
#include "secretwatch.h"
#include "testaccount.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The one composition: what it registers, the order its lifecycle runs in, and sign-out.
class TestComposition : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // A device whose stores already hold a preference and privacy settings.
    void seed(const QString& id)
    {
        TestAccount earlier(m_dir.path(), id);
        QVERIFY(earlier.loadPreferences());
        earlier.prefs->syncChatFolderConfig("stored");
        im::user::ListPrivacySettingsResp settings;
        settings.set_find_me_by_phone(true);
        earlier.account->accountSettingModel()->savePrivacySettings(bytesOf(settings));
    }

private slots:
    void gettersHandOutTheComposedModels()
    {
        TestAccount t(m_dir.path(), QStringLiteral("getters"));
        RefAccount* account = t.account;
        QCOMPARE(account->settingServiceCmd(), t.composition->settingServiceCmd());
        QCOMPARE(account->sharedPreference(), t.composition->sharedPreference());
        QCOMPARE(account->privacyModel(), t.composition->privacyModel());
        QVERIFY(account->groupMutedSettingModel() && account->ringtoneManager());
        QCOMPARE(account->wallpaperHandler(), t.composition->wallpaperHandler());
        QCOMPARE(account->themeHandler(), t.composition->themeHandler());
        QCOMPARE(t.composition->models().size(), 9);
        QVERIFY(account->statusShortCut());
        delete t.privacy;
        QVERIFY(!account->privacyModel());
        QCOMPARE(t.composition->models().size(), 8);
    }

    void startRunsTheLifecycleInOrder()
    {
        seed(QStringLiteral("order"));
        QList<AccountComposition::Stage> stages;
        bool privacyLoadedFirst = true;
        TestAccount t(m_dir.path(), QStringLiteral("order"));
        AccountComposition* composition = t.composition.get();
        connect(composition, &AccountComposition::stageChanged, composition,
                [&stages, composition] { stages.append(composition->stage()); });
        // The store's copy is in before any other model loads its own.
        connect(t.prefs, &SharedPreferenceModel::localDataLoadedChanged, t.prefs,
                [&] { privacyLoadedFirst = t.privacy->findMeByPhone(); });
        QVERIFY(t.start());
        QVERIFY(!privacyLoadedFirst);
        QVERIFY(t.privacy->findMeByPhone());
        QCOMPARE(t.prefs->getKeyValue(QStringLiteral("dialog_folder_config")), QByteArray("stored"));
        QCOMPARE(stages, (QList<AccountComposition::Stage>{
                             AccountComposition::Opening, AccountComposition::LoadingLocalData,
                             AccountComposition::LocalDataLoaded, AccountComposition::Running}));
        stages.clear();
        // Then the server is asked what changed, from the saved offset.
        QCOMPARE(t.transport->count(178), 1);
        t.composition->start();
        QCOMPARE(t.transport->count(178), 1); // started once

        TestAccount local(m_dir.path(), QStringLiteral("local-only"));
        QVERIFY(local.startLocal());
        QCOMPARE(local.transport->count(178), 0);
    }

    void pushesReachTheStore()
    {
        TestAccount t(m_dir.path(), QStringLiteral("pushes"));
        QVERIFY(t.start());
        QSignalSpy dropped(t.account, &RefAccount::pushDropped);
        im::notif::SharedPreferenceUpdatedNotif notif;
        auto* record = notif.add_preferences();
        record->set_key("dialog_folder_config");
        record->set_value("pushed");
        record->set_type(11);
        record->set_version(5);
        t.transport->push(PushSharedPreferenceUpdated, bytesOf(notif));
        QVERIFY(QTest::qWaitFor(
            [&] { return t.prefs->getKeyValue(QStringLiteral("dialog_folder_config")) == "pushed"; }));
        t.transport->push(PushSharedPreferenceUpdated, "\xff\xff not a message");
        QVERIFY(QTest::qWaitFor([&] { return dropped.count() == 1; }));
    }

    void signingOutClearsEveryModel()
    {
        seed(QStringLiteral("signout"));
        TestAccount t(m_dir.path(), QStringLiteral("signout"));
        QVERIFY(t.start());
        QSignalSpy phone(t.privacy, &PrivacyModel::findMeByPhoneChanged);
        t.composition->stop();
        QCOMPARE(t.composition->stage(), AccountComposition::Stopped);
        QVERIFY(!t.prefs->hasKey(QStringLiteral("dialog_folder_config")));
        QVERIFY(!t.privacy->findMeByPhone());
        QCOMPARE(phone.count(), 1); // the interface is told
        // A stopped composition does not start again.
        t.composition->start();
        QCOMPARE(t.composition->stage(), AccountComposition::Stopped);
    }
};

SETTINGMODEL_TEST_GUILESS_MAIN(TestComposition)
#include "tst_composition.moc"
