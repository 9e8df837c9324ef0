// Two devices of one user against the simulated server, through the real module and host.
#include "commands/settingservicecmd.h"
#include "emoji/statusshortcut.h"
#include "host/accountmanager.h"
#include "host/accountsettingmodel.h"
#include "host/contacts.h"
#include "host/cryptoaes.h"
#include "host/datainfomodel.h"
#include "host/dialogbase.h"
#include "host/jsonutil.h"
#include "host/stickers.h"
#include "host/threadmanager.h"
#include "im/content.pb.h"
#include "media.h"
#include "notifications/groupmutedsettingmodel.h"
#include "notifications/ringtonemanager.h"
#include "preferences/sharedpreferencemodel.h"
#include "privacy/privacymodel.h"
#include "profilephotos/alternativeprofilephoto.h"
#include "refcontacts.h"
#include "reffilemanager.h"
#include "refstores.h"
#include "secretwatch.h"
#include "simserver.h"
#include "testaccount.h"
#include "themes/themehandler.h"
#include "wallpapers/wallpaperhandler.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

namespace {

const QString kConfig = QStringLiteral("dialog_folder_config");
constexpr int kConfigType = SharedPreferenceModel::DialogFolderConfig;
constexpr qint64 kHour = 60 * 60 * 1000;

// What a device's database holds for a key.
QByteArray storedValue(TestAccount& device, const QString& key, int type)
{
    ThreadManager::getInstance()->waitForIdle();
    for (const auto& row : device.account->storage()->sharedPreferenceStorage()->allInfos()) {
        if (row.key == key && row.type == type)
            return row.value;
    }
    return {};
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<SimServer> m_server;
    qint64 m_world = 1'750'000'000'000; // the server's clock; devices add their skew
    std::unique_ptr<TestAccount> m_a;
    std::unique_ptr<TestAccount> m_b;
    QHash<int, qint64> m_skew;
    int m_run = 0;

    std::unique_ptr<TestAccount> startDevice(int deviceId)
    {
        auto device = std::make_unique<TestAccount>(
            m_dir.path(), QStringLiteral("run%1-device%2").arg(m_run).arg(deviceId),
            m_server->connectDevice(deviceId, QStringLiteral("Device %1").arg(deviceId),
                                    QStringLiteral("desktop")));
        device->account->setClock([this, deviceId] { return m_world + m_skew.value(deviceId); });
        return device->start() ? std::move(device) : nullptr;
    }

    // Lets the server answer everything in flight, and the devices fetch what it listed.
    bool settle()
    {
        const auto idle = [](TestAccount* device) {
            return !device || (!device->cmd->isInFlight(178) &&
                               device->account->refFileManager()->pendingTransfers() == 0 &&
                               device->account->wallpaperHandler()->wallpaperModel()->count() > 0);
        };
        return QTest::qWaitFor([&] {
            QCoreApplication::sendPostedEvents();
            return m_a->cmd && idle(m_a.get()) && idle(m_b.get());
        });
    }

private slots:
    void init()
    {
        ++m_run;
        m_skew.clear();
        m_server = std::make_unique<SimServer>();
        m_server->setClock([this] { return m_world; });
        m_server->setLatency(3);
        m_a = startDevice(1);
        m_b = startDevice(2);
        QVERIFY(m_a && m_b);
        QVERIFY(settle());
        AccountManager::getInstance()->clearRecords();
    }

    void cleanup()
    {
        m_a.reset();
        m_b.reset();
        m_server.reset();
    }

    void aCustomRingtoneTravelsAndItsRemovalFallsBack()
    {
        RingtoneManager* onA = m_a->account->ringtoneManager();
        RingtoneManager* onB = m_b->account->ringtoneManager();
        const QString wav =
            media::writeWav(m_dir.filePath(QStringLiteral("run%1-bell.wav").arg(m_run)), 1500);
        onA->addRingtoneByPath(wav);
        QVERIFY(QTest::qWaitFor([&] {
            return onA->customRingtoneModel()->count() == 1 && onB->customRingtoneModel()->count() == 1;
        }));
        const QString id = onA->customRingtoneModel()->items().first()->fileId();
        QCOMPARE(onB->customRingtoneModel()->items().first()->fileId(), id);

        // A chat on A rings with it; B learns the choice and plays it from its own download.
        onA->setChatRingtone(QStringLiteral("d1"), id, true);
        QVERIFY(QTest::qWaitFor([&] {
            const RingtoneSetting* chat = onB->getRingtoneSetting(QStringLiteral("d1"));
            return chat && chat->customId() == id;
        }));
        QVariantMap normal;
        QVERIFY(QTest::qWaitFor([&] {
            normal = onB->getValidRingtone(QStringLiteral("d1")).value(QStringLiteral("normal")).toMap();
            return normal.value(QStringLiteral("iscustom")).toBool();
        }));
        const QString played = normal.value(QStringLiteral("ringtone")).toString();
        QVERIFY(played != wav);
        QFile original(wav);
        QFile copy(played);
        QVERIFY(original.open(QIODevice::ReadOnly) && copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), original.readAll());

        // Removed on B: the chat on A falls back to the system tone.
        RingtoneSetting* chat = onA->ringtoneSetting(QStringLiteral("d1"));
        QVERIFY(chat->customPriority());
        m_world += 1000; // the removal comes later than every write of A
        onB->deleteRingtone(id);
        QVERIFY(QTest::qWaitFor([&] {
            return onA->customRingtoneModel()->count() == 0 && onB->customRingtoneModel()->count() == 0;
        }));
        QCOMPARE(chat->presetName(), QStringLiteral("system_ringtone"));
        QVERIFY(!chat->customPriority());
    }

