// Notification records and the muted-group exceptions.
#include "device/audiomanage.h"
#include "host/accountmanager.h"
#include "host/accountsettingmodel.h"
#include "host/constants.h"
#include "host/contacts.h"
#include "host/cryptoaes.h"
#include "host/jsonutil.h"
#include "host/threadmanager.h"
#include "im/common.pb.h"
#include "im/file.pb.h"
#include "im/misc.pb.h"
#include "im/notif.pb.h"
#include "media.h"
#include "notifications/groupmutedsettingmodel.h"
#include "notifications/ringtonemanager.h"
#include "notifications/ringtonesetting.h"
#include "preferences/sharedpreferencemodel.h"
#include "protohelpers.h"
#include "reffilemanager.h"
#include "secretwatch.h"
#include "testaccount.h"
#include "transport.h"

#include <QAbstractItemModelTester>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

QVariantMap ringtoneMap(qint64 customTime, qint64 presetTime)
{
    return {{QStringLiteral("dialog_id"), QStringLiteral("d1")},
            {QStringLiteral("custom_ringtone"), QVariantMap{{QStringLiteral("fileId"), QStringLiteral("a")},
                                                            {QStringLiteral("update_time"), customTime}}},
            {QStringLiteral("desktop_preset_ringtone"),
             QVariantMap{{QStringLiteral("tone_name"), QStringLiteral("b")},
                         {QStringLiteral("update_time"), presetTime}}},
            {QStringLiteral("future_key"), 7}};
}

QByteArray notification(const QStringList& dialogs, bool reply = true)
{
    QVariantList exceptions;
    for (const QString& id : dialogs)
        exceptions.append(QVariantMap{{QStringLiteral("dialogID"), id},
                                      {QStringLiteral("reply"), reply},
                                      {QStringLiteral("at"), false},
                                      {QStringLiteral("atAll"), true}});
    return mapToJson(
        {{QStringLiteral("group"), QVariantMap{{QStringLiteral("exceptionMention"), exceptions}}}});
}

QVariantMap ringtoneEntry(const QString& id, qint64 timestamp, int type = 2)
{
    return {{QStringLiteral("fileId"), id},
            {QStringLiteral("timestamp"), timestamp},
            {QStringLiteral("type"), type},
            {QStringLiteral("name"), id + QStringLiteral(".ogg")},
            {QStringLiteral("aesKey"), QString::fromLatin1(CryptoAES::createKey(32).toBase64())},
            {QStringLiteral("volume"), 3}};
}

QStringList idsOf(const RingtoneModel* model)
{
    QStringList ids;
    for (const CustomRingtoneItem* item : model->items())
        ids.append(item->fileId());
    return ids;
}

QVariantMap oldClientMap(qint64 time, bool reply)
{
    return {{QStringLiteral("reply"), reply},
            {QStringLiteral("at"), true},
            {QStringLiteral("atAll"), false},
            {QStringLiteral("updateTime"), time}};
}

} // namespace

class TestNotifications : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<TestAccount> m_t;
    GroupMutedSettingModel* m_model = nullptr;
    int m_run = 0;

    void addGroup(const QString& dialogId, const QString& name)
    {
        m_t->account->addDialog(dialogId, true,
                                QSharedPointer<GroupModel>::create(dialogId.mid(1).toLongLong(), name));
    }

    // A notification record from the server, as a push brings it.
    void push(const QByteArray& value, qint64 version)
    {
        im::notif::SharedPreferenceUpdatedNotif notif;
        auto* record = notif.add_preferences();
        record->set_key("notification");
        record->set_type(SharedPreferenceModel::Notification);
        record->set_value(value.toStdString());
        record->set_version(version);
        m_t->prefs->sharedPreferencesNotify(notif);
    }

    QStringList shownIds() const
    {
        QStringList ids;
        for (int row = 0; row < m_model->rowCount(); ++row)
            ids.append(m_model->data(m_model->index(row), GroupMutedSettingModel::ItemRole)
                           .value<GroupMutedSetting*>()
                           ->dialogId());
        return ids;
    }

