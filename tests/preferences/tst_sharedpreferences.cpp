#include "commands/settingservicecmd.h"
#include "host/accountmanager.h"
#include "host/accountsettingmodel.h"
#include "host/constants.h"
#include "host/datainfomodel.h"
#include "host/jsonutil.h"
#include "host/stickers.h"
#include "host/threadmanager.h"
#include "im/content.pb.h"
#include "im/misc.pb.h"
#include "im/notif.pb.h"
#include "preferences/sharedpreferencemodel.h"
#include "protohelpers.h"
#include "refcontacts.h"
#include "refservices.h"
#include "refstores.h"
#include "secretwatch.h"
#include "testaccount.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using storage::SharedPreferenceInfo;
using Check = std::function<bool(TestAccount&)>;
using Write = std::function<void(TestAccount&)>;
Q_DECLARE_METATYPE(Check)
Q_DECLARE_METATYPE(Write)

namespace {

using SP = SharedPreferenceModel;

im::SharedPreference record(const QString& key, const QByteArray& value, int type, qint64 version)
{
    im::SharedPreference r;
    r.set_key(key.toStdString());
    r.set_value(value.toStdString());
    r.set_type(type);
    r.set_version(version);
    return r;
}

QByteArray pushOf(const QList<im::SharedPreference>& records)
{
    im::notif::SharedPreferenceUpdatedNotif notif;
    for (const auto& r : records)
        *notif.add_preferences() = r;
    return bytesOf(notif);
}

// A remark value as another device writes it.
QByteArray remarkValue(RefAccount* account, qint64 target, const QString& text)
{
    QByteArray key;
    const QByteArray cipher = account->encrypt(text.toUtf8(), key);
    im::content::Remark remark;
    remark.set_target_id(target);
    remark.set_key(key.toStdString());
    remark.set_cipher(cipher.toStdString());
    return bytesOf(remark).toBase64();
}

} // namespace

class TestSharedPreferences : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<TestAccount> m_t;

    SharedPreferenceModel* prefs() const { return m_t->prefs; }
    ScriptedTransport* transport() const { return m_t->transport; }
    RefAccount* account() const { return m_t->account; }

    QList<SharedPreferenceInfo> rows() const
    {
        ThreadManager::getInstance()->waitForIdle();
        return account()->storage()->sharedPreferenceStorage()->allInfos();
    }

    std::optional<SharedPreferenceInfo> row(const QString& key, int type) const
    {
        for (const auto& r : rows()) {
            if (r.key == key && r.type == type)
                return r;
        }
        return std::nullopt;
    }

    void push(const QList<im::SharedPreference>& records)
    {
        transport()->push(PushSharedPreferenceUpdated, pushOf(records));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    }

    void restart()
    {
        const QString id = account()->accountId();
        m_t.reset();
        m_t = std::make_unique<TestAccount>(m_dir.path(), id);
        QVERIFY(m_t->loadPreferences());
    }

    // Answers every preference write as the server does when this device's write wins.
    void acceptWrites()
    {
        transport()->setHandler(180, [](const ScriptedTransport::Request& r) {
            auto req = parsed<im::misc::UpdateSharedPreferencesV2Req>(r.body);
            im::misc::UpdateSharedPreferencesV2Resp resp;
            *resp.mutable_preferences() = req.preferences();
            return std::optional<ScriptedTransport::Reply>({0, bytesOf(resp)});
        });
    }

    im::misc::UpdateSharedPreferencesV2Req lastWrite() const
    {
        const auto r = transport()->last(180);
        return r ? parsed<im::misc::UpdateSharedPreferencesV2Req>(r->body)
                 : im::misc::UpdateSharedPreferencesV2Req();
    }

    void settle() { QCoreApplication::processEvents(); }