    // A sound received in a message becomes a ringtone through a server-side copy.
    void aRingtoneFromAMessageIsACopyOfItsFile()
    {
        const QString wav =
            media::writeWav(m_dir.filePath(QStringLiteral("run%1-voice.wav").arg(m_run)), 700);
        FileManager* filesOnA = m_a->account->fileManager();
        const FileDataPtr sent =
            filesOnA->createFileData(QVariantMap{{QStringLiteral("filePath"), wav}}, 3, false, 0);
        const auto filter = filesOnA->makeFilter(sent, {});
        int status = -1;
        filter->callback = [&status](int stage, int result) {
            if (stage == upload::Finished)
                status = result;
        };
        filesOnA->uploadMultiFile(filter, upload::Normal);
        QVERIFY(QTest::qWaitFor([&status] { return status != -1; }));
        QCOMPARE(status, int(upload::Ok));

        im::content::FileInfo info;
        info.set_file_id(sent->fileId().toStdString());
        info.set_aes_key(sent->aesKey().toStdString());
        const FileDataPtr received = m_b->account->fileManager()->createFileData(info, 3, 0);
        RingtoneManager* onB = m_b->account->ringtoneManager();
        onB->addRingtoneByMsg(received.data(), QStringLiteral("Voice note"));
        RingtoneManager* onA = m_a->account->ringtoneManager();
        QVERIFY(QTest::qWaitFor([&] {
            return onA->customRingtoneModel()->count() == 1 && onB->customRingtoneModel()->count() == 1;
        }));
        const CustomRingtoneItem* item = onA->customRingtoneModel()->items().first();
        QVERIFY(item->fileId() != sent->fileId()); // a copy, which the sender's deletion leaves alone
        QCOMPARE(item->type, 1);
        QCOMPARE(item->file->fileName(), QStringLiteral("Cloud Tone"));
    }

    void ringtonesAddedAtOnceOnBothDevicesBothStay()
    {
        RingtoneManager* onA = m_a->account->ringtoneManager();
        RingtoneManager* onB = m_b->account->ringtoneManager();
        onA->addRingtoneByPath(
            media::writeWav(m_dir.filePath(QStringLiteral("run%1-a.wav").arg(m_run)), 800));
        onB->addRingtoneByPath(
            media::writeWav(m_dir.filePath(QStringLiteral("run%1-b.wav").arg(m_run)), 900));
        const auto ids = [](RingtoneManager* manager) {
            QStringList list;
            for (const CustomRingtoneItem* item : manager->customRingtoneModel()->items())
                list.append(item->fileId());
            std::sort(list.begin(), list.end());
            return list;
        };
        QVERIFY(QTest::qWaitFor([&] { return ids(onA).size() == 2 && ids(onA) == ids(onB); }));
        QVERIFY(settle());
        QCOMPARE(ids(onA), ids(onB));
        QCOMPARE(jsonToList(QByteArray::fromStdString(
                                m_server->preference(QStringLiteral("custom_ringtone_list"), 15)->value()))
                     .size(),
                 2);
    }

    void aMutedGroupExceptionEditedOnOneDeviceReachesTheOther()
    {
        for (TestAccount* device : {m_a.get(), m_b.get()})
            device->account->addDialog(QStringLiteral("g7"), true,
                                       QSharedPointer<GroupModel>::create(7, QStringLiteral("Climbing")));
        m_a->account->groupMutedSettingModel()->updateGroupNotification(QStringLiteral("g7"), false, true,
                                                                        true);
        GroupMutedSettingModel* onB = m_b->account->groupMutedSettingModel();
        QVERIFY(QTest::qWaitFor([onB] { return onB->mutedSetting(QStringLiteral("g7")); }));
        const GroupMutedSetting* exception = onB->mutedSetting(QStringLiteral("g7"));
        QVERIFY(!exception->reply() && exception->at() && exception->atAll());
        QVERIFY(m_a->account->groupMutedSettingModel()->deleteGroupNotification(QStringLiteral("g7"), true));
        QVERIFY(QTest::qWaitFor([onB] { return !onB->mutedSetting(QStringLiteral("g7")); }));
    }