private slots:
    void init()
    {
        m_t = std::make_unique<TestAccount>(m_dir.path(), QStringLiteral("n%1").arg(++m_run));
        m_model = m_t->account->groupMutedSettingModel();
        new QAbstractItemModelTester(m_model, QAbstractItemModelTester::FailureReportingMode::QtTest,
                                     m_model);
        for (int i = 1; i <= 4; ++i)
            addGroup(QStringLiteral("g%1").arg(i),
                     i % 2 ? QStringLiteral("Hiking club %1").arg(i) : QStringLiteral("Family %1").arg(i));
    }

    void cleanup() { m_t.reset(); }

    void ringtoneSettingMapRules()
    {
        RingtoneSetting equal(ringtoneMap(5, 5), nullptr);
        QVERIFY(!equal.customPriority()); // equal times favour the preset
        QVERIFY(equal.preview());         // absent means shown
        QVERIFY(RingtoneSetting(ringtoneMap(6, 5), nullptr).customPriority());

        // Unknown keys survive; a cleared choice is written empty only where the chat had one.
        RingtoneSetting setting(ringtoneMap(6, 5), nullptr);
        setting.setCustomId({});
        QVariantMap previous = ringtoneMap(6, 5);
        setting.serialize(previous);
        QCOMPARE(previous.value(QStringLiteral("future_key")).toInt(), 7);
        QCOMPARE(previous.value(QStringLiteral("custom_ringtone")).toMap(), QVariantMap());
        QCOMPARE(setting.customUpdated(), 0);
        RingtoneSetting fresh(QStringLiteral("d2"), QString(), 0, true, true);
        QVariantMap none;
        fresh.serialize(none);
        QVERIFY(!none.contains(QStringLiteral("custom_ringtone")));
        QCOMPARE(none.value(QStringLiteral("dialog_id")).toString(), QStringLiteral("d2"));

        // Merge takes only newer sides; flags unless kept.
        RingtoneSetting mine(ringtoneMap(10, 10), nullptr);
        RingtoneSetting older(QStringLiteral("d1"), QStringLiteral("z"), 9, false, true);
        mine.merge(older, true);
        QCOMPARE(mine.customId(), QStringLiteral("a"));
        QVERIFY(mine.preview());
        RingtoneSetting newer(QStringLiteral("d1"), QStringLiteral("z"), 11, false, true);
        QSignalSpy priority(&mine, &RingtoneSetting::customPriorityChanged);
        mine.merge(newer, false);
        QCOMPARE(mine.customId(), QStringLiteral("z"));
        QVERIFY(!mine.preview());
        QCOMPARE(priority.count(), 1);

        // Another device's whole map: each property that changes tells the interface, and a side
        // the map no longer holds is cleared.
        RingtoneSetting bound(ringtoneMap(6, 5), nullptr);
        QSignalSpy customs(&bound, &RingtoneSetting::customIdChanged);
        QSignalSpy presets(&bound, &RingtoneSetting::presetNameChanged);
        QSignalSpy previews(&bound, &RingtoneSetting::previewChanged);
        QSignalSpy silences(&bound, &RingtoneSetting::silenceChanged);
        bound.deserialize({{QStringLiteral("preview"), false},
                           {QStringLiteral("silence"), true},
                           {QStringLiteral("custom_ringtone"), QVariantMap()},
                           {QStringLiteral("desktop_preset_ringtone"),
                            QVariantMap{{QStringLiteral("tone_name"), QStringLiteral("bell")},
                                        {QStringLiteral("update_time"), 9}}}});
        QVERIFY(bound.customId().isEmpty() && bound.customUpdated() == 0 && !bound.customPriority());
        QCOMPARE(bound.presetName(), QStringLiteral("bell"));
        QCOMPARE(customs.count() + presets.count() + previews.count() + silences.count(), 4);
        QCOMPARE(bound.dialogId(), QStringLiteral("d1"));

        // Mistyped parts are read as absent, not as values.
        RingtoneSetting odd(QVariantMap{{QStringLiteral("custom_ringtone"), QStringLiteral("text")},
                                        {QStringLiteral("desktop_preset_ringtone"), 3}},
                            nullptr);
        QVERIFY(odd.customId().isEmpty() && odd.presetName().isEmpty() && !odd.customPriority());
    }

    // A chat set back to the global choice, here and from another device; the global choice is
    // the side that plays; a chat's custom tone is kept until the list came from the server; a
    // global custom tone that left the list falls back to the system tone, not only in name.
    void chatChoicesAgainstTheGlobalOne()
    {
        QVERIFY(m_t->start());
        // The server keeps every write as it was sent.
        m_t->transport->setHandler(180, [](const ScriptedTransport::Request& request) {
            const auto req = parsed<im::misc::UpdateSharedPreferencesV2Req>(request.body);
            im::misc::UpdateSharedPreferencesV2Resp resp;
            for (const auto& record : req.preferences())
                *resp.add_preferences() = record;
            return std::optional<ScriptedTransport::Reply>({0, bytesOf(resp)});
        });
        RingtoneManager* manager = m_t->account->ringtoneManager();
        GlobalRingtoneSetting* global = manager->globalRingtoneSetting();
        const QString system = QLatin1String(RingtoneManager::kSystemRingtone);
        const auto storedChat = [this](const char* dialogId) {
            return m_t->prefs->getKeyValue(QStringLiteral("ringtone_%1").arg(QLatin1String(dialogId)));
        };
        manager->customRingtoneModel()->setItems(
            RingtoneModel::parse(listToJson({ringtoneEntry(QStringLiteral("mine"), 5)}), m_t->account));
        manager->setGlobalRingtone(QStringLiteral("mine"), true, false);
        QVERIFY(global->customPriority());

        // The system tone for a chat is not the global choice while the global custom tone plays.
        const bool preview = m_t->account->accountSettingModel()->globalMessagePreview();
        manager->setChatRingtone(QStringLiteral("d1"), system, preview, false);
        RingtoneSetting* chat = manager->ringtoneSetting(QStringLiteral("d1"));
        QVERIFY(chat && chat->presetName() == system && !chat->customPriority());
        QVERIFY(storedChat("d1").contains("desktop_preset_ringtone"));
        // The global custom tone itself is: the chat follows the global choice again, in memory too.
        QSignalSpy presets(chat, &RingtoneSetting::presetNameChanged);
        manager->setChatRingtone(QStringLiteral("d1"), QStringLiteral("mine"), preview, true);
        QVERIFY(chat->presetName().isEmpty() && chat->customId().isEmpty());
        QCOMPARE(presets.count(), 1);
        QCOMPARE(manager->getValidRingtone(QStringLiteral("d1")).value(QStringLiteral("normal")).toMap(),
                 manager->getValidRingtone(QStringLiteral("no such chat"))
                     .value(QStringLiteral("normal"))
                     .toMap());

        // "{}" from another device under a chat's key does the same.
        manager->setChatSilence(QStringLiteral("d2"), true);
        RingtoneSetting* other = manager->ringtoneSetting(QStringLiteral("d2"));
        QVERIFY(other->silence());
        im::notif::SharedPreferenceUpdatedNotif notif;
        auto* record = notif.add_preferences();
        record->set_key("ringtone_d2");
        record->set_type(SharedPreferenceModel::ChatRingtone);
        record->set_value("{}");
        record->set_version(m_t->now + 100000);
        m_t->prefs->sharedPreferencesNotify(notif);
        QVERIFY(QTest::qWaitFor([other] { return !other->silence(); }));

        // A chat whose custom tone is not in the list yet keeps it until the list came from the
        // server once.
        manager->setChatRingtone(QStringLiteral("d3"), QStringLiteral("mine"), false, true);
        manager->customRingtoneModel()->setItems({});
        QCOMPARE(manager->ringtoneSetting(QStringLiteral("d3"))->customId(), QStringLiteral("mine"));
        emit m_t->prefs->listFinished();
        QVERIFY(QTest::qWaitFor(
            [manager] { return manager->ringtoneSetting(QStringLiteral("d3"))->customId().isEmpty(); }));

        // The global custom tone left the list: the system tone plays, and says so.
        manager->updateRingtones("[]");
        QVERIFY(!global->customPriority() && global->presetName() == system);
    }

    void globalSettingTakesEqualTimes()
    {
        const QVariantMap map{{QStringLiteral("custom_id"), QStringLiteral("c")},
                              {QStringLiteral("custom_update_time"), 5},
                              {QStringLiteral("notifications_tone_name"), QStringLiteral("p")},
                              {QStringLiteral("preset_update_time"), 4},
                              {QStringLiteral("aite_tone_name"), QStringLiteral("ap")},
                              {QStringLiteral("aite_preset_update_time"), 2}};
        GlobalRingtoneSetting global(nullptr, map);
        QVERIFY(global.customPriority());
        QVERIFY(!global.customAitePriority());
        QCOMPARE(global.write().size(), 8);
        QCOMPARE(GlobalRingtoneSetting(nullptr, global.write()).write(), global.write());

        GlobalRingtoneSetting other;
        other.setPreset(QStringLiteral("q"), 5);
        other.setAiteCustom(QStringLiteral("ac"), 3);
        global.merge(other);
        QCOMPARE(global.presetName(), QStringLiteral("q")); // 4 <= 5
        QVERIFY(!global.customPriority());                  // equal times: the preset
        QCOMPARE(global.customId(), QStringLiteral("c"));   // 5 > 0 keeps it
        QVERIFY(global.customAitePriority());
    }

    void exceptionsFollowTheNotificationPreference()
    {
        QVERIFY(m_t->start());
        QTRY_VERIFY(m_model->isLoaded());
        QSignalSpy counted(m_model, &GroupMutedSettingModel::countChanged);
        push(notification({QStringLiteral("g1"), QStringLiteral("g2"), QStringLiteral("unknown-chat")}), 100);
        QTRY_COMPARE(shownIds(), (QStringList{QStringLiteral("g1"), QStringLiteral("g2")}));
        QVERIFY(!counted.isEmpty());
        QVERIFY(m_t->account->accountSettingModel()->notifyConfig().contains(QStringLiteral("group")));
        GroupMutedSetting* g1 = m_model->mutedSetting(QStringLiteral("g1"));
        QVERIFY(!g1->at() && g1->atAll() && g1->reply());
        QCOMPARE(g1->updateTime(), 100);

        // An older or equal version changes nothing; malformed values are ignored. Values apply
        // in the order they came, so the last one shows that the others were seen.
        push(notification({QStringLiteral("g3")}), 100);
        push(notification({QStringLiteral("g3")}), 90);
        push("{not json", 200);
        push(notification({QStringLiteral("g1"), QStringLiteral("g2")}), 150);
        QTRY_COMPARE(m_model->mutedSetting(QStringLiteral("g1"))->updateTime(), 150);
        QCOMPARE(shownIds(), (QStringList{QStringLiteral("g1"), QStringLiteral("g2")}));

        // Search shows matching groups; a new exception that does not match stays hidden.
        m_model->search(QStringLiteral("family"));
        QCOMPARE(shownIds(), QStringList{QStringLiteral("g2")});
        m_model->updateGroupNotification(QStringLiteral("g3"), true, true, true);
        QCOMPARE(shownIds(), QStringList{QStringLiteral("g2")});
        QCOMPARE(m_model->settings().size(), 3);
        m_model->updateGroupNotification(QStringLiteral("g4"), true, true, false);
        QCOMPARE(shownIds(), (QStringList{QStringLiteral("g2"), QStringLiteral("g4")}));
        m_model->searchFinish();
        QCOMPARE(m_model->count(), 4);

        // Edits rewrite the preference and send it; an unknown chat is sent but not listed.
        m_model->updateGroupNotification(QStringLiteral("nowhere"), true, false, false);
        QCOMPARE(m_model->count(), 4);
        QVERIFY(m_model->deleteGroupNotification(QStringLiteral("g1"), true));
        QVERIFY(!m_model->deleteGroupNotification(QStringLiteral("g1"), true));
        QCOMPARE(m_model->count(), 3);
        const auto sent = m_t->transport->requests(180);
        QVERIFY(!sent.isEmpty());
        im::misc::UpdateSharedPreferencesV2Req req;
        QVERIFY(req.ParseFromArray(sent.last().body.constData(), int(sent.last().body.size())));
        const QVariantList exceptions = jsonToMap(QByteArray::fromStdString(req.preferences(0).value()))
                                            .value(QStringLiteral("group"))
                                            .toMap()
                                            .value(QStringLiteral("exceptionMention"))
                                            .toList();
        QStringList ids;
        for (const QVariant& entry : exceptions)
            ids.append(entry.toMap().value(QStringLiteral("dialogID")).toString());
        QCOMPARE(ids, (QStringList{QStringLiteral("g2"), QStringLiteral("g3"), QStringLiteral("g4"),
                                   QStringLiteral("nowhere")}));

        // A destroyed chat takes its exception with it, without telling the server.
        const int before = int(m_t->transport->requests(180).size());
        m_t->account->removeDialog(QStringLiteral("g3"));
        QTRY_VERIFY(!m_model->mutedSetting(QStringLiteral("g3")));
        QCOMPARE(m_t->transport->requests(180).size(), before);
    }

    // A newer map rebuilds the list: objects of chats still listed are kept with the new flags,
    // an old client's map waits for the first flush, and a destroyed chat leaves the list.
    void aNewerMapRebuildsTheList()
    {
        QVERIFY(m_t->loadPreferences());
        QStringList many;
        for (int i = 10; i < 1210; ++i) {
            addGroup(QStringLiteral("g%1").arg(i), QStringLiteral("Group %1").arg(i));
            many.append(QStringLiteral("g%1").arg(i));
        }
        m_model->addOldLocalSetting(QStringLiteral("g1"), oldClientMap(5, true), 5); // waits for the flush
        m_model->updateSettings(jsonToMap(notification(many)), 10, false);
        QCOMPARE(m_model->count(), 0);
        m_model->flushSettings();
        QCOMPARE(m_model->count(), many.size() + 1);
        QCOMPARE(m_model->mutedSetting(QStringLiteral("g1"))->updateTime(), 5);
        GroupMutedSetting* kept = m_model->mutedSetting(QStringLiteral("g15"));
        QPointer<GroupMutedSetting> dropped = m_model->mutedSetting(QStringLiteral("g900"));
        m_model->updateSettings(jsonToMap(notification(many.mid(0, 700))), 20, true);
        QCOMPARE(m_model->count(), 700);
        QCOMPARE(m_model->mutedSetting(QStringLiteral("g15")), kept);
        QCOMPARE(kept->updateTime(), 20);
        QVERIFY(!m_model->mutedSetting(QStringLiteral("g900")));
        QTRY_VERIFY(!dropped);
        m_t->account->removeDialog(QStringLiteral("g20"));
        QCOMPARE(m_model->count(), 699);
        QVERIFY(!m_model->mutedSetting(QStringLiteral("g20")));
    }

    // A long stored list is read whole before the first flush of the local load, however long
    // its reading takes. The list reads its own row, after the writes posted before, without
    // waiting for the preference store; a newer value the store loads later is shown.
    void aLongStoredListLoadsWhole()
    {
        QStringList many;
        for (int i = 10; i < 3010; ++i) {
            addGroup(QStringLiteral("g%1").arg(i), QStringLiteral("Group %1").arg(i));
            many.append(QStringLiteral("g%1").arg(i));
        }
        auto* store = m_t->account->storage()->sharedPreferenceStorage();
        const auto save = [store](const QStringList& dialogs, qint64 version) {
            const storage::SharedPreferenceInfo row{
                QStringLiteral("notification"), notification(dialogs), 1, 0, version, {}};
            ThreadManager::getInstance()->invoke([store, row] { store->save(row); }, true);
        };
        save(many, 10);
        m_model->initConnection();
        m_model->loadLocalData(false);
        QTRY_COMPARE(m_model->count(), many.size());
        QVERIFY(!m_t->prefs->localDataLoaded());

        save(many.mid(0, 5), 20);
        QVERIFY(m_t->loadPreferences());
        QTRY_COMPARE(m_model->count(), 5);
        QCOMPARE(m_model->mutedSetting(QStringLiteral("g14"))->updateTime(), 20);

        // A sign-out forgets what was read: the next load reads the same row again.
        m_model->prepareToClearData(false);
        m_model->clearData(false);
        m_model->initData();
        m_model->loadLocalData(false);
        QTRY_COMPARE(m_model->count(), 5);
    }

    void ringtoneListOrdersMergesAndSkipsBadEntries()
    {
        QVERIFY(m_t->loadPreferences());
        RingtoneModel* model = m_t->account->ringtoneManager()->customRingtoneModel();
        new QAbstractItemModelTester(model, QAbstractItemModelTester::FailureReportingMode::QtTest, model);
        QVariantList stored{ringtoneEntry(QStringLiteral("b"), 5), ringtoneEntry(QStringLiteral("a"), 5, 1),
                            QVariantMap{{QStringLiteral("fileId"), 7}}, QStringLiteral("text"),
                            ringtoneEntry(QStringLiteral("c"), 1)};
        for (int i = 0; i < 20; ++i)
            stored.append(ringtoneEntry(QStringLiteral("z%1").arg(i, 2, 10, QLatin1Char('0')), 100 + i));
        // Bad entries skipped and the rest cut at 20, each named.
        QTest::ignoreMessage(QtWarningMsg, "dropped: a custom ringtone entry that does not read 7");
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^dropped: a custom ringtone entry that does not read ?$"));
        QTest::ignoreMessage(QtWarningMsg, "dropped: custom ringtones past the limit of 20 3");
        const QList<CustomRingtoneItem*> items = RingtoneModel::parse(listToJson(stored), m_t->account);
        QCOMPARE(items.size(), RingtoneModel::kMaxItems);
        model->setItems(items);
        QCOMPARE(idsOf(model).mid(0, 3),
                 (QStringList{QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("c")}));
        QCOMPARE(model->findItem(QStringLiteral("a"))->file->fileName(), QStringLiteral("Cloud Tone"));

        // What a person reads: the file's name, a placeholder for an unknown custom tone, a
        // preset's own name when it has no translation (here none is loaded: ids stand).
        RingtoneManager* ringtones = m_t->account->ringtoneManager();
        QCOMPARE(ringtones->ringtoneDisplayName(QStringLiteral("a"), true), QStringLiteral("Cloud Tone"));
        QCOMPARE(ringtones->ringtoneDisplayName(QStringLiteral("gone"), true),
                 QStringLiteral("ringtone_custom_unnamed"));
        QCOMPARE(ringtones->ringtoneDisplayName(QString(), false), QStringLiteral("system_ringtone"));
        QCOMPARE(ringtones->ringtoneDisplayName(QStringLiteral("from_a_newer_client"), false),
                 QStringLiteral("from_a_newer_client"));
        QCOMPARE(ringtones->presetRingtones().constFirst().toMap().value(QStringLiteral("id")).toString(),
                 QStringLiteral("system_ringtone"));
        // A custom tone whose file is not here yet cannot play, and says so.
        ringtones->playRingtone(QStringLiteral("a"), true);
        QCOMPARE(AudioManage::instance()->playbackError(), QStringLiteral("sound_file_missing"));

        // Later rows go to their place by time, then id; a known id changes nothing.
        model->replaceItems(RingtoneModel::parse(
            listToJson({ringtoneEntry(QStringLiteral("b"), 5), ringtoneEntry(QStringLiteral("a"), 5),
                        ringtoneEntry(QStringLiteral("aa"), 5)}),
            m_t->account));
        QCOMPARE(idsOf(model), (QStringList{QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("aa")}));
        model->mergeItems(
            RingtoneModel::parse(listToJson({ringtoneEntry(QStringLiteral("d"), 9)}), m_t->account),
            QStringLiteral("aa"));
        QCOMPARE(idsOf(model), (QStringList{QStringLiteral("aa"), QStringLiteral("d")}));
        QVERIFY(!model->findItem(QString()));

        // The stored form keeps unknown keys and can leave out the ringtone being deleted.
        const QVariantList written = jsonToList(model->toJson(QStringLiteral("aa")));
        QCOMPARE(written.size(), 1);
        QCOMPARE(written.first().toMap().value(QStringLiteral("volume")).toInt(), 3);
        QCOMPARE(written.first().toMap().value(QStringLiteral("fileId")).toString(), QStringLiteral("d"));
    }

    // Each check of an add from a file, at its exact limit.
    void addChecks_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("notification");
        QTest::addColumn<bool>("uploads");
        QTest::newRow("offline") << "offline"
                                 << "mt_no_network" << -1 << false;
        QTest::newRow("missing file") << "missing"
                                      << "fdm_file_not_exist" << -1 << false;
        QTest::newRow("size at the limit") << "size-limit"
                                           << "ringtone_too_large" << 1 << false;
        QTest::newRow("size just below") << "size-below"
                                         << "" << -1 << true;
        QTest::newRow("not audio") << "noise"
                                   << "wallpaper_file_format_error" << -1 << false;
        QTest::newRow("duration at the limit") << "long"
                                               << "ringtone_too_long" << 1 << false;
        QTest::newRow("duration just below") << "short"
                                             << "" << -1 << true;
        QTest::newRow("list full") << "full"
                                   << "ringtone_limit_reached" << -1 << false;
    }

    void addChecks()
    {
        QFETCH(QString, kind);
        QFETCH(QString, error);
        QFETCH(int, notification);
        QFETCH(bool, uploads);
        QVERIFY(m_t->start());
        RingtoneManager* ringtones = m_t->account->ringtoneManager();
        const QString path = m_dir.filePath(QStringLiteral("run%1-%2.wav").arg(m_run).arg(kind));
        if (kind == QLatin1String("size-limit"))
            media::writeWavOfSize(path, CUSTOM_RINGTONE_LIMIT_SIZE, 96000);
        else if (kind == QLatin1String("size-below"))
            media::writeWavOfSize(path, CUSTOM_RINGTONE_LIMIT_SIZE - 2, 96000);
        else if (kind == QLatin1String("noise"))
            media::writeBytes(path, media::noise(4000));
        else if (kind == QLatin1String("long"))
            media::writeWav(path, int(CUSTOM_RINGTONE_LIMIT_DURATION));
        else if (kind != QLatin1String("missing"))
            media::writeWav(path, int(CUSTOM_RINGTONE_LIMIT_DURATION) - 1);
        if (kind == QLatin1String("offline"))
            m_t->account->setOnline(false);
        if (kind == QLatin1String("full")) {
            QVariantList full;
            for (int i = 0; i < RingtoneModel::kMaxItems; ++i)
                full.append(ringtoneEntry(QStringLiteral("r%1").arg(i), i));
            ringtones->updateRingtones(listToJson(full));
        }
        AccountManager::getInstance()->clearRecords();
        ringtones->addRingtoneByPath(path);
        const auto reported = [&] {
            return !AccountManager::getInstance()->errors().isEmpty() ||
                   !AccountManager::getInstance()->notifications().isEmpty() ||
                   m_t->transport->count(FileUploadChunk) > 0;
        };
        if (kind == QLatin1String("full"))
            QVERIFY(!ringtones->isAdding());
        QVERIFY(QTest::qWaitFor(reported, TestAccount::kWaitMs));
        // Every check ends in words for this account's user, though it ran in a posted task.
        QVERIFY(uploads || QTest::qWaitFor([] { return !AccountManager::getInstance()->errors().isEmpty(); },
                                           TestAccount::kWaitMs));
        const auto errors = AccountManager::getInstance()->errors();
        QCOMPARE(errors.isEmpty() ? QString() : errors.first().text, error);
        if (!errors.isEmpty()) {
            QCOMPARE(errors.first().source, m_t->account->accountId());
            QCOMPARE(errors.first().severity, int(AccountManager::Failure));
        }
        const auto notifications = AccountManager::getInstance()->notifications();
        QCOMPARE(notifications.isEmpty() ? -1 : notifications.first(), notification);
        QCOMPARE(m_t->transport->count(FileUploadChunk) > 0, uploads);
    }

    // A value of any notification type that does not parse leaves what was there.
    void malformedValuesKeepThePreviousState()
    {
        QVERIFY(m_t->start());
        QTRY_VERIFY(m_model->isLoaded());
        RingtoneManager* ringtones = m_t->account->ringtoneManager();
        const auto pushRecord = [this](const char* key, int type, const QByteArray& value, qint64 version) {
            im::notif::SharedPreferenceUpdatedNotif notif;
            auto* record = notif.add_preferences();
            record->set_key(key);
            record->set_type(type);
            record->set_value(value.toStdString());
            record->set_version(version);
            m_t->prefs->sharedPreferencesNotify(notif);
        };
        pushRecord("notification", 1, notification({QStringLiteral("g1")}), 10);
        pushRecord("desktop_notification", 2, R"({"notifications_tone_name":"bell","preset_update_time":5})",
                   10);
        pushRecord("custom_ringtone_list", 15, listToJson({ringtoneEntry(QStringLiteral("r1"), 1)}), 10);
        pushRecord("ringtone_d1", 16, R"({"dialog_id":"d1","silence":true})", 10);
        QTRY_COMPARE(m_model->count(), 1);
        for (const QByteArray& bad :
             {QByteArray("{\"group\":"), QByteArray("[1,2"), QByteArray("\xff\xfe"), QByteArray("42")}) {
            pushRecord("notification", 1, bad, 20);
            pushRecord("desktop_notification", 2, bad, 20);
            pushRecord("custom_ringtone_list", 15, bad, 20);
            pushRecord("ringtone_d1", 16, bad, 20);
        }
        pushRecord("notification", 1, notification({QStringLiteral("g1"), QStringLiteral("g2")}), 30);
        QTRY_COMPARE(m_model->count(), 2); // the values before it were seen and ignored
        QCOMPARE(ringtones->globalRingtoneSetting()->presetName(), QStringLiteral("bell"));
        QCOMPARE(idsOf(ringtones->customRingtoneModel()), QStringList{QStringLiteral("r1")});
        QVERIFY(ringtones->getRingtoneSetting(QStringLiteral("d1"))->silence());
        // Switches written as text or numbers by other clients read as a variant would read them.
        pushRecord("notification", 1,
                   R"({"group":{"exceptionMention":[{"dialogID":"g1","reply":"true","at":1,"atAll":"0"},)"
                   R"({"dialogID":"g2","reply":"FALSE","at":"yes","atAll":0.0}]}})",
                   40);
        QTRY_VERIFY(m_model->mutedSetting(QStringLiteral("g1")) &&
                    m_model->mutedSetting(QStringLiteral("g1"))->at());
        const GroupMutedSetting* g1 = m_model->mutedSetting(QStringLiteral("g1"));
        const GroupMutedSetting* g2 = m_model->mutedSetting(QStringLiteral("g2"));
        QVERIFY(g1->reply() && !g1->atAll());
        QVERIFY(g2 && !g2->reply() && g2->at() && !g2->atAll());
    }

    // A failed and a refused upload are told apart, and leave no file record behind (its upload
    // id would block a later download of the id).
    void uploadFailureIsReportedAndClearingStopsAnAdd()
    {
        QVERIFY(m_t->start());
        RingtoneManager* ringtones = m_t->account->ringtoneManager();
        for (const auto& [code, text, status] :
             {std::tuple{500, "upload_failed", 2}, std::tuple{413, "ringtone_upload_refused", 3}}) {
            const int answer = code;
            m_t->transport->setHandler(FileUploadChunk, [answer](const ScriptedTransport::Request&) {
                return std::optional<ScriptedTransport::Reply>({answer, {}});
            });
            AccountManager::getInstance()->clearRecords();
            ringtones->addRingtoneByPath(
                media::writeWav(m_dir.filePath(QStringLiteral("run%1-%2.wav").arg(m_run).arg(code)), 500));
            QTRY_VERIFY(!AccountManager::getInstance()->errors().isEmpty());
            const AccountManager::Error error = AccountManager::getInstance()->errors().first();
            QCOMPARE(error.text, QLatin1String(text));
            QCOMPARE(error.code, status);
            QCOMPARE(error.command, 1);
            QCOMPARE(ringtones->customRingtoneModel()->count(), 0);
            const QString fileId = QString::fromStdString(
                parsed<im::file::UploadChunkReq>(m_t->transport->last(FileUploadChunk)->body).file_id());
            QVERIFY(!m_t->account->refFileManager()->record(fileId));
        }

        // Signing out while an add is being prepared stops it without a word. A chat's setting an
        // interface held is gone from the manager by the time it is destroyed, as the interface
        // asks again then.
        AccountManager::getInstance()->clearRecords();
        const int pieces = m_t->transport->count(FileUploadChunk);
        ringtones->addRingtoneByPath(
            media::writeWav(m_dir.filePath(QStringLiteral("run%1-b.wav").arg(m_run)), 500));
        ringtones->setChatSilence(QStringLiteral("held"), true);
        bool askedWhileGoing = false;
        connect(ringtones->ringtoneSetting(QStringLiteral("held")), &QObject::destroyed, this, [&] {
            askedWhileGoing = true;
            // Gone from the table, the chat is as one never known (the sanitizer build catches a
            // dying setting read instead).
            QCOMPARE(ringtones->getValidRingtone(QStringLiteral("held")),
                     ringtones->getValidRingtone(QStringLiteral("never-known")));
        });
        ringtones->prepareToClearData(false);
        ringtones->clearData(false);
        QVERIFY(askedWhileGoing);
        QVERIFY(!ringtones->isAdding());
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QCOMPARE(m_t->transport->count(FileUploadChunk), pieces);
        QVERIFY(AccountManager::getInstance()->errors().isEmpty());
    }

    // An add a restart cut short (its upload unanswered) leaves no record at the next start; a
    // listed ringtone's record stays.
    void anAddARestartCutShortLeavesNoRecord()
    {
        QVERIFY(m_t->start());
        RingtoneManager* ringtones = m_t->account->ringtoneManager();
        im::notif::SharedPreferenceUpdatedNotif notif;
        im::SharedPreference* record = notif.add_preferences();
        record->set_key(hostkeys::CUSTOM_RINGTONE_LIST);
        record->set_type(SharedPreferenceModel::CustomRingtoneList);
        record->set_value(listToJson({ringtoneEntry(QStringLiteral("kept"), 1)}).toStdString());
        record->set_version(1);
        m_t->prefs->sharedPreferencesNotify(notif);
        QVERIFY(QTest::qWaitFor(
            [ringtones] { return ringtones->customRingtoneModel()->containsItem(QStringLiteral("kept")); }));
        m_t->account->fileManager()->fileDataMgr()->saveFileInfos(
            {ringtones->customRingtoneModel()->findItem(QStringLiteral("kept"))->file});
        ringtones->addRingtoneByPath(
            media::writeWav(m_dir.filePath(QStringLiteral("run%1-cut.wav").arg(m_run)), 500));
        QVERIFY(QTest::qWaitFor([this] { return m_t->transport->count(FileUploadChunk) == 1; }));
        const QString cut = QString::fromStdString(
            parsed<im::file::UploadChunkReq>(m_t->transport->last(FileUploadChunk)->body).file_id());
        QVERIFY(m_t->account->refFileManager()->record(cut));

        m_t.reset();
        m_t = std::make_unique<TestAccount>(m_dir.path(), QStringLiteral("n%1").arg(m_run));
        QVERIFY(m_t->start());
        QVERIFY(!m_t->account->refFileManager()->record(cut));
        QVERIFY(m_t->account->refFileManager()->record(QStringLiteral("kept")));
    }

    // Adds on their way count against the limit, and an add the server's full list leaves no room
    // for is dropped, told, and no longer waited for.
    void addsAtTheLimit()
    {
        QVERIFY(m_t->start());
        RingtoneManager* ringtones = m_t->account->ringtoneManager();
        QVariantList listed;
        for (int i = 0; i < RingtoneModel::kMaxItems - 1; ++i)
            listed.append(ringtoneEntry(QStringLiteral("r%1").arg(i), i));
        ringtones->updateRingtones(listToJson(listed));
        FileData first;
        first.setFileId(QStringLiteral("m1"));
        FileData second;
        second.setFileId(QStringLiteral("m2"));
        AccountManager::getInstance()->clearRecords();
        ringtones->addRingtoneByMsg(&first, QStringLiteral("One"));
        QVERIFY(QTest::qWaitFor([this] { return m_t->transport->count(1004) == 1; }));
        ringtones->addRingtoneByMsg(&second, QStringLiteral("Two"));
        QCOMPARE(lastReportedError(), QStringLiteral("ringtone_limit_reached"));
        QCOMPARE(m_t->transport->count(1004), 1);

        im::file::DuplicateFilesResp copy;
        (*copy.mutable_old_to_new())["m1"] = "c1";
        QVERIFY(m_t->transport->answerNext(1004, 0, bytesOf(copy)));
        QVERIFY(QTest::qWaitFor([this] { return m_t->transport->count(180) > 0; }));
        QCOMPARE(ringtones->customRingtoneModel()->count(), RingtoneModel::kMaxItems);
        // The server kept another device's full list, written later.
        const auto sent = parsed<im::misc::UpdateSharedPreferencesV2Req>(m_t->transport->last(180)->body);
        listed.append(ringtoneEntry(QStringLiteral("theirs"), 50));
        im::misc::UpdateSharedPreferencesV2Resp resp;
        im::SharedPreference* record = resp.add_preferences();
        *record = sent.preferences(0);
        record->set_version(record->version() + 1000);
        record->set_value(listToJson(listed).toStdString());
        AccountManager::getInstance()->clearRecords();
        QVERIFY(m_t->transport->answerNext(180, 0, bytesOf(resp)));
        QVERIFY(
            QTest::qWaitFor([&] { return lastReportedError() == QStringLiteral("ringtone_limit_reached"); }));
        QCOMPARE(ringtones->customRingtoneModel()->count(), RingtoneModel::kMaxItems);
        QVERIFY(!ringtones->customRingtoneModel()->containsItem(QStringLiteral("c1")));
        QVERIFY(!m_t->account->refFileManager()->record(QStringLiteral("c1")));
        QVERIFY(ringtones->customRingtoneModel()->containsItem(QStringLiteral("theirs")));

        // Another device removes one: its record here goes with its row.
        m_t->account->fileManager()->fileDataMgr()->saveFileInfos(
            {ringtones->customRingtoneModel()->findItem(QStringLiteral("r3"))->file});
        QVERIFY(QTest::qWaitFor(
            [this] { return m_t->account->refFileManager()->record(QStringLiteral("r3")).has_value(); }));
        listed.removeAt(3);
        ringtones->updateRingtones(listToJson(listed));
        QVERIFY(!ringtones->customRingtoneModel()->containsItem(QStringLiteral("r3")));
        QVERIFY(!m_t->account->refFileManager()->record(QStringLiteral("r3")));

        // Another device's list fills the list while this device's copy is made: the copy is
        // dropped, told, and its file deleted on the server; nothing is written.
        FileData third;
        third.setFileId(QStringLiteral("m3"));
        ringtones->addRingtoneByMsg(&third, QStringLiteral("Three"));
        QVERIFY(QTest::qWaitFor([this] { return m_t->transport->count(1004) == 2; }));
        listed.append(ringtoneEntry(QStringLiteral("theirs2"), 60));
        ringtones->updateRingtones(listToJson(listed));
        (*copy.mutable_old_to_new())["m3"] = "c3";
        const int writes = m_t->transport->count(180);
        AccountManager::getInstance()->clearRecords();
        QVERIFY(m_t->transport->answerNext(1004, 0, bytesOf(copy)));
        QVERIFY(
            QTest::qWaitFor([&] { return lastReportedError() == QStringLiteral("ringtone_limit_reached"); }));
        QCOMPARE(ringtones->customRingtoneModel()->count(), RingtoneModel::kMaxItems);
        QVERIFY(!ringtones->customRingtoneModel()->containsItem(QStringLiteral("c3")));
        QVERIFY(!m_t->account->refFileManager()->record(QStringLiteral("c3")));
        QCOMPARE(m_t->transport->count(180), writes);
        QCOMPARE(parsed<im::file::DeleteFilesReq>(m_t->transport->last(FileDelete)->body).file_ids(0),
                 std::string("c3"));

        // This device's add is on its way when its merged list sent again loses to another
        // device's full list (taken, the add kept), and the add's own write then wins: the merged
        // list goes again only as far as the limit.
        listed.removeLast();
        ringtones->updateRingtones(listToJson(listed));
        FileData fourth;
        fourth.setFileId(QStringLiteral("m4"));
        ringtones->addRingtoneByMsg(&fourth, QStringLiteral("Four"));
        QVERIFY(QTest::qWaitFor([this] { return m_t->transport->count(1004) == 3; }));
        (*copy.mutable_old_to_new())["m4"] = "c4";
        const int writesBefore = m_t->transport->count(180);
        QVERIFY(m_t->transport->answerNext(1004, 0, bytesOf(copy)));
        QVERIFY(QTest::qWaitFor([&] { return m_t->transport->count(180) == writesBefore + 1; }));
        const auto mine = parsed<im::misc::UpdateSharedPreferencesV2Req>(m_t->transport->last(180)->body);
        listed.append(ringtoneEntry(QStringLiteral("theirs3"), 70));
        im::misc::UpdateSharedPreferencesV2Resp newer;
        *newer.add_preferences() = mine.preferences(0);
        newer.mutable_preferences(0)->set_version(mine.preferences(0).version() - 1);
        newer.mutable_preferences(0)->set_value(listToJson(listed).toStdString());
        const int deletes = m_t->transport->count(FileDelete);
        QVERIFY(m_t->transport->answerNext(180, 0, bytesOf(newer)));
        QVERIFY(QTest::qWaitFor(
            [&] { return ringtones->customRingtoneModel()->count() == RingtoneModel::kMaxItems + 1; }));
        QCOMPARE(m_t->transport->count(FileDelete), deletes);
        im::misc::UpdateSharedPreferencesV2Resp won;
        *won.add_preferences() = mine.preferences(0);
        QVERIFY(m_t->transport->answerNext(180, 0, bytesOf(won)));
        QVERIFY(QTest::qWaitFor(
            [&] { return ringtones->customRingtoneModel()->count() == RingtoneModel::kMaxItems; }));
        QVERIFY(ringtones->customRingtoneModel()->containsItem(QStringLiteral("c4")));
        QVERIFY(!ringtones->customRingtoneModel()->containsItem(QStringLiteral("theirs3")));
        QVERIFY(jsonToList(m_t->prefs->getKeyValue(QLatin1String(hostkeys::CUSTOM_RINGTONE_LIST))).size() <=
                RingtoneModel::kMaxItems);
    }

    // Another device's list arrives while this device's add is on its way: the merged list goes
    // again, and when the server fails that, it goes again a little later.
    void aMergedListTheServerFailsGoesAgain()
    {
        QVERIFY(m_t->start());
        RingtoneManager* ringtones = m_t->account->ringtoneManager();
        ringtones->updateRingtones(listToJson({ringtoneEntry(QStringLiteral("r0"), 1)}));
        FileData file;
        file.setFileId(QStringLiteral("m1"));
        ringtones->addRingtoneByMsg(&file, QStringLiteral("One"));
        QVERIFY(QTest::qWaitFor([this] { return m_t->transport->count(1004) == 1; }));
        im::file::DuplicateFilesResp copy;
        (*copy.mutable_old_to_new())["m1"] = "c1";
        QVERIFY(m_t->transport->answerNext(1004, 0, bytesOf(copy)));
        QVERIFY(QTest::qWaitFor([this] { return m_t->transport->count(180) == 1; }));
        ringtones->updateRingtones(
            listToJson({ringtoneEntry(QStringLiteral("r0"), 1), ringtoneEntry(QStringLiteral("theirs"), 2)}));
        const auto add = parsed<im::misc::UpdateSharedPreferencesV2Req>(m_t->transport->last(180)->body);
        im::misc::UpdateSharedPreferencesV2Resp confirmed;
        *confirmed.add_preferences() = add.preferences(0);
        QVERIFY(m_t->transport->answerNext(180, 0, bytesOf(confirmed)));
        QVERIFY(QTest::qWaitFor([this] { return m_t->transport->count(180) == 2; }));
        QVERIFY(m_t->transport->answerNext(180, 503));
        QVERIFY(QTest::qWaitFor([this] { return m_t->transport->count(180) == 3; }));
        const auto again = parsed<im::misc::UpdateSharedPreferencesV2Req>(m_t->transport->last(180)->body);
        QVERIFY(again.preferences(0).value().find("theirs") != std::string::npos);
        QVERIFY(again.preferences(0).value().find("c1") != std::string::npos);
    }

    // A refused edit is undone in the list and in the account's settings; a value whose version
    // lies far in the future is refused, so it cannot freeze the list.
    void refusedEditsAndImpossibleVersions()
    {
        QVERIFY(m_t->start());
        QTRY_VERIFY(m_model->isLoaded());
        push(notification({QStringLiteral("g1")}), m_t->now - 1000);
        QTRY_COMPARE(shownIds(), QStringList{QStringLiteral("g1")});
        m_model->updateGroupNotification(QStringLiteral("g4"), true, true, false);
        QCOMPARE(shownIds(), (QStringList{QStringLiteral("g1"), QStringLiteral("g4")}));
        QVERIFY(m_t->transport->answerNext(180, 500));
        QTRY_COMPARE(shownIds(), QStringList{QStringLiteral("g1")});
        const QVariantMap config = m_t->account->accountSettingModel()->notifyConfig();
        QVERIFY(!mapToJson(config).contains("\"g4\""));

        push(notification({QStringLiteral("g2")}), std::numeric_limits<qint64>::max());
        push(notification({QStringLiteral("g3")}), m_t->now + 1000);
        QTRY_COMPARE(shownIds(), QStringList{QStringLiteral("g3")});
    }

    void oldClientMapsMigrateBeforeAndAfterTheFirstFlush()
    {
        QVERIFY(m_t->loadPreferences());
        m_model->updateSettings(jsonToMap(notification({QStringLiteral("g1")}, false)), 50, true);
        QCOMPARE(m_model->count(), 0); // nothing shows before the first flush
        m_model->addOldLocalSetting(QStringLiteral("g1"), oldClientMap(60, true), 60);   // newer: wins
        m_model->addOldLocalSetting(QStringLiteral("g2"), oldClientMap(10, true), 10);   // new row
        m_model->addOldLocalSetting(QStringLiteral("gone"), oldClientMap(10, true), 10); // no chat
        m_model->flushSettings();
        QTRY_COMPARE(shownIds(), (QStringList{QStringLiteral("g1"), QStringLiteral("g2")}));
        QVERIFY(m_model->mutedSetting(QStringLiteral("g1"))->reply());
        QCOMPARE(m_model->mutedSetting(QStringLiteral("g1"))->updateTime(), 60);

        // After it they apply at once, by time; a map missing a flag is ignored.
        m_model->addOldLocalSetting(QStringLiteral("g1"), oldClientMap(40, false), 40);
        QVERIFY(m_model->mutedSetting(QStringLiteral("g1"))->reply());
        QVariantMap partial = oldClientMap(70, true);
        partial.remove(QStringLiteral("atAll"));
        m_model->addOldLocalSetting(QStringLiteral("g3"), partial, 70);
        QVERIFY(!m_model->mutedSetting(QStringLiteral("g3")));
        m_model->addOldLocalSetting(QStringLiteral("g3"), oldClientMap(70, true), 70);
        QVERIFY(m_model->mutedSetting(QStringLiteral("g3")));
        // Written once to the notification preference, and the chats' maps lose the old flags,
        // so an exception the user deletes does not come back from them at the next start.
        QTRY_VERIFY(m_t->prefs->getKeyValue(QStringLiteral("notification")).contains("\"g3\""));
        const QByteArray written = m_t->prefs->getKeyValue(QStringLiteral("notification"));
        QVERIFY(written.contains("\"g1\"") && written.contains("\"g2\"") && !written.contains("gone"));
        for (const char* chat : {"ringtone_g1", "ringtone_g2", "ringtone_g3"}) {
            const QVariantMap map = jsonToMap(m_t->prefs->getKeyValue(QLatin1String(chat)));
            QVERIFY2(!map.isEmpty() && !map.contains(QStringLiteral("reply")), chat);
        }
        m_model->deleteGroupNotification(QStringLiteral("g2"), true);
        QVERIFY(!m_t->prefs->getKeyValue(QStringLiteral("notification")).contains("\"g2\""));
        // A newer value from the server keeps what was migrated: it is in the preference now.
        m_model->updateSettings(jsonToMap(m_t->prefs->getKeyValue(QStringLiteral("notification"))), 80, true);
        QTRY_COMPARE(m_model->count(), 2);

        m_model->clearData(false);
        QCOMPARE(m_model->count(), 0);
        QVERIFY(!m_model->isLoaded());
    }
};

SETTINGMODEL_TEST_MAIN(TestNotifications)
#include "tst_notifications.moc"