private slots:
    void init()
    {
        static int run = 0;
        m_t = std::make_unique<TestAccount>(
            m_dir.path(),
            QStringLiteral("%1-%2").arg(QLatin1String(QTest::currentTestFunction())).arg(++run));
        QVERIFY(m_t->loadPreferences());
        account()->refUserManager()->addUser(7, QStringLiteral("Bob"));
        account()->refGroupModelMgr()->addGroup(9, QStringLiteral("Team"));
    }

    void cleanup() { m_t.reset(); }

    void routing_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("applied");
        QTest::addColumn<Check>("effect");
        const Check none = [](TestAccount&) { return true; };

        QTest::newRow("4 pinned black list")
            << 4 << "pin_message_blacklist_d1"
            << QByteArray(R"({"dialog_id":"d1","message_ids":[5,9007199254740993]})") << true
            << Check([](TestAccount& t) {
                   return t.account->pinnedMessageBlackLists().value(QStringLiteral("d1")) ==
                          QVariantList{5, qint64(9007199254740993)};
               });
        QTest::newRow("4 bad JSON") << 4 << "pin_message_blacklist_d1" << QByteArray("{oops") << false
                                    << none;
        QTest::newRow("4 key without the prefix") << 4 << "d1" << QByteArray("{}") << false << none;
        QTest::newRow("5 favourite stickers")
            << 5 << "sticker_favorite" << QByteArray("[1,2]") << true
            << Check([](TestAccount& t) { return t.account->refStickerBoxSetMgr()->favorites() == "[1,2]"; });
        QTest::newRow("6 random preview")
            << 6 << "random_message_preview" << QByteArray(R"(["a","b"])") << true
            << Check([](TestAccount& t) {
                   return t.account->randomPreviewDialogs() == QStringList{"a", "b"};
               });
        QTest::newRow("7 reminder") << 7 << "rem-1" << QByteArray("data").toBase64() << true
                                    << Check([](TestAccount& t) {
                                           return t.account->refReminderHandler()->reminders().value(
                                                      QStringLiteral("rem-1")) == "data";
                                       });
        QTest::newRow("7 bad Base64") << 7 << "rem-1" << QByteArray("@@not base64@@") << false << none;
        QTest::newRow("8 chat folder")
            << 8 << "folder_3" << QByteArray(R"({"name":"Work"})") << true << Check([](TestAccount& t) {
                   return QTest::qWaitFor([&] {
                       return t.account->chatFolders().value(QStringLiteral("folder_3")) ==
                              R"({"name":"Work"})";
                   });
               });
        QTest::newRow("10 folder order")
            << 10 << "dialog_folder_order" << QByteArray("[3,1]") << true << Check([](TestAccount& t) {
                   return t.account->chatFolderOrders().size() == 1 &&
                          t.account->chatFolderOrders().at(0).order == "[3,1]";
               });
        QTest::newRow("11 folder config")
            << 11 << "dialog_folder_config" << QByteArray("cfg") << true << Check([](TestAccount& t) {
                   return t.account->accountSettingModel()->chatFolderConfig() == "cfg";
               });
        QTest::newRow("13 group remark")
            << 13 << "remark_9" << QByteArray() << true << Check([](TestAccount& t) {
                   return t.account->groupModelMgr()->getSharedGroup(9, false, -1)->remark() ==
                          QStringLiteral("Team A");
               });
        QTest::newRow("12 remark that does not parse")
            << 12 << "remark_7" << QByteArray("AAAA") << false << none;
        QTest::newRow("17 GIF history")
            << 17 << "gif_history" << QByteArray("[7]") << true
            << Check([](TestAccount& t) { return t.account->refStickerBoxSetMgr()->gifHistory() == "[7]"; });
        QTest::newRow("22 screen lock log")
            << 22 << "lock-1" << QByteArray("log") << true
            << Check([](TestAccount& t) { return t.account->screenLockLogs() == QList<QByteArray>{"log"}; });
        QTest::newRow("23 media EXIF")
            << 23 << "exif_media_message" << QByteArray("1") << true
            << Check([](TestAccount& t) { return t.account->accountSettingModel()->mediaMessageExif(); });
        QTest::newRow("23 unknown EXIF key") << 23 << "exif_other" << QByteArray("1") << false << none;
        QTest::newRow("25 reaction tag")
            << 25 << "👍" << QByteArray("like") << true << Check([](TestAccount& t) {
                   return t.prefs->getReactionTags().value(QStringLiteral("👍")) == "like" &&
                          !t.prefs->hasKey(QStringLiteral("👍"));
               });
        // The account's settings hear the notification value; its owner is registered later.
        QTest::newRow("1 before its owner")
            << 1 << "notification" << QByteArray(R"({"group":{"exceptionMention":[]}})") << false
            << Check([](TestAccount& t) {
                   return t.account->accountSettingModel()->notifyConfig().contains(QStringLiteral("group"));
               });
        QTest::newRow("1 not an object")
            << 1 << "notification" << QByteArray("[1]") << false << Check([](TestAccount& t) {
                   return t.account->accountSettingModel()->notifyConfig().isEmpty();
               });
        // Owners that are module models registered later, and a type nobody owns.
        for (int type : {2, 3, 15, 16, 24, 99})
            QTest::addRow("%d without its owner", type)
                << type << (type == 16 ? "ringtone_d1" : "some_key") << QByteArray("{}") << false << none;
    }

    // Each type reaches its owner; what cannot be applied is stored with its flag set.
    void routing()
    {
        QFETCH(int, type);
        QFETCH(QString, key);
        QFETCH(QByteArray, value);
        QFETCH(bool, applied);
        QFETCH(Check, effect);
        if (type == 13)
            value = remarkValue(account(), 9, QStringLiteral("Team A"));
        push({record(key, value, type, 1000)});
        QVERIFY(effect(*m_t));
        const auto stored = row(key, type);
        if (applied && (type == 7 || type == 22)) {
            QVERIFY(!stored); // applied reminders and lock logs are not kept
            return;
        }
        QVERIFY(stored);
        QCOMPARE(stored->value, value);
        QCOMPARE(stored->unapplied, applied ? 0 : 1);
    }

    void unappliedRecordsApplyOnceTheirOwnerCan()
    {
        account()->setReminderHandler(nullptr);
        push({record(QStringLiteral("rem-2"), QByteArray("later").toBase64(), 7, 5),
              record(QStringLiteral("wrong"), "{}", 1, 6)});
        QCOMPARE(row(QStringLiteral("rem-2"), 7)->unapplied, 1);
        restart(); // the restarted account has its reminder handler
        QCOMPARE(account()->refReminderHandler()->reminders().value(QStringLiteral("rem-2")),
                 QByteArray("later"));
        QVERIFY(!row(QStringLiteral("rem-2"), 7)); // applied now, so no longer kept
        QCOMPARE(row(QStringLiteral("wrong"), 1)->unapplied, 1);
        QCOMPARE(prefs()->getKeyValue(QStringLiteral("wrong")), QByteArray("{}"));
    }

    // What cannot be read, a version below zero or far ahead, a record without a key: skipped,
    // and named in one warning for the whole push.
    void unreadableRecordsAreSkippedAndNamedOnce()
    {
        im::SharedPreference bad = record(QStringLiteral("dialog_folder_config"), "not base64!", 11, 5);
        bad.set_value_key("key");
        bad.set_encrypted(true);
        QByteArray key;
        const QByteArray cipher = account()->encrypt("secret", key);
        im::SharedPreference wrongKey = record(QStringLiteral("x"), cipher.toBase64(), 11, 6);
        wrongKey.set_value_key(QByteArray(32, 'k').toStdString());
        im::SharedPreference good = record(QStringLiteral("dialog_folder_config"), cipher.toBase64(), 11, 7);
        good.set_value_key(key.toStdString());
        good.set_encrypted(true);
        const qint64 farAhead = account()->currentTime() + 400LL * 24 * 60 * 60 * 1000;
        QTest::ignoreMessage(
            QtWarningMsg,
            QRegularExpression(QStringLiteral(
                "^dropped from a preference push : a record without a key x1 \\(type 11\\); a value "
                "that cannot be decrypted x2 \\(dialog_folder_config/11, x/11\\); an impossible "
                "version x2 \\(past/11 at -5, ahead/11 at \\d+\\)$")));
        QTest::failOnWarning(QRegularExpression(QStringLiteral("^dropped")));
        push({bad, wrongKey, record(QStringLiteral("past"), "v", 11, -5), record({}, "v", 11, 8),
              record(QStringLiteral("ahead"), "v", 11, farAhead), good});
        // Only the readable one is applied and stored, and both hold the plain value.
        QCOMPARE(account()->accountSettingModel()->chatFolderConfig(), QByteArray("secret"));
        QCOMPARE(rows().size(), 1);
        QCOMPARE(rows().at(0).value, QByteArray("secret"));
        QVERIFY(!prefs()->hasKey(QStringLiteral("x")));
        QVERIFY(!prefs()->hasKey(QStringLiteral("past")) && !prefs()->hasKey(QStringLiteral("ahead")));
    }

    void pagingFromTheSavedOffset()
    {
        // The server's list: 1000 config records, then a page of reminders only.
        QList<im::SharedPreference> all;
        for (int i = 0; i < 1000; ++i)
            all.append(
                record(QStringLiteral("k%1").arg(i), QByteArray::number(i), 11 + (i % 2) * 12, 100 + i));
        for (int i = 0; i < 300; ++i)
            all.append(record(QStringLiteral("rem%1").arg(i), QByteArray("r").toBase64(), 7, 2000 + i));
        QList<qint64> offsets;
        transport()->setHandler(178, [&](const ScriptedTransport::Request& r) {
            const qint64 offset = parsed<im::misc::ListSharedPreferencesReq>(r.body).offset();
            offsets.append(offset);
            im::misc::ListSharedPreferencesResp resp;
            for (qint64 i = offset; i < qMin<qint64>(offset + 500, all.size()); ++i)
                *resp.add_preferences() = all.at(int(i));
            resp.set_next_offset(qMin<qint64>(offset + 500, all.size()));
            resp.set_has_more(resp.next_offset() < all.size());
            return std::optional<ScriptedTransport::Reply>({0, bytesOf(resp)});
        });
        account()->dataInfoModel()->saveSharedReferenceOffset(0);
        QSignalSpy finished(prefs(), &SharedPreferenceBase::listFinished);
        prefs()->getNewData();
        QVERIFY(QTest::qWaitFor([&] { return finished.count() == 1; }));
        QCOMPARE(offsets, (QList<qint64>{0, 500, 1000}));
        QCOMPARE(account()->dataInfoModel()->sharedReferenceOffset(), 1300);
        QCOMPARE(rows().size(), 1000); // applied reminders are not kept
        QCOMPARE(prefs()->getKeyValue(QStringLiteral("k999")), QByteArray("999"));
        QCOMPARE(account()->refReminderHandler()->reminders().size(), 300);
        QCoreApplication::processEvents();
        QCOMPARE(finished.count(), 1);

        // A restart lists again from where it stopped, and the store holds the same state.
        offsets.clear();
        restart();
        QCOMPARE(prefs()->getKeyValue(QStringLiteral("k998")), QByteArray("998"));
        QCOMPARE(prefs()->typeVersion(23), 1099);
        transport()->setHandler(178, [&](const ScriptedTransport::Request& r) {
            offsets.append(parsed<im::misc::ListSharedPreferencesReq>(r.body).offset());
            return std::optional<ScriptedTransport::Reply>({0, {}});
        });
        QSignalSpy again(prefs(), &SharedPreferenceBase::listFinished);
        prefs()->getNewData();
        QVERIFY(QTest::qWaitFor([&] { return again.count() == 1; }));
        QCOMPARE(offsets, QList<qint64>{1300});
    }

    void versionsDecideWhatIsStored()
    {
        push({record(QStringLiteral("dialog_folder_config"), "new", 11, 100)});
        // Not newer than the type's version: shown, not written again.
        push({record(QStringLiteral("dialog_folder_config"), "older", 11, 90)});
        QCOMPARE(prefs()->getKeyValue(QStringLiteral("dialog_folder_config")), QByteArray("older"));
        QCOMPARE(row(QStringLiteral("dialog_folder_config"), 11)->value, QByteArray("new"));
        QCOMPARE(prefs()->typeVersion(11), 100);
        // An empty value removes the preference everywhere.
        push({record(QStringLiteral("dialog_folder_config"), {}, 11, 200)});
        QVERIFY(!prefs()->hasKey(QStringLiteral("dialog_folder_config")));
        QVERIFY(!row(QStringLiteral("dialog_folder_config"), 11));
    }

    void folderOrderReachesTheAccountWithItsAge()
    {
        push({record(QStringLiteral("dialog_folder_order"), "[1]", 10, 100),
              record(QStringLiteral("dialog_folder_order_extern"), "[2]", 21, 100)});
        push({record(QStringLiteral("dialog_folder_order"), "[0]", 10, 50)});
        const auto orders = account()->chatFolderOrders();
        QCOMPARE(orders.size(), 2);
        QCOMPARE(orders.at(0).order, QByteArray("[1]"));
        QCOMPARE(orders.at(0).orderExtern, QByteArray("[2]"));
        QVERIFY(!orders.at(0).localIsNewer);
        QVERIFY(orders.at(1).localIsNewer);

        // A cleared order reaches the account too, from a push and from a list page.
        push({record(QStringLiteral("dialog_folder_order"), {}, 10, 300)});
        QCOMPARE(account()->chatFolderOrders().size(), 3);
        QCOMPARE(account()->chatFolderOrders().last().order, QByteArray());
        QCOMPARE(account()->chatFolderOrders().last().orderExtern, QByteArray("[2]"));
        im::misc::ListSharedPreferencesResp page;
        *page.add_preferences() = record(QStringLiteral("dialog_folder_order_extern"), {}, 21, 400);
        prefs()->listSharedPreferencesResp(page);
        QVERIFY(QTest::qWaitFor([this] { return account()->chatFolderOrders().size() == 4; }));
        QCOMPARE(account()->chatFolderOrders().last().orderExtern, QByteArray());
        QVERIFY(!row(QStringLiteral("dialog_folder_order_extern"), 21));
    }

    // A record is stored unless the database holds its own key at that version or newer: other
    // keys of the type, this device's writes and records without a version do not hide it.
    void everyKeyKeepsItsOwnVersion()
    {
        const auto folder = [](int n) { return QStringLiteral("folder_%1").arg(n); };
        im::misc::ListSharedPreferencesResp page;
        *page.add_preferences() = record(folder(1), "one", 8, 100);
        *page.add_preferences() = record(folder(2), "two", 8, 90);
        QSignalSpy listed(prefs(), &SharedPreferenceBase::listFinished);
        prefs()->listSharedPreferencesResp(page);
        QVERIFY(QTest::qWaitFor([&] { return listed.count() == 1; }));
        QCOMPARE(row(folder(2), 8)->value, QByteArray("two"));
        QCOMPARE(row(folder(1), 8)->value, QByteArray("one"));
        QCOMPARE(prefs()->typeVersion(8), 100);

        im::misc::UpdateSharedPreferencesV2Req req;
        prefs()->chatFolder(req.add_preferences(), folder(3), "three"); // stamped now, far above 100
        push({record(folder(4), "four", 8, 95), record(folder(5), "five", 8, 0),
              record(folder(6), "six", 8, 0)});
        QCOMPARE(row(folder(4), 8)->value, QByteArray("four"));
        QCOMPARE(row(folder(6), 8)->value, QByteArray("six"));
        push({record(folder(5), "five again", 8, 0), record(folder(1), "older", 8, 99)});
        QCOMPARE(row(folder(5), 8)->value, QByteArray("five again")); // no version: nothing to be older than
        QCOMPARE(row(folder(1), 8)->value, QByteArray("one"));        // its own key is newer
        QCOMPARE(prefs()->keyVersion(folder(1), 8), 100);
        QVERIFY(prefs()->typeVersion(8) > 100);

        restart();
        for (const auto& [n, value] : {std::pair{2, "two"}, {3, "three"}, {4, "four"}, {5, "five again"}})
            QCOMPARE(prefs()->getKeyValue(folder(n)), QByteArray(value));
        QCOMPARE(prefs()->getKeyValue(folder(1)), QByteArray("one"));
    }

    // Types owned by module models wait until their owner registers, and it gets them at once.
    void ownersRegisteredLaterTakeWhatWaited()
    {
        push({record(QStringLiteral("desktop_notification"), R"({"sound":1})", 2, 10)});
        QCOMPARE(row(QStringLiteral("desktop_notification"), 2)->unapplied, 1);
        QVERIFY(!prefs()->hasOwner(2));

        QList<QByteArray> taken;
        auto guard = std::make_unique<QObject>();
        SharedPreferenceOwner owner;
        owner.apply = [&taken](const QString&, const QByteArray& value, qint64, bool) {
            taken.append(value);
            return true;
        };
        prefs()->registerOwner(2, guard.get(), owner);
        QVERIFY(prefs()->hasOwner(2));
        QCOMPARE(taken, QList<QByteArray>{R"({"sound":1})"});
        QCOMPARE(row(QStringLiteral("desktop_notification"), 2)->unapplied, 0);
        // The store's key rule still holds for the new owner.
        push({record(QStringLiteral("desktop"), "{}", 2, 11)});
        QCOMPARE(taken.size(), 1);
        QCOMPARE(row(QStringLiteral("desktop"), 2)->unapplied, 1);

        // Once the owner is gone, records wait again.
        guard.reset();
        push({record(QStringLiteral("desktop_notification"), R"({"sound":2})", 2, 12)});
        QCOMPARE(taken.size(), 1);
        QCOMPARE(row(QStringLiteral("desktop_notification"), 2)->unapplied, 1);

        // An owner registered before the local load sees every stored record of its type, and
        // takes the waiting ones.
        const QString id = account()->accountId();
        m_t.reset();
        m_t = std::make_unique<TestAccount>(m_dir.path(), id);
        QObject again;
        QStringList loaded;
        owner.loaded = [&loaded](const QString& key, const QByteArray&, qint64) { loaded.append(key); };
        prefs()->registerOwner(2, &again, owner);
        QVERIFY(m_t->loadPreferences());
        QCOMPARE(taken.last(), QByteArray(R"({"sound":2})"));
        QCOMPARE(loaded, QStringList{QStringLiteral("desktop_notification")});
    }

    // A write the server refused leaves the device with the server's value, in memory, on disk
    // and with the owner; a write that never reached the server stays.
    void refusedWritesGoBackToTheServersValue()
    {
        const QString key = QStringLiteral("dialog_folder_config");
        push({record(key, "server", 11, 100)});
        prefs()->syncChatFolderConfig("mine");
        QCOMPARE(account()->accountSettingModel()->chatFolderConfig(), QByteArray("server"));
        QCOMPARE(prefs()->getKeyValue(key), QByteArray("mine"));
        AccountManager::getInstance()->clearRecords();
        QVERIFY(transport()->answerNext(180, 403));
        settle();
        QCOMPARE(prefs()->getKeyValue(key), QByteArray("server"));
        // The user hears why the change went back.
        QCOMPARE(AccountManager::getInstance()->errors().size(), 1);
        QCOMPARE(AccountManager::getInstance()->errors().first().text, QStringLiteral("setting_refused"));
        QCOMPARE(AccountManager::getInstance()->errors().first().source, account()->accountId());
        QCOMPARE(row(key, 11)->value, QByteArray("server"));
        QCOMPARE(row(key, 11)->version, 100);
        QCOMPARE(account()->accountSettingModel()->chatFolderConfig(), QByteArray("server"));

        // A key the server never had is removed again.
        prefs()->syncMessageExif(true, true);
        QVERIFY(transport()->answerNext(180, 403));
        settle();
        QVERIFY(!prefs()->hasKey(QStringLiteral("exif_media_message")));
        QVERIFY(!row(QStringLiteral("exif_media_message"), 23));

        // After an accepted write, a refused one goes back to the accepted value.
        prefs()->syncChatFolderConfig("one");
        const auto accepted = lastWrite();
        prefs()->syncChatFolderConfig("two");
        im::misc::UpdateSharedPreferencesV2Resp echo;
        *echo.mutable_preferences() = accepted.preferences();
        QVERIFY(transport()->answerNext(180, 0, bytesOf(echo)));
        QVERIFY(transport()->answerNext(180, 403));
        settle();
        QCOMPARE(prefs()->getKeyValue(key), QByteArray("one"));
        QCOMPARE(row(key, 11)->value, QByteArray("one"));

        // A refusal of a write this device has since written over changes nothing.
        prefs()->syncChatFolderConfig("a");
        prefs()->syncChatFolderConfig("b");
        QVERIFY(transport()->answerNext(180, 403));
        settle();
        QCOMPARE(prefs()->getKeyValue(key), QByteArray("b"));

        // A write that never reached the server keeps its value (it is not refused).
        prefs()->syncChatFolderConfig("offline");
        QVERIFY(transport()->answerNext(180, AccountBase::kNetworkError));
        settle();
        QCOMPARE(prefs()->getKeyValue(key), QByteArray("offline"));
    }

    // Edits the network failed (no connection, no answer) stay pending, on disk too, and go out
    // again oldest first with their own versions: after a delay, and at once when the account
    // comes online. An answer settles them; a refused edit is not sent again.
    void networkFailedEditsAreSentAgain()
    {
        prefs()->syncChatFolderConfig("first");
        const qint64 firstVersion = lastWrite().preferences(0).version();
        m_t->now += 1000;
        prefs()->syncNotifySetting(R"({"sound":1})");
        m_t->now += 1000;
        prefs()->syncMessageExif(true, true);
        QVERIFY(transport()->answerNext(180, AccountBase::kNetworkError));
        QVERIFY(transport()->answerNext(180, AccountBase::kRequestTimedOut));
        QVERIFY(transport()->answerNext(180, 403));
        settle();
        QVERIFY(row(QStringLiteral("dialog_folder_config"), 11)->pending);
        QVERIFY(!row(QStringLiteral("exif_media_message"), 23)); // refused: rolled back, not kept

        const int sent = transport()->count(180);
        account()->setOnline(false);
        account()->setOnline(true);
        QCOMPARE(transport()->count(180), sent + 1);
        const auto again = lastWrite();
        QCOMPARE(again.preferences_size(), 2);
        QCOMPARE(again.preferences(0).key(), "dialog_folder_config");
        QCOMPARE(again.preferences(0).value(), "first");
        QCOMPARE(qint64(again.preferences(0).version()), firstVersion);
        QCOMPARE(again.preferences(1).key(), "notification");

        // Offline again: the timer's turn finds no network and sends nothing.
        account()->setOnline(false);
        QVERIFY(transport()->answerNext(180, AccountBase::kNetworkError));
        settle();
        account()->setOnline(true);
        QCOMPARE(transport()->count(180), sent + 2);

        // Lost again while online: sent once more after the delay.
        QVERIFY(transport()->answerNext(180, AccountBase::kRequestTimedOut));
        QVERIFY(QTest::qWaitFor([&] { return transport()->count(180) == sent + 3; }, 5000));

        im::misc::UpdateSharedPreferencesV2Resp echo;
        *echo.mutable_preferences() = lastWrite().preferences();
        QVERIFY(transport()->answerNext(180, 0, bytesOf(echo)));
        settle();
        QVERIFY(!row(QStringLiteral("dialog_folder_config"), 11)->pending);
        QVERIFY(!row(QStringLiteral("notification"), 1)->pending);
        account()->setOnline(false);
        account()->setOnline(true);
        QCOMPARE(transport()->count(180), sent + 3);
    }

    // A restart sends what was left unanswered, as it was written: a removal as a removal, an
    // encrypted type encrypted again. The server's records decide by version meanwhile.
    void pendingEditsOutliveARestart()
    {
        account()->setOnline(false);
        push({record(QStringLiteral("dialog_folder_config"), "server", 11, m_t->now - 5000),
              record(QStringLiteral("notification"), R"({"old":1})", 1, m_t->now - 5000)});
        prefs()->syncChatFolderConfig({});
        prefs()->syncReactionTags(QStringLiteral("👍"), QStringLiteral("good"));
        prefs()->syncNotifySetting(R"({"mine":1})");
        for (int i = 0; i < 3; ++i)
            QVERIFY(transport()->answerNext(180, AccountBase::kNetworkError));
        settle();

        // The restarted device sends them as soon as its local copy is loaded, oldest first.
        restart();
        QVERIFY(!prefs()->hasKey(QStringLiteral("dialog_folder_config")));
        QCOMPARE(transport()->count(180), 1);
        const auto again = lastWrite();
        QCOMPARE(again.preferences_size(), 3);
        QCOMPARE(again.preferences(0).key(), "dialog_folder_config");
        QVERIFY(again.preferences(0).value().empty());
        const auto tag = again.preferences(1);
        QVERIFY(tag.encrypted());
        bool ok = false;
        const QByteArray plain =
            account()->decrypt(QByteArray::fromBase64(QByteArray::fromStdString(tag.value())),
                               QByteArray::fromStdString(tag.value_key()), &ok);
        QVERIFY(ok);
        QCOMPARE(plain, QByteArray("good"));
        QCOMPARE(again.preferences(2).value(), R"({"mine":1})");

        // Meanwhile an older server record leaves an unanswered edit alone; a newer one wins.
        push({record(QStringLiteral("notification"), R"({"older":1})", 1, m_t->now - 1000),
              record(QStringLiteral("👍"), "newer", 25, m_t->now + 60000)});
        QCOMPARE(prefs()->getKeyValue(QStringLiteral("notification")), QByteArray(R"({"mine":1})"));
        QCOMPARE(prefs()->getTypeValues(25).value(QStringLiteral("👍")), QByteArray("newer"));

        // The server's answer: the removal and the value taken, its newer tag kept.
        im::misc::UpdateSharedPreferencesV2Resp answer;
        *answer.add_preferences() = again.preferences(0);
        *answer.add_preferences() = record(QStringLiteral("👍"), "newer", 25, m_t->now + 60000);
        *answer.add_preferences() = again.preferences(2);
        QVERIFY(transport()->answerNext(180, 0, bytesOf(answer)));
        settle();
        QVERIFY(!row(QStringLiteral("dialog_folder_config"), 11));
        QVERIFY(!row(QStringLiteral("notification"), 1)->pending);
        QCOMPARE(row(QStringLiteral("👍"), 25)->value, QByteArray("newer"));
        QVERIFY(!row(QStringLiteral("👍"), 25)->pending);
        restart();
        QCOMPARE(transport()->count(180), 0);

        // Sent again after a restart, an edit the server failed goes again; one it refused makes
        // the whole list be read again, since the server's value is not known here any more.
        account()->setOnline(false);
        prefs()->syncNotifySetting(R"({"later":1})");
        QVERIFY(transport()->answerNext(180, AccountBase::kNetworkError));
        settle();
        restart();
        QVERIFY(transport()->answerNext(180, 503));
        settle();
        QVERIFY(row(QStringLiteral("notification"), 1)->pending);
        QVERIFY(QTest::qWaitFor([this] { return transport()->count(180) == 2; }));
        QVERIFY(transport()->answerNext(180, 403));
        settle();
        QVERIFY(!row(QStringLiteral("notification"), 1)->pending);
        const auto list = transport()->last(178);
        QVERIFY(list && parsed<im::misc::ListSharedPreferencesReq>(list->body).offset() == 0);
    }

    // A chat folder the server returned without this device's tag filters gets them back and is
    // sent again, once.
    void chatFolderTagsSurviveTheServersAnswer()
    {
        const QString key = QStringLiteral("folder_7");
        im::misc::UpdateSharedPreferencesV2Req req;
        prefs()->chatFolder(req.add_preferences(), key,
                            R"({"name":"Work","include_tag":[1],"exclude_tag":[2]})");
        prefs()->updateSharedPreferences(req, true);
        im::misc::UpdateSharedPreferencesV2Resp resp;
        *resp.add_preferences() = record(key, R"({"name":"Job"})", 8, req.preferences(0).version() + 50);
        QVERIFY(transport()->answerNext(180, 0, bytesOf(resp)));
        settle();
        QCOMPARE(transport()->count(180), 2);
        const QVariantMap merged = jsonToMap(QByteArray::fromStdString(lastWrite().preferences(0).value()));
        QCOMPARE(merged, (QVariantMap{{QStringLiteral("name"), QStringLiteral("Job")},
                                      {QStringLiteral("include_tag"), QVariantList{1}},
                                      {QStringLiteral("exclude_tag"), QVariantList{2}}}));
        QCOMPARE(jsonToMap(prefs()->getKeyValue(key)), merged);
        QCOMPARE(jsonToMap(row(key, 8)->value), merged);
        // The server keeps the merged folder; its echo is not sent a third time.
        acceptWrites();
        QVERIFY(transport()->answerNext(180, 0, bytesOf([this] {
                                            im::misc::UpdateSharedPreferencesV2Resp r;
                                            *r.mutable_preferences() = lastWrite().preferences();
                                            return r;
                                        }())));
        settle();
        QCOMPARE(transport()->count(180), 2);
    }

    void updateAnswers_data()
    {
        QTest::addColumn<Write>("write");
        QTest::addColumn<bool>("newerOnServer");
        QTest::addColumn<Check>("outcome");
        using T = TestAccount;
        const Write preview = [](T& t) { t.prefs->updateRandomMessagePreviewReq({QStringLiteral("d1")}); };
        QTest::newRow("6 confirmed") << preview << false << Check([](T& t) {
            return t.account->randomPreviewDialogs() == QStringList{"d1"};
        });
        QTest::newRow("6 newer elsewhere") << preview << true << Check([](T& t) {
            return t.account->randomPreviewDialogs().isEmpty(); // told through the signal instead
        });
        const Write favorites = [](T& t) {
            QVariantMap context{{QStringLiteral("op"), 1}};
            t.prefs->syncFavoriteStickerList("[4]", context);
        };
        QTest::newRow("5 confirmed") << favorites << false << Check([](T& t) {
            const auto answers = t.account->refStickerBoxSetMgr()->favoriteAnswers();
            return answers.size() == 1 && answers.at(0).ok &&
                   answers.at(0).context.value(QStringLiteral("op")) == 1;
        });
        QTest::newRow("5 newer elsewhere")
            << favorites << true
            << Check([](T& t) { return t.account->refStickerBoxSetMgr()->favorites() == "server"; });
        const Write gifs = [](T& t) {
            QVariantMap context;
            t.prefs->syncGifHistoryList("[1]", context);
        };
        QTest::newRow("17 confirmed")
            << gifs << false
            << Check([](T& t) { return t.account->refStickerBoxSetMgr()->gifAnswers().size() == 1; });
        QTest::newRow("17 newer elsewhere") << gifs << true << Check([](T& t) {
            return t.account->refStickerBoxSetMgr()->gifRetries() == QList<QByteArray>{"server"};
        });
        const Write reminder = [](T& t) { t.prefs->syncReminder(QStringLiteral("r1"), "mine"); };
        QTest::newRow("7 confirmed") << reminder << false << Check([](T& t) {
            const auto results = t.account->refReminderHandler()->syncResults();
            return results.size() == 1 && results.at(0).result == 0 && results.at(0).value == "mine" &&
                   !t.prefs->hasKey(QStringLiteral("r1"));
        });
        QTest::newRow("7 newer elsewhere") << reminder << true << Check([](T& t) {
            const auto results = t.account->refReminderHandler()->syncResults();
            return results.size() == 1 && results.at(0).result == 1 &&
                   t.account->refReminderHandler()->reminders().value(QStringLiteral("r1")) == "server";
        });
        const Write remark = [](T& t) { t.prefs->syncRemark(7, false, QStringLiteral("Bobby")); };
        QTest::newRow("12 confirmed") << remark << false << Check([](T& t) {
            return t.account->userManager()->getUserPointer(7, false, {}, false)->remark() ==
                   QStringLiteral("Bobby");
        });
        const Write config = [](T& t) { t.prefs->syncChatFolderConfig("mine"); };
        QTest::newRow("11 newer elsewhere") << config << true << Check([](T& t) {
            return t.account->accountSettingModel()->chatFolderConfig() == "server" &&
                   t.prefs->getKeyValue(QStringLiteral("dialog_folder_config")) == "server";
        });
        const Write status = [](T& t) { t.prefs->updateUserStatusSettingReq({}); };
        QTest::newRow("3 newer elsewhere") << status << true << Check([](T& t) {
            return t.prefs->getKeyValue(QLatin1String(hostkeys::USERSTATUS_SETTING)) == R"({"server":1})";
        });
        const Write lockLog = [](T& t) { t.prefs->syncScreenLockHistory(QStringLiteral("lock"), "mine"); };
        QTest::newRow("22 newer elsewhere") << lockLog << true << Check([](T& t) {
            return t.account->screenLockLogs() == QList<QByteArray>{R"({"server":1})"} &&
                   !t.prefs->hasKey(QStringLiteral("lock"));
        });
    }

    // The server answers with the record it kept: ours (same version) or a newer one.
    void updateAnswers()
    {
        QFETCH(Write, write);
        QFETCH(bool, newerOnServer);
        QFETCH(Check, outcome);
        transport()->setHandler(180, [newerOnServer](const ScriptedTransport::Request& r) {
            auto req = parsed<im::misc::UpdateSharedPreferencesV2Req>(r.body);
            im::misc::UpdateSharedPreferencesV2Resp resp;
            for (auto record : req.preferences()) {
                if (newerOnServer) {
                    record.set_version(record.version() + 1000);
                    record.set_value(record.type() == 7 ? QByteArray("server").toBase64().toStdString()
                                     : record.type() == 1 || record.type() == 3 || record.type() == 22
                                         ? std::string(R"({"server":1})")
                                         : std::string("server"));
                }
                *resp.add_preferences() = record;
            }
            return std::optional<ScriptedTransport::Reply>({0, bytesOf(resp)});
        });
        QSignalSpy status(prefs(), &SharedPreferenceModel::updateStatusSettingFinish);
        QSignalSpy preview(prefs(), &SharedPreferenceModel::updateRandomMessagePreviewFinish);
        write(*m_t);
        QVERIFY(QTest::qWaitFor([&] { return transport()->pending().isEmpty(); }));
        settle();
        QVERIFY(outcome(*m_t));
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        if (tag.startsWith(QLatin1String("3 ")))
            QCOMPARE(status.count(), 1);
        if (tag == QLatin1String("6 newer elsewhere")) {
            QCOMPARE(preview.count(), 1);
            QCOMPARE(preview.at(0).at(0).toMap(), (QVariantMap{{QStringLiteral("succ"), false}}));
        }
    }

    void failedWritesReachTheirOwner()
    {
        QVariantMap context;
        prefs()->syncFavoriteStickerList("[1]", context);
        prefs()->syncReminder(QStringLiteral("r9"), "x");
        prefs()->syncRemark(7, false, QStringLiteral("nope"));
        QSignalSpy remarkFailed(account()->refUserManager(), &RefUserManager::remarkSyncFailed);
        QSignalSpy status(prefs(), &SharedPreferenceModel::updateStatusSettingFinish);
        // A status write lost by the network, then refused: the interface hears of both.
        prefs()->updateUserStatusSettingReq({});
        QVERIFY(transport()->answer(transport()->last(180)->id, AccountBase::kNetworkError));
        QVERIFY(QTest::qWaitFor([&status] { return status.count() == 1; }));
        prefs()->updateUserStatusSettingReq({});
        while (!transport()->pending().isEmpty())
            transport()->answer(transport()->pending().first(), 500);
        settle();
        QCOMPARE(status.count(), 2);
        QCOMPARE(status.at(1).at(0).toMap(), (QVariantMap{{QStringLiteral("succ"), false}}));
        QCOMPARE(account()->refStickerBoxSetMgr()->favoriteAnswers().size(), 1);
        QVERIFY(!account()->refStickerBoxSetMgr()->favoriteAnswers().at(0).ok);
        QCOMPARE(account()->refReminderHandler()->syncResults().at(0).result, -1);
        QCOMPARE(account()->refReminderHandler()->syncResults().at(0).key, QStringLiteral("r9"));
        QCOMPARE(remarkFailed.count(), 1);
        QVERIFY(account()->userManager()->getUserPointer(7, false, {}, false)->remark().isEmpty());
        QVERIFY(rows().isEmpty());
    }

    void remarksRoundTrip()
    {
        acceptWrites();
        transport()->removeHandler(180);
        prefs()->syncRemark(7, false, QStringLiteral("Robert"));
        // Nothing local before the server answers; the record itself is not encrypted.
        QVERIFY(!prefs()->hasKey(QStringLiteral("remark_7")));
        const auto sent = lastWrite().preferences(0);
        QCOMPARE(sent.type(), 12);
        QVERIFY(!sent.encrypted() && sent.value_key().empty());
        QVERIFY(!QByteArray::fromStdString(sent.value()).contains("Robert"));
        acceptWrites();
        transport()->answerNext(180, 0, bytesOf([&] {
                                    im::misc::UpdateSharedPreferencesV2Resp resp;
                                    *resp.add_preferences() = sent;
                                    return resp;
                                }()));
        settle();
        QCOMPARE(account()->userManager()->getUserPointer(7, false, {}, false)->remark(),
                 QStringLiteral("Robert"));
        QVERIFY(prefs()->hasKey(QStringLiteral("remark_7")));
        // The store keeps the record across a restart (the contact directory keeps its own copy).
        const QByteArray stored = prefs()->getKeyValue(QStringLiteral("remark_7"));
        restart();
        QCOMPARE(prefs()->getKeyValue(QStringLiteral("remark_7")), stored);
    }

    void reactionTagsAreStoredPlainAndSentEncrypted()
    {
        prefs()->syncReactionTags(QStringLiteral("🎉"), QStringLiteral("party"));
        QCOMPARE(prefs()->getReactionTags().value(QStringLiteral("🎉")), QByteArray("party"));
        QCOMPARE(row(QStringLiteral("🎉"), 25)->value, QByteArray("party"));
        const auto sent = lastWrite().preferences(0);
        QVERIFY(sent.encrypted());
        const auto cipher = QByteArray::fromBase64Encoding(QByteArray::fromStdString(sent.value()),
                                                           QByteArray::AbortOnBase64DecodingErrors);
        QVERIFY(cipher);
        bool ok = false;
        QCOMPARE(account()->decrypt(*cipher, QByteArray::fromStdString(sent.value_key()), &ok),
                 QByteArray("party"));
        QVERIFY(ok);
        QCOMPARE(transport()->last(180)->flag, true);
    }

    void keyOperationsOnTheWire()
    {
        prefs()->syncMessageExif(true, false);
        QCOMPARE(lastWrite().preferences(0).value(), std::string("0"));
        QCOMPARE(row(QStringLiteral("exif_media_message"), 23)->value, QByteArray("0"));
        account()->refAccountSettingModel()->setMediaMessageExif(true, false);
        push({record(QStringLiteral("exif_media_message"), "0", 23, account()->currentTime() + 1)});
        QVERIFY(!account()->accountSettingModel()->mediaMessageExif());

        prefs()->syncPinnedMessageBlackList(QStringLiteral("d2"), {});
        QCOMPARE(jsonToMap(QByteArray::fromStdString(lastWrite().preferences(0).value())),
                 (QVariantMap{{QStringLiteral("dialog_id"), QStringLiteral("d2")},
                              {QStringLiteral("message_ids"), QVariantList()}}));
        prefs()->syncPinnedMessageBlackList(QStringLiteral("d2"), {3, 1});
        QCOMPARE(prefs()->pinnedMessageBlackList(QStringLiteral("d2")), (QSet<qint64>{1, 3}));
        QVERIFY(prefs()->pinnedMessageBlackList(QStringLiteral("none")).isEmpty());

        const int before = transport()->count(180);
        prefs()->saveChatFolderOrder("[5]");
        QCOMPARE(transport()->count(180), before);
        QCOMPARE(prefs()->getKeyValue(QStringLiteral("dialog_folder_order")), QByteArray("[5]"));
        prefs()->syncChatFolderOrder("[5]", "[6]");
        QCOMPARE(transport()->count(180), before + 2);
        QCOMPARE(transport()->last(180)->context.size(), 2); // one context for both

        prefs()->deleteReminders({QStringLiteral("a"), QStringLiteral("b")});
        const auto deletion = lastWrite();
        QCOMPARE(deletion.preferences_size(), 2);
        QVERIFY(deletion.preferences(1).value().empty());
        QCOMPARE(deletion.preferences(1).type(), 7);
        QVERIFY(transport()->last(180)->flag);

        // An empty value with save removes the key here and still goes to the server; the
        // database keeps the removal until the server answers it.
        prefs()->syncChatFolderConfig("x");
        prefs()->syncChatFolderConfig({});
        QVERIFY(!prefs()->hasKey(QStringLiteral("dialog_folder_config")));
        QVERIFY(lastWrite().preferences(0).value().empty());
        QVERIFY(row(QStringLiteral("dialog_folder_config"), 11)->value.isEmpty());
        QVERIFY(row(QStringLiteral("dialog_folder_config"), 11)->pending);

        auto sticker = QSharedPointer<StickerItem>::create(42, 64);
        auto file = StickerDataPtr::create();
        file->setFileId(QStringLiteral("f1"));
        file->setAesKey("key");
        file->setFileType(3);
        sticker->setSourceFile(file);
        prefs()->updateUserStatusSettingReq(
            {QVariantMap{{QStringLiteral("desc"), QStringLiteral("away")},
                         {QStringLiteral("emoji"), QStringLiteral("🌴")},
                         {QStringLiteral("time"), 3600},
                         {QStringLiteral("sticker"), QVariant::fromValue<QObject*>(sticker.data())}}});
        const QVariantList status = jsonToList(QByteArray::fromStdString(lastWrite().preferences(0).value()));
        QCOMPARE(status.size(), 1);
        const QVariantMap entry = status.at(0).toMap();
        QCOMPARE(entry.value(QStringLiteral("desc")).toString(), QStringLiteral("away"));
        const QVariantMap stickerJson = entry.value(QStringLiteral("sticker")).toMap();
        QCOMPARE(stickerJson.value(QStringLiteral("pid")).toInt(), 42);
        QCOMPARE(stickerJson.value(QStringLiteral("file_id")).toString(), QStringLiteral("f1"));
        QCOMPARE(stickerJson.value(QStringLiteral("aesKey")).toString(), QStringLiteral("a2V5"));
        QCOMPARE(stickerJson.value(QStringLiteral("aeskey")).toString(), QStringLiteral("a2V5"));
        QCOMPARE(stickerJson.value(QStringLiteral("fileType")).toInt(), 3);
        QVERIFY(!stickerJson.contains(QStringLiteral("animatedSticker")));
        QVERIFY(!entry.contains(QStringLiteral("customEmoji")));
    }

    // A status shortcut keeps everything a reader needs to rebuild its sticker or custom emoji.
    void statusShortcutsCarryTheirFiles()
    {
        auto sticker = QSharedPointer<StickerItem>::create(42, 64);
        auto source = StickerDataPtr::create();
        source->setFileId(QStringLiteral("still"));
        sticker->setSourceFile(source);
        auto animated = StickerDataPtr::create();
        animated->setFileId(QStringLiteral("moving"));
        animated->setAesKey("k2");
        animated->setDimensions(64, 48);
        animated->setSize(2048);
        animated->setFileType(7);
        animated->setFileMd5(QStringLiteral("abc123"));
        sticker->setAnimatedFile(animated);
        CustomEmojiItem emoji(5, 77);
        prefs()->updateUserStatusSettingReq(
            {QVariantMap{{QStringLiteral("desc"), QStringLiteral("gone")},
                         {QStringLiteral("sticker"), QVariant::fromValue<QObject*>(sticker.data())}},
             QVariantMap{{QStringLiteral("emoji"), QStringLiteral("🙂")},
                         {QStringLiteral("customEmoji"), QVariant::fromValue<QObject*>(&emoji)}}});
        const QVariantList status = jsonToList(QByteArray::fromStdString(lastWrite().preferences(0).value()));
        QCOMPARE(status.size(), 2);
        const QVariantMap animation = status.at(0)
                                          .toMap()
                                          .value(QStringLiteral("sticker"))
                                          .toMap()
                                          .value(QStringLiteral("animatedSticker"))
                                          .toMap();
        QCOMPARE(animation, (QVariantMap{{QStringLiteral("fileId"), QStringLiteral("moving")},
                                         {QStringLiteral("aesKey"), QStringLiteral("azI=")},
                                         {QStringLiteral("width"), 64},
                                         {QStringLiteral("height"), 48},
                                         {QStringLiteral("size"), 2048},
                                         {QStringLiteral("fileType"), 7},
                                         {QStringLiteral("checkSum"), QStringLiteral("abc123")}}));
        QCOMPARE(status.at(1).toMap().value(QStringLiteral("customEmoji")).toMap(),
                 (QVariantMap{{QStringLiteral("packId"), 5}, {QStringLiteral("customEmojiId"), 77}}));
    }

    void hostSettingsWriteThroughTheStore()
    {
        account()->refAccountSettingModel()->setFileMessageExif(true, true);
        QCOMPARE(lastWrite().preferences(0).key(), std::string("exif_file_message"));
        QCOMPARE(lastWrite().preferences(0).value(), std::string("1"));
    }

    void serverDataWaitsForTheLocalLoad()
    {
        const QString id = account()->accountId();
        m_t.reset();
        {
            TestAccount writer(m_dir.path(), id);
            writer.prefs->saveChatFolderOrder("[local]");
        }
        m_t = std::make_unique<TestAccount>(m_dir.path(), id);
        prefs()->loadLocalData(false);
        // A push that arrives before the local copy is read wins over it.
        transport()->push(PushSharedPreferenceUpdated,
                          pushOf({record(QStringLiteral("dialog_folder_order"), "[server]", 10,
                                         account()->currentTime() + 5)}));
        QVERIFY(QTest::qWaitFor([&] { return prefs()->localDataLoaded(); }));
        settle();
        QCOMPARE(prefs()->getKeyValue(QStringLiteral("dialog_folder_order")), QByteArray("[server]"));
    }

    void clearingDuringAListTask()
    {
        im::misc::ListSharedPreferencesResp page;
        for (int i = 0; i < 3000; ++i)
            *page.add_preferences() = record(QStringLiteral("c%1").arg(i), "v", 11, i + 1);
        page.set_next_offset(3000);
        page.set_has_more(true);
        QSignalSpy finished(prefs(), &SharedPreferenceBase::listFinished);
        prefs()->listSharedPreferencesResp(page);
        prefs()->prepareToClearData(false);
        QVERIFY(!prefs()->hasKey(QStringLiteral("c1")));
        QCoreApplication::processEvents();
        QCOMPARE(transport()->count(178), 0); // no next page after a clear
        QCOMPARE(finished.count(), 0);
        // Whatever the task wrote, it wrote whole: all rows or none.
        const int stored = int(rows().size());
        QVERIFY2(stored == 0 || stored == 3000, qPrintable(QString::number(stored)));
    }
};

SETTINGMODEL_TEST_GUILESS_MAIN(TestSharedPreferences)
#include "tst_sharedpreferences.moc"