    void writesArriveAndConvergeOnOneWinner()
    {
        m_a->prefs->syncChatFolderConfig("folders from A");
        QVERIFY(QTest::qWaitFor([this] { return m_b->prefs->getKeyValue(kConfig) == "folders from A"; }));
        QCOMPARE(m_b->account->accountSettingModel()->chatFolderConfig(), QByteArray("folders from A"));
        QCOMPARE(m_server->preference(kConfig, kConfigType)->value(), std::string("folders from A"));

        // Both write before either hears back; B's write is the later one.
        m_world += 1000;
        m_a->prefs->syncChatFolderConfig("A");
        m_world += 1000;
        m_b->prefs->syncChatFolderConfig("B");
        QVERIFY(QTest::qWaitFor([this] {
            return m_a->prefs->getKeyValue(kConfig) == "B" && m_b->prefs->getKeyValue(kConfig) == "B" &&
                   m_a->account->accountSettingModel()->chatFolderConfig() == "B";
        }));
        QCoreApplication::processEvents();
        QCOMPARE(m_b->prefs->getKeyValue(kConfig), QByteArray("B"));
        QCOMPARE(storedValue(*m_a, kConfig, kConfigType), QByteArray("B"));
        QCOMPARE(storedValue(*m_b, kConfig, kConfigType), QByteArray("B"));
    }

    // The account says synchronised only when nothing of its own waits for the server and news
    // was asked for since it came online.
    void syncStateTellsTheTruth()
    {
        RefAccount* a = m_a->account;
        QTRY_COMPARE(a->syncState(), int(RefAccount::Synchronised));
        m_a->prefs->syncChatFolderConfig("sent");
        QCOMPARE(a->syncState(), int(RefAccount::Sending));
        QCOMPARE(a->unsentChanges(), 1);
        QTRY_COMPARE(a->syncState(), int(RefAccount::Synchronised));

        m_server->setDeviceOnline(1, false);
        a->setOnline(false);
        QCOMPARE(a->syncState(), int(RefAccount::Offline));
        m_a->prefs->syncChatFolderConfig("kept");
        QVERIFY(QTest::qWaitFor([this] { return !m_a->cmd->isInFlight(180); }));
        QCOMPARE(a->syncState(), int(RefAccount::Offline));
        QCOMPARE(a->unsentChanges(), 1);
        m_server->setDeviceOnline(1, true);
        a->setOnline(true);
        QCOMPARE(a->syncState(), int(RefAccount::Sending));
        QTRY_COMPARE(a->unsentChanges(), 0);
        // Back online, the device asked what it missed by itself.
        QTRY_COMPARE(a->syncState(), int(RefAccount::Synchronised));
    }

    void aRestartedDeviceCatchesUpByOffset()
    {
        m_a->prefs->syncChatFolderConfig("before");
        QVERIFY(QTest::qWaitFor([this] { return m_b->prefs->getKeyValue(kConfig) == "before"; }));
        const qint64 offsetBefore = m_b->account->dataInfoModel()->sharedReferenceOffset();
        m_b.reset();
        m_server->setDeviceOnline(2, false);

        m_world += 1000;
        m_a->prefs->syncChatFolderConfig("while B was down");
        m_a->prefs->syncMessageExif(true, true);
        QVERIFY(QTest::qWaitFor([this] { return m_server->preferenceCount() == 2; }));

        const int listsBefore = m_server->requestCount(178);
        m_b = startDevice(2);
        QVERIFY(m_b);
        QSignalSpy listed(m_b->prefs, &SharedPreferenceBase::listFinished);
        QCOMPARE(m_b->prefs->getKeyValue(kConfig), QByteArray("before")); // its own copy first
        QVERIFY(QTest::qWaitFor([&] { return listed.count() == 1; }));
        QCOMPARE(m_b->prefs->getKeyValue(kConfig), QByteArray("while B was down"));
        QVERIFY(m_b->account->accountSettingModel()->mediaMessageExif());
        QCOMPARE(m_server->requestCount(178), listsBefore + 1); // one page from where it stopped
        QVERIFY(m_b->account->dataInfoModel()->sharedReferenceOffset() > offsetBefore);
        QCOMPARE(storedValue(*m_b, kConfig, kConfigType), QByteArray("while B was down"));
    }

    void privacyChangesAndRulesAreSeenAfterListingAgain()
    {
        QSignalSpy acknowledged(m_a->privacy, &PrivacyModel::findMeByPhoneChanged);
        m_a->privacy->setFindMeByPhone(true);
        QVERIFY(QTest::qWaitFor([&] { return acknowledged.count() == 1; }));
        QVERIFY(!m_b->privacy->findMeByPhone());
        m_a->account->refUserManager()->addUser(44, QStringLiteral("Eve"));
        m_a->privacy->lastseen()->addBlacks({44}, {}, {});
        QVERIFY(QTest::qWaitFor([this] { return m_a->privacy->lastseen()->blacklist()->count() == 1; }));
        m_b->cmd->listPrivacySettings();
        QVERIFY(QTest::qWaitFor([this] {
            return m_b->privacy->findMeByPhone() &&
                   m_b->privacy->lastseen()->blacklist()->userIds() == QVariantList{44};
        }));

        // A value the server refuses leaves both devices as they were.
        QSignalSpy sending(m_a->privacy, &PrivacyModel::atSendingChanged);
        m_a->privacy->setDeleteInactiveAccountMonth(5);
        QVERIFY(QTest::qWaitFor([&] { return sending.count() == 2; }));
        const auto errors = AccountManager::getInstance()->errors();
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.at(0).text, QStringLiteral("general_fail"));
        QCOMPARE(errors.at(0).command, 122);
        QCOMPARE(m_a->privacy->deleteInactiveAccountMonth(), 0);
        m_b->cmd->listPrivacySettings();
        QVERIFY(QTest::qWaitFor([this] { return !m_b->cmd->isInFlight(121); }));
        QCOMPARE(m_b->privacy->deleteInactiveAccountMonth(), 0);
        QVERIFY(m_b->privacy->findMeByPhone());
    }

    void faultsLeaveEveryDeviceConsistent()
    {
        // A refused write: A goes back to the server's value, in memory, on disk and in the
        // account's settings; the server and B are untouched.
        m_a->prefs->syncChatFolderConfig("agreed");
        QVERIFY(QTest::qWaitFor([this] { return m_b->prefs->getKeyValue(kConfig) == "agreed"; }));
        m_world += 10;
        QSignalSpy handled(m_server.get(), &SimServer::requestHandled);
        m_server->failCommand(180, 403, 1);
        m_a->prefs->syncChatFolderConfig("refused");
        QCOMPARE(m_a->prefs->getKeyValue(kConfig), QByteArray("refused")); // shown until the answer
        QVERIFY(QTest::qWaitFor([this] { return m_a->prefs->getKeyValue(kConfig) == "agreed"; }));
        QCOMPARE(storedValue(*m_a, kConfig, kConfigType), QByteArray("agreed"));
        QCOMPARE(m_a->account->accountSettingModel()->chatFolderConfig(), QByteArray("agreed"));
        QCOMPARE(m_server->preferenceValue(kConfig, kConfigType), QStringLiteral("agreed"));
        QCOMPARE(m_b->prefs->getKeyValue(kConfig), QByteArray("agreed"));
        QCOMPARE(storedValue(*m_b, kConfig, kConfigType), QByteArray("agreed"));

        // A dropped deduplicated command blocks only itself, until the request times out; then
        // its failure path runs and it can be sent again.
        m_a->account->setRequestTimeout(200);
        m_server->dropCommand(46, 1);
        QSignalSpy devices(m_a->cmd, &SettingServiceCmd::listDevicesFinished);
        const int asked = m_server->requestCount(46); // at the start, with the news
        m_a->cmd->listDevices();
        QVERIFY(QTest::qWaitFor([&] { return m_server->requestCount(46) == asked + 1; }));
        m_a->cmd->listDevices();
        m_a->cmd->listFeatures();
        QVERIFY(QTest::qWaitFor([this] { return !m_a->cmd->isInFlight(174); }));
        QCOMPARE(m_server->requestCount(46), asked + 1);
        QVERIFY(m_a->cmd->isInFlight(46));
        QVERIFY(QTest::qWaitFor([&] { return devices.count() == 1; }));
        QVERIFY(!devices.at(0).at(0).toBool());
        m_a->cmd->listDevices();
        QVERIFY(QTest::qWaitFor([&] { return devices.count() == 2; }));
        QVERIFY(devices.at(1).at(0).toBool());
        QCOMPARE(m_server->requestCount(46), asked + 2);

        // An offline device misses pushes and catches up when it lists again.
        m_server->setDeviceOnline(2, false);
        m_world += 10;
        handled.clear();
        m_a->prefs->syncChatFolderConfig("while offline");
        // Pushes leave before the writer's answer, so once it is answered B would have one.
        QVERIFY(QTest::qWaitFor([&] { return handled.count() == 1; }));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(m_b->prefs->getKeyValue(kConfig), QByteArray("agreed")); // no push reached it
        m_b->cmd->listFeatures();
        QVERIFY(QTest::qWaitFor([this] { return !m_b->cmd->isInFlight(174); })); // fails: offline
        m_server->setDeviceOnline(2, true);
        QSignalSpy listed(m_b->prefs, &SharedPreferenceBase::listFinished);
        m_b->prefs->getNewData();
        QVERIFY(QTest::qWaitFor([&] { return listed.count() == 1; }));
        QCOMPARE(m_b->prefs->getKeyValue(kConfig), QByteArray("while offline"));
        QCOMPARE(storedValue(*m_b, kConfig, kConfigType), QByteArray("while offline"));
    }

    // Edits made offline survive a quit and go out when the device is next online; the version
    // rule still decides against another device's later edit of the same key.
    void offlineEditsSurviveAQuit()
    {
        const QString mine = QStringLiteral("notification");
        m_server->setDeviceOnline(1, false);
        m_a->account->setOnline(false);
        m_a->prefs->syncNotifySetting(R"({"from":"A"})");
        m_world += 10;
        m_a->prefs->syncChatFolderConfig("A, earlier");
        QVERIFY(QTest::qWaitFor([this] { return !m_a->cmd->isInFlight(180); }));
        m_world += 10;
        m_b->prefs->syncChatFolderConfig("B, later");
        QVERIFY(QTest::qWaitFor(
            [this] { return m_server->preferenceValue(kConfig, kConfigType) == "B, later"; }));

        m_a.reset();
        m_world += 1000;
        m_a = startDevice(1);
        QVERIFY(m_a);
        QCOMPARE(m_a->prefs->getKeyValue(mine), QByteArray(R"({"from":"A"})"));
        m_a->account->setOnline(false);
        m_server->setDeviceOnline(1, true);
        m_a->account->setOnline(true);
        QVERIFY(QTest::qWaitFor([&] { return m_b->prefs->getKeyValue(mine) == R"({"from":"A"})"; }));
        QVERIFY(QTest::qWaitFor([&] { return m_a->prefs->getKeyValue(kConfig) == "B, later"; }));
        QVERIFY(settle());
        QCOMPARE(m_b->prefs->getKeyValue(kConfig), QByteArray("B, later"));
        QCOMPARE(m_server->preferenceValue(mine, SharedPreferenceModel::Notification),
                 QByteArray(R"({"from":"A"})"));
        for (TestAccount* device : {m_a.get(), m_b.get()}) {
            ThreadManager::getInstance()->waitForIdle();
            for (const auto& row : device->account->storage()->sharedPreferenceStorage()->allInfos())
                QVERIFY2(!row.pending, qPrintable(row.key));
        }
    }

    // A push that lands while an older list page is being stored is what the database keeps,
    // and what the device shows after a restart.
    void aPushDuringAPageStoreIsNotOverwritten()
    {
        m_server->setDeviceOnline(2, false);
        m_a->prefs->syncChatFolderConfig("listed");
        QVERIFY(
            QTest::qWaitFor([this] { return m_server->preferenceValue(kConfig, kConfigType) == "listed"; }));
        m_server->setDeviceOnline(2, true);

        // Hold B's storage work, so that its page is still being stored when the push lands; hold
        // the thread pool too, as a busy machine would, so that no write can slip past the order.
        QSemaphore storageGate;
        QSemaphore poolGate;
        QSemaphore poolHeld;
        QThreadPool* pool = QThreadPool::globalInstance();
        const int poolThreads = pool->maxThreadCount();
        for (int i = 0; i < poolThreads; ++i)
            pool->start([&] {
                poolHeld.release();
                poolGate.acquire();
            });
        poolHeld.acquire(poolThreads);
        ThreadManager::getInstance()->invoke([&storageGate] { storageGate.acquire(); }, true);
        auto release = qScopeGuard([&] {
            storageGate.release();
            poolGate.release(poolThreads);
        });
        m_b->prefs->getNewData();
        QVERIFY(QTest::qWaitFor([this] { return m_b->prefs->getKeyValue(kConfig) == "listed"; }));
        m_world += 10;
        m_a->prefs->syncChatFolderConfig("pushed");
        QVERIFY(QTest::qWaitFor([this] { return m_b->prefs->getKeyValue(kConfig) == "pushed"; }));
        // Asked for news while the page is stored: asked again once it is.
        const int lists = m_server->requestCount(SettingServiceCmd::ListSharedPreferences);
        m_b->prefs->getNewData();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(m_server->requestCount(SettingServiceCmd::ListSharedPreferences), lists);
        release.dismiss();
        storageGate.release();
        QVERIFY(ThreadManager::getInstance()->waitForIdle());
        poolGate.release(poolThreads);
        pool->waitForDone();
        QVERIFY(settle());
        QVERIFY(QTest::qWaitFor(
            [&] { return m_server->requestCount(SettingServiceCmd::ListSharedPreferences) == lists + 1; }));
        QVERIFY(settle());
        QCOMPARE(storedValue(*m_b, kConfig, kConfigType), QByteArray("pushed"));

        const qint64 offset = m_b->account->dataInfoModel()->sharedReferenceOffset();
        m_b.reset();
        m_b = startDevice(2);
        QVERIFY(m_b);
        QCOMPARE(m_b->prefs->getKeyValue(kConfig), QByteArray("pushed"));
        QCOMPARE(m_b->account->dataInfoModel()->sharedReferenceOffset(), offset);
    }

    void devicesAndUnlinking()
    {
        m_server->seedDevice(9, QStringLiteral("Old phone"), QStringLiteral("android"), m_world - kHour);
        QSignalSpy listed(m_a->cmd, &SettingServiceCmd::listDevicesFinished);
        m_a->cmd->listDevices();
        QVERIFY(QTest::qWaitFor([&] { return listed.count() == 1; }));
        QCOMPARE(m_a->account->refDeviceModel()->count(), 3);

        // B has a change on its way when A signs it out: the server answers B's requests with
        // the end of its session, and B hears it by push before that.
        m_server->dropCommand(SettingServiceCmd::UpdateSharedPreferences, 1);
        m_b->prefs->syncChatFolderConfig("never sent");
        QVERIFY(QTest::qWaitFor([&] { return m_b->account->unsentChanges() == 1; }));
        const QString bCache = m_b->account->refFileManager()->cacheDir();
        QVERIFY(QDir().mkpath(bCache));
        QSignalSpy ended(m_b->account, &RefAccount::sessionEnded);
        QSignalSpy unlinked(m_a->cmd, &SettingServiceCmd::unlinkDeviceFinished);
        // A password the server does not take refuses the sign-out and ends no session, though
        // its code is the one of an ended session.
        QSignalSpy endedOnA(m_a->account, &RefAccount::sessionEnded);
        m_server->setPassword(QStringLiteral("secret"));
        m_server->setVerification(QStringLiteral("me@example.org"), true);
        m_a->cmd->unlinkDevices({2}, QStringLiteral("wrong"));
        QVERIFY(QTest::qWaitFor([&] { return unlinked.count() == 1; }));
        QCOMPARE(unlinked.takeFirst().at(0).toInt(), int(SimServer::kUnauthorized));
        QVERIFY(endedOnA.isEmpty() && ended.isEmpty());
        QVERIFY(!m_a->account->isSignedOut());
        m_server->setVerification(QString(), false);
        m_a->cmd->unlinkDevices({2, 9});
        QVERIFY(QTest::qWaitFor([&] { return unlinked.count() == 1 && ended.count() == 1; }));
        QCOMPARE(unlinked.at(0).at(0).toInt(), 0);
        QCOMPARE(m_a->account->refDeviceModel()->count(), 1);
        QCOMPARE(ended.at(0).at(0).toString(), QStringLiteral("Device 1"));
        QCOMPARE(lastReportedError(), QStringLiteral("signed_out_by_device signed_out_discarded"));
        QCOMPARE(AccountManager::getInstance()->errors().last().source, m_b->account->accountId());
        QCOMPARE(m_b->account->syncState(), int(RefAccount::SignedOut));

        // Its models let go, its data leaves this computer, and nothing more is sent or said.
        QCOMPARE(m_b->composition->stage(), AccountComposition::Stopped);
        QVERIFY(QTest::qWaitFor([&] {
            ThreadManager::getInstance()->waitForIdle();
            return !QFile::exists(m_b->account->databasePath()) && !QDir(bCache).exists();
        }));
        const int sentBefore = m_server->requestCount(SettingServiceCmd::ListDevices);
        const int reports = int(AccountManager::getInstance()->errors().size());
        QSignalSpy refused(m_b->cmd, &SettingServiceCmd::listDevicesFinished);
        m_b->cmd->listDevices();
        QVERIFY(QTest::qWaitFor([&] { return refused.count() == 1; }));
        QVERIFY(!refused.at(0).at(0).toBool());
        QCOMPARE(m_server->requestCount(SettingServiceCmd::ListDevices), sentBefore);
        QCOMPARE(AccountManager::getInstance()->errors().size(), reports);
        QVERIFY(!QFile::exists(m_b->account->databasePath()));

        // Signing in again is a new session that reads everything from the server.
        m_a->prefs->syncChatFolderConfig("from A");
        QVERIFY(QTest::qWaitFor([&] { return m_server->preferenceValue(kConfig, kConfigType) == "from A"; }));
        m_b.reset();
        m_b = startDevice(2);
        QVERIFY(m_b);
        QVERIFY(QTest::qWaitFor([&] { return m_b->prefs->getKeyValue(kConfig) == "from A"; }));
        QCOMPARE(m_b->account->syncState(), int(RefAccount::Synchronised));
    }

    void aDeviceWhoseClockIsAheadDoesNotWinEveryConflict()
    {
        // A's clock runs two hours ahead; it learns the server's clock from its answers.
        m_skew.insert(1, 2 * kHour);
        m_a->cmd->listFeatures();
        QVERIFY(QTest::qWaitFor([this] { return !m_a->cmd->isInFlight(174); }));
        QVERIFY(qAbs(m_a->account->currentTime() - m_world) < 1000);

        m_a->prefs->syncChatFolderConfig("A, earlier");
        QVERIFY(QTest::qWaitFor([this] { return m_b->prefs->getKeyValue(kConfig) == "A, earlier"; }));
        m_world += 1000;
        m_b->prefs->syncChatFolderConfig("B, later");
        QVERIFY(QTest::qWaitFor([this] { return m_a->prefs->getKeyValue(kConfig) == "B, later"; }));
        QCOMPARE(m_server->preference(kConfig, kConfigType)->value(), std::string("B, later"));
        QCOMPARE(storedValue(*m_a, kConfig, kConfigType), QByteArray("B, later"));
    }

    void aWallpaperTravelsWithItsImageAndItsDeletionComesBack()
    {
        WallpaperHandler* onA = m_a->account->wallpaperHandler();
        WallpaperHandler* onB = m_b->account->wallpaperHandler();
        QVERIFY(QTest::qWaitFor([onA] { return !onA->isLocalLoading(); }));
        const QString picture = media::writeImage(m_dir.filePath(QStringLiteral("run%1-sea.jpg").arg(m_run)),
                                                  QSize(1200, 800), QColor(0x20, 0x60, 0xa0));
        QSignalSpy renamed(onA, &WallpaperHandler::wallpaperIdChanged);
        QVERIFY(onA->add(picture));
        QVERIFY(QTest::qWaitFor([&] { return renamed.count() == 2; }));
        const QString id = renamed.at(1).at(1).toString();
        QVERIFY(QTest::qWaitFor([&] { return onB->wallpaperModel()->contains(id); }));
        // B shows it with the same image, fetched and decrypted.
        WallpaperItem* onBItem = onB->wallpaperModel()->getItemById(id);
        QVERIFY(onBItem->isOwner());
        QVERIFY(onBItem->hasThumbBytes());
        QVERIFY(QTest::qWaitFor([&] { return onBItem->hiPhoto()->fileExist(); }));
        QFile sent(onA->wallpaperModel()->getItemById(id)->hiPhoto()->localPath());
        QFile received(onBItem->hiPhoto()->localPath());
        QVERIFY(sent.open(QIODevice::ReadOnly) && received.open(QIODevice::ReadOnly));
        QCOMPARE(received.readAll(), sent.readAll());

        onB->deleteWallpaper(id);
        QVERIFY(QTest::qWaitFor([&] { return !onA->wallpaperModel()->contains(id); }));
        QCOMPARE(m_server->ownWallpaperCount(), 0);
        ThreadManager::getInstance()->waitForIdle();
        QVERIFY(m_a->account->storage()->wallpaperStorage()->info(id).id.isEmpty());
    }

    void aRetriedUploadAndAResetReachTheOtherDevice()
    {
        WallpaperHandler* onA = m_a->account->wallpaperHandler();
        WallpaperHandler* onB = m_b->account->wallpaperHandler();
        m_server->failCommand(FileUploadChunk, 503, 1);
        QVERIFY(QTest::qWaitFor([onA] { return !onA->isLocalLoading(); }));
        QVERIFY(onA->add(
            media::writeImage(m_dir.filePath(QStringLiteral("run%1-late.png").arg(m_run)), QSize(400, 300))));
        QVERIFY(QTest::qWaitFor([&] { return onA->failedUploads().size() == 1; }));
        // The next time A asks what changed, it tries again.
        onA->getNewData();
        QVERIFY(QTest::qWaitFor([&] { return m_server->ownWallpaperCount() == 1; }));
        const QString id = m_server->wallpapers()->ids().last();
        QVERIFY(QTest::qWaitFor([&] { return onB->wallpaperModel()->contains(id); }));

        const int defaults = m_server->wallpaperCount() - 1;
        onA->resetWallpaper();
        QVERIFY(QTest::qWaitFor(
            [&] { return !onB->wallpaperModel()->contains(id) && !onA->wallpaperModel()->contains(id); }));
        QCOMPARE(m_server->ownWallpaperCount(), 0);
        QCOMPARE(onA->wallpaperModel()->count(), defaults);
        QCOMPARE(onB->wallpaperModel()->count(), defaults);
    }

    void aCustomThemeTravelsWithItsWallpaper()
    {
        ThemeHandler* onA = m_a->account->themeHandler();
        ThemeHandler* onB = m_b->account->themeHandler();
        WallpaperHandler* wallpapers = m_a->account->wallpaperHandler();
        QVERIFY(QTest::qWaitFor([wallpapers] { return !wallpapers->isLocalLoading(); }));
        QSignalSpy renamed(wallpapers, &WallpaperHandler::wallpaperIdChanged);
        QVERIFY(wallpapers->add(media::writeImage(m_dir.filePath(QStringLiteral("run%1-dune.jpg").arg(m_run)),
                                                  QSize(900, 600), QColor(0xc0, 0x90, 0x40))));
        QVERIFY(QTest::qWaitFor([&] { return renamed.count() == 2; }));
        WallpaperItem* own = wallpapers->wallpaperModel()->getItemById(renamed.at(1).at(1).toString());

        // Made on A with that wallpaper: B lists it and shows the image, a server-side copy.
        ThemeItem* made = onA->createTheme(onA->themeModel()->itemByIndex(0));
        made->setName(QStringLiteral("dune"));
        onA->setWallpaper(true, own);
        onA->syncCustomTheme();
        QVERIFY(
            QTest::qWaitFor([onB] { return onB->customThemeModel()->hasThemeName(QStringLiteral("dune")); }));
        ThemeItem* onBTheme = onB->customThemeModel()->itemByIndex(0);
        const QString id = onBTheme->themeId();
        const WallpaperItem* shown = onBTheme->light()->wallpaperItem();
        QVERIFY(!shown->internalPattern() && shown->hiPhoto());
        QVERIFY(QTest::qWaitFor([shown] { return shown->hiPhoto()->fileExist(); }));
        QVERIFY(shown->hiPhoto()->fileId() != own->hiPhoto()->fileId());
        QFile picked(own->hiPhoto()->localPath());
        QFile copy(shown->hiPhoto()->localPath());
        QVERIFY(picked.open(QIODevice::ReadOnly) && copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), picked.readAll());

        // Edited on B, the change reaches A.
        m_world += 1000;
        ThemeItem* edit = onB->editTheme(onBTheme);
        edit->setName(QStringLiteral("dune at night"));
        edit->light()->setThemeColors({QStringLiteral("#123456")});
        onB->syncEditTheme();
        QVERIFY(QTest::qWaitFor([onA, id] {
            const ThemeItem* theme = onA->customThemeModel()->itemById(id);
            return theme && theme->name() == QStringLiteral("dune at night") &&
                   theme->light()->themeColors() == QStringList{QStringLiteral("#123456")};
        }));

        // Removed on A, B drops it.
        m_world += 1000;
        onA->removeTheme(id);
        QVERIFY(QTest::qWaitFor([onB, id] { return !onB->customThemeModel()->contains(id); }));

        // A chat's theme is the server's to keep: every device's chat shows it from the push, and
        // a device that missed the push reads it with the chats' looks.
        const QString family = QStringLiteral("family");
        const QSharedPointer<DialogBase> onAChat = m_a->account->addDialog(family, true);
        const QSharedPointer<DialogBase> onBChat = m_b->account->addDialog(family, true);
        const ThemeItem* home = onA->themeModel()->itemByIndex(0);
        onA->syncDialogTheme(family, const_cast<ThemeItem*>(home));
        QVERIFY(QTest::qWaitFor([&] { return m_server->chatThemeId(family) == home->themeId(); }));
        QVERIFY(QTest::qWaitFor([&] { return onBChat->themeId() == home->themeId(); }));
        QVERIFY(QTest::qWaitFor([&] { return onAChat->themeId() == home->themeId(); }));
        onBChat->setThemeId(QString());
        m_b->account->fetchChatLooks();
        QVERIFY(QTest::qWaitFor([&] { return onBChat->themeId() == home->themeId(); }));
    }

    void aBurstOfColourChangesGoesOutOnce()
    {
        ThemeHandler* onA = m_a->account->themeHandler();
        ThemeHandler* onB = m_b->account->themeHandler();
        const QString home = onA->themeModel()->itemByIndex(0)->themeId();
        onA->setCurrentTheme(onA->themeModel()->itemById(home));
        const int before = m_server->requestCount(180);
        for (int circle : {12, 13, 14})
            onA->updateThemeWithColorCircle(circle);
        QVERIFY(onA->isSyncScheduled());
        // Sent five seconds after the first change, with the last colours.
        QVERIFY(QTest::qWaitFor(
            [onB, home] {
                return onB->themeModel()->itemById(home)->light()->themeColors() ==
                       QStringList{QStringLiteral("#4E73EB")};
            },
            3 * ThemeHandler::kSyncDelayMs));
        QCOMPARE(m_server->requestCount(180), before + 1);
        QVERIFY(onB->themeModel()->itemById(home)->modified());
    }

    void aStatusShortcutWrittenOnAIsShownOnB()
    {
        // A sticker of a pack the server serves to everyone.
        const QByteArray image = media::noise(3000, 5);
        const QByteArray key = CryptoAES::createKey(32);
        m_server->fileStore()->publish(QStringLiteral("pack-sticker"), CryptoAES::encrypt(image, key));
        auto sticker = QSharedPointer<StickerItem>::create(42, StatusShortCut::kSourceType);
        sticker->setSourceFile(m_a->account->fileManager()->createStickerData(
            {{QStringLiteral("fileId"), QStringLiteral("pack-sticker")},
             {QStringLiteral("aesKey"), QString::fromLatin1(key.toBase64())},
             {QStringLiteral("fileType"), 1}},
            StatusShortCut::kSourceType));
        m_a->prefs->updateUserStatusSettingReq(
            {QVariantMap{{QStringLiteral("desc"), QStringLiteral("Lunch")},
                         {QStringLiteral("emoji"), QStringLiteral("x")},
                         {QStringLiteral("time"), 3600},
                         {QStringLiteral("sticker"), QVariant::fromValue<QObject*>(sticker.data())}}});
        StatusShortCut* onB = m_b->account->statusShortCut();
        StatusShortCut* onA = m_a->account->statusShortCut();
        QVERIFY(QTest::qWaitFor([onA, onB] { return onB->hasShortCut() && onA->hasShortCut(); }));
        const QVariantMap shortcut = onB->shortCutSetting().first().toMap();
        QCOMPARE(shortcut.value(QStringLiteral("desc")).toString(), QStringLiteral("Lunch"));
        const auto* shown =
            qobject_cast<StickerItem*>(shortcut.value(QStringLiteral("sticker")).value<QObject*>());
        QVERIFY(shown && shown->pid() == 42);
        QVERIFY(QTest::qWaitFor([shown] { return shown->sourceFile()->fileExist(); }));
        QFile file(shown->sourceFile()->localPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), image);
    }

    void anAlternativePhotoAndItsAudienceReachTheOtherDevice()
    {
        AlternativeProfilePhoto* onA = m_a->composition->alternativeProfilePhoto();
        AlternativeProfilePhoto* onB = m_b->composition->alternativeProfilePhoto();
        onA->addPrfilePhoto(
            {{QStringLiteral("loImagePath"),
              media::writeImage(m_dir.filePath(QStringLiteral("run%1-lo.jpg").arg(m_run)), QSize(96, 96))},
             {QStringLiteral("hiImagePath"),
              media::writeImage(m_dir.filePath(QStringLiteral("run%1-hi.jpg").arg(m_run)),
                                QSize(512, 512))}});
        QVERIFY(QTest::qWaitFor([&] { return onB->rowCount() == 1 && !onA->modifying(); }));
        onA->items().first()->setIds({101}, {});
        QVERIFY(QTest::qWaitFor(
            [&] { return onB->rowCount() == 1 && onB->items().first()->userList() == QVariantList{101}; }));
        // B's image of the photo is fetched from the server.
        QCOMPARE(onB->items().first()->key(), onA->items().first()->key());
        PhotoData* image = onB->items().first()->srcPhotoInfo();
        QVERIFY(QTest::qWaitFor([image] { return image->fileExist(); }));

        onB->changeShowToNonContact(true);
        QVERIFY(QTest::qWaitFor([&] { return onA->showToNonContact() && !onB->modifying(); }));
    }
};

SETTINGMODEL_TEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
