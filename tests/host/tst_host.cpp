#include "host/accountmanager.h"
#include "host/accountsettingmodel.h"
#include "host/appdirmanager.h"
#include "host/cryptoaes.h"
#include "host/datainfomodel.h"
#include "host/jsonutil.h"
#include "host/storage.h"
#include "host/threadmanager.h"
#include "host/util.h"
#include "im/common.pb.h"
#include "im/notif.pb.h"
#include "im/user.pb.h"
#include "protohelpers.h"
#include "refaccount.h"
#include "refstores.h"
#include "scriptedtransport.h"
#include "secretwatch.h"
#include "sqlitedatabase.h"
#include "sqlitestorage.h"

#include <sys/resource.h>

#include <algorithm>
#include <csignal>

#include <QAbstractItemModelTester>
#include <QBuffer>
#include <QImage>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent>

using storage::SharedPreferenceInfo;
using storage::WallpaperInfo;

namespace {

std::unique_ptr<RefAccount> openAccount(const QString& dir, ScriptedTransport** transportOut = nullptr)
{
    auto transport = std::make_unique<ScriptedTransport>();
    if (transportOut)
        *transportOut = transport.get();
    auto account = std::make_unique<RefAccount>(QStringLiteral("user1"), dir, std::move(transport));
    account->open();
    if (!QTest::qWaitFor([&] { return account->isReady(); }))
        return nullptr;
    return account;
}

// Runs storage work the way models do, and waits for it.
template <class Work> auto onStorageThread(Work work)
{
    using Result = decltype(work());
    auto result = std::make_shared<Result>();
    ThreadManager::getInstance()->invoke([work, result] { *result = work(); }, true);
    ThreadManager::getInstance()->waitForIdle();
    return *result;
}

} // namespace

class TestHost : public QObject {
    Q_OBJECT

    // An edit of this device waiting to be sent, stored as the preference store keeps one.
    static void savePending(RefAccount* account, const QString& key)
    {
        storage::SharedPreferenceInfo row;
        row.key = key;
        row.type = 1;
        row.value = "to send";
        row.pending = storage::SharedPreferenceInfo::PendingPlain;
        auto* store = account->storage()->sharedPreferenceStorage();
        ThreadManager::getInstance()->invoke([store, row] { store->save(row); }, true);
    }

    // Writes garbage over the file from an offset (from its end when negative) to its end.
    static void garble(const QString& path, int from)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        const qint64 start = from < 0 ? file.size() + from : from;
        QVERIFY(file.seek(start));
        file.write(QByteArray(int(file.size() - start), '\x5a'));
    }
private slots:
    void sharedPreferencesRoundTripOnStorageThread()
    {
        QTemporaryDir dir;
        {
            auto account = openAccount(dir.path());
            QVERIFY(account);
            auto* prefs = account->storage()->sharedPreferenceStorage();
            const QList<SharedPreferenceInfo> rows{
                {QStringLiteral("k1"), QByteArray("v1"), 1, 0, 10, {}},
                {QStringLiteral("k1"), QByteArray("other type"), 2, 1, 11, {}},
                {QStringLiteral("k2"), QByteArray("\x00\xff", 2), 3, 0, 12, QByteArray("s")},
            };
            QVERIFY(onStorageThread([&] { return prefs->save(rows); }));
            // A save of an existing key and type replaces it.
            QVERIFY(onStorageThread([&] {
                return prefs->save(SharedPreferenceInfo{QStringLiteral("k1"), "v1b", 1, 0, 20, {}});
            }));
            QMultiHash<QString, int> gone;
            gone.insert(QStringLiteral("k2"), 3);
            gone.insert(QStringLiteral("absent"), 9);
            QVERIFY(onStorageThread([&] { return prefs->remove(gone); }));
        }
        // A restart on the same file sees the same rows.
        auto account = openAccount(dir.path());
        QVERIFY(account);
        const auto rows =
            onStorageThread([&] { return account->storage()->sharedPreferenceStorage()->allInfos(); });
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(0), (SharedPreferenceInfo{QStringLiteral("k1"), "v1b", 1, 0, 20, {}}));
        QCOMPARE(rows.at(1), (SharedPreferenceInfo{QStringLiteral("k1"), "other type", 2, 1, 11, {}}));
        // One row by key and type.
        auto* prefs = account->storage()->sharedPreferenceStorage();
        QCOMPARE(onStorageThread([&] { return prefs->info(QStringLiteral("k1"), 2); }), rows.at(1));
        QCOMPARE(onStorageThread([&] { return prefs->info(QStringLiteral("k1"), 3); }),
                 SharedPreferenceInfo());
        QCOMPARE(onStorageThread([&] { return prefs->info(QStringLiteral("k2"), 3); }),
                 SharedPreferenceInfo());
    }

    void wallpapersAndCacheFiles()
    {
        QTemporaryDir dir;
        auto account = openAccount(dir.path());
        QVERIFY(account);
        auto* walls = account->storage()->wallpaperStorage();
        const QList<WallpaperInfo> rows{{QStringLiteral("a"), "A", true, 1},
                                        {QStringLiteral("b"), "B", false, 2},
                                        {QStringLiteral("c"), "C", true, 3}};
        QVERIFY(onStorageThread([&] { return walls->save(rows); }));
        QCOMPARE(onStorageThread([&] { return walls->info(QStringLiteral("b")); }), rows.at(1));
        QCOMPARE(onStorageThread([&] { return walls->info(QStringLiteral("zz")); }), WallpaperInfo());
        QVERIFY(onStorageThread([&] {
            return walls->remove(QStringList{QStringLiteral("a"), QStringLiteral("c")});
        }));
        QCOMPARE(onStorageThread([&] { return walls->allInfos(); }), QList<WallpaperInfo>{rows.at(1)});
        QVERIFY(onStorageThread([&] { return walls->removeAll(); }));
        QVERIFY(onStorageThread([&] { return walls->allInfos(); }).isEmpty());

        auto* cache = static_cast<storage::SqliteCacheFileStorage*>(account->storage()->cacheFileStorage());
        QVERIFY(onStorageThread([&] {
            return cache->updateTimestamp({QStringLiteral("f1"), QStringLiteral("f2")}, 500);
        }));
        QVERIFY(onStorageThread([&] { return cache->updateTimestamp({QStringLiteral("f1")}, 900); }));
        QCOMPARE(onStorageThread([&] { return cache->lastUsed(QStringLiteral("f1")); }), 900);
        QCOMPARE(onStorageThread([&] { return cache->lastUsed(QStringLiteral("f2")); }), 500);
    }

    void workerThreadsGetTheirOwnConnection()
    {
        QTemporaryDir dir;
        auto account = openAccount(dir.path());
        QVERIFY(account);
        auto* prefs = account->storage()->sharedPreferenceStorage();
        // Pool tasks write and read concurrently with the storage thread.
        QList<QFuture<bool>> writes;
        for (int t = 0; t < 4; ++t)
            writes.append(QtConcurrent::run([prefs, t] {
                QList<SharedPreferenceInfo> rows;
                for (int i = 0; i < 50; ++i)
                    rows.append({QStringLiteral("t%1-%2").arg(t).arg(i), "x", 1, 0, i, {}});
                return prefs->save(rows);
            }));
        ThreadManager::getInstance()->invoke(
            [prefs] {
                prefs->save(SharedPreferenceInfo{QStringLiteral("main"), "y", 2, 0, 1, {}});
            },
            true);
        for (auto& write : writes)
            QVERIFY(write.result());
        ThreadManager::getInstance()->waitForIdle();
        QCOMPARE(QtConcurrent::run([prefs] { return prefs->allInfos().size(); }).result(), 201);
    }

    void schemaIsVersioned()
    {
        QTemporaryDir dir;
        SqliteDatabase db(dir.filePath(QStringLiteral("x.db")));
        QCOMPARE(db.schemaVersion(), SqliteDatabase::kSchemaVersion);
        // A file from a newer build is left alone rather than damaged.
        db.write([](QSqlDatabase& conn) {
            return QSqlQuery(conn).exec(QStringLiteral("PRAGMA user_version=99"));
        });
        SqliteDatabase newer(dir.filePath(QStringLiteral("x.db")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("newer than")));
        QVERIFY(!newer.read([](QSqlDatabase&) { return true; }));
    }

    void keyValueStoresServeFromMemoryAndPersist()
    {
        QTemporaryDir dir;
        {
            auto account = openAccount(dir.path());
            QVERIFY(account);
            account->dataInfoModel()->saveSharedReferenceOffset(1234567890123);
            account->dataInfoModel()->saveEmojiRecent("[\"a\"]");
            account->accountSettingModel()->savePrivacySettings(QByteArray("\x08\x01", 2));
            // Served at once, before the storage thread wrote anything.
            QCOMPARE(account->dataInfoModel()->sharedReferenceOffset(), 1234567890123);
        }
        auto account = openAccount(dir.path());
        QVERIFY(account);
        QCOMPARE(account->dataInfoModel()->sharedReferenceOffset(), 1234567890123);
        QCOMPARE(account->dataInfoModel()->wallpaperOffset(), 0);
        QCOMPARE(account->dataInfoModel()->emojiRecent(), QByteArray("[\"a\"]"));
        QCOMPARE(account->accountSettingModel()->privacySettings(), QByteArray("\x08\x01", 2));
    }

    // The suite's log watch knows the keys and plain texts the crypto saw, in any spelling.
    void secretsInLogLinesAreFound()
    {
        QTemporaryDir dir;
        auto account = openAccount(dir.path());
        QVERIFY(account);
        QByteArray key;
        account->encrypt("a remark nobody else reads", key);
        QVERIFY(secretwatch::takeLeaks().isEmpty());
        qDebug() << "value" << key.toBase64() << "sent";
        qInfo("key %s", key.toHex().toUpper().constData());
        qDebug() << "text: a remark nobody else reads!";
        qDebug() << "a remark"
                 << "nobody"; // parts of it are not the secret
        QCOMPARE(secretwatch::takeLeaks().size(), 3);
    }

    void encryptDecrypt()
    {
        // Each failed decryption is logged; the tampering loop below would flood the output.
        QLoggingCategory::setFilterRules(QStringLiteral("im.host.account.warning=false"));
        QTemporaryDir dir;
        auto account = openAccount(dir.path());
        QVERIFY(account);
        for (const QByteArray& plain : {QByteArray(), QByteArray("remark"), QByteArray(5000, 'z')}) {
            QByteArray key;
            const QByteArray cipher = account->encrypt(plain, key);
            QCOMPARE(key.size(), 32);
            QVERIFY(!cipher.contains(plain) || plain.isEmpty());
            bool ok = false;
            QCOMPARE(account->decrypt(cipher, key, &ok), plain);
            QVERIFY(ok);
        }
        QByteArray key1, key2;
        const QByteArray c1 = account->encrypt("same", key1);
        const QByteArray c2 = account->encrypt("same", key2);
        QVERIFY(key1 != key2);
        QVERIFY(c1 != c2);

        // Any altered byte, the wrong key, or a truncated value fails visibly.
        for (int i = 0; i < c1.size(); ++i) {
            QByteArray tampered = c1;
            tampered[i] = char(tampered[i] ^ 0x01);
            bool ok = true;
            QVERIFY(account->decrypt(tampered, key1, &ok).isEmpty());
            QVERIFY(!ok);
        }
        bool ok = true;
        QVERIFY(account->decrypt(c1, key2, &ok).isEmpty() && !ok);
        ok = true;
        QVERIFY(account->decrypt(c1.left(10), key1, &ok).isEmpty() && !ok);
        ok = true;
        QVERIFY(account->decrypt(c1, QByteArray("short"), &ok).isEmpty() && !ok);
        QCOMPARE(CryptoAES::createKey(32).size(), 32);
        QVERIFY(CryptoAES::createKey(0).isEmpty());
    }

    void colorNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<quint32>("rgba");
        QTest::addColumn<QString>("back");
        QTest::newRow("opaque") << "#33A854" << 0x33A854FFu << "#33A854";
        QTest::newRow("lower case in") << "#33a854" << 0x33A854FFu << "#33A854";
        QTest::newRow("8 digits, alpha first") << "#4C000000" << 0x0000004Cu << "#4C000000";
        QTest::newRow("8 digits white") << "#B3FFFFFF" << 0xFFFFFFB3u << "#B3FFFFFF";
        QTest::newRow("8 digits opaque") << "#FF123456" << 0x123456FFu << "#123456";
        QTest::newRow("transparent") << "#00000000" << 0x00000000u << "#00000000";
        QTest::newRow("not a colour") << "#12" << 0u << "#00000000";
        QTest::newRow("empty") << "" << 0u << "#00000000";
    }
    void colorNames()
    {
        QFETCH(QString, name);
        QFETCH(quint32, rgba);
        QFETCH(QString, back);
        QCOMPARE(quint32(Util::instance()->colorNameToRgba(name)), rgba);
        QCOMPARE(Util::instance()->rgbaToColorName(int(rgba), 0), back);
        // Format 1 always names the alpha.
        QCOMPARE(Util::instance()->rgbaToColorName(int(rgba), 1).size(), 9);
    }

    void blendAndBrightness()
    {
        Util* util = Util::instance();
        QCOMPARE(util->blendColor(QStringLiteral("#000000"), QStringLiteral("#FFFFFF"), 0),
                 QStringLiteral("#000000"));
        QCOMPARE(util->blendColor(QStringLiteral("#000000"), QStringLiteral("#FFFFFF"), 100),
                 QStringLiteral("#FFFFFF"));
        QCOMPARE(util->blendColor(QStringLiteral("#FF0000"), QStringLiteral("#0000FF"), 50),
                 QStringLiteral("#800080"));

        auto encoded = [](QColor color) {
            QImage image(20, 20, QImage::Format_RGB32);
            image.fill(color);
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "PNG");
            return bytes;
        };
        QVERIFY(util->bright(encoded(Qt::black)) < 128);
        QVERIFY(util->bright(encoded(Qt::white)) >= 128);
        QCOMPARE(util->bright("not an image"), 255);
    }

    void scaleImageWritesThumbnail()
    {
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("big.png"));
        QImage big(5000, 2500, QImage::Format_RGB32);
        big.fill(Qt::darkBlue);
        QVERIFY(big.save(source));
        QSize size, thumbSize;
        QString imagePath = dir.filePath(QStringLiteral("scaled.png"));
        QString thumbPath = dir.filePath(QStringLiteral("thumb.jpg"));
        QByteArray thumbBytes;
        QVERIFY(Util::instance()->scaleImage(source, size, thumbSize, imagePath, thumbPath, thumbBytes, false,
                                             4096, 160, 42));
        QCOMPARE(size, QSize(4096, 2048));
        QCOMPARE(thumbSize, QSize(160, 80));
        QVERIFY(QFile::exists(imagePath));
        QVERIFY(QFile::exists(thumbPath));
        QCOMPARE(QImage::fromData(thumbBytes).size(), QSize(160, 80));

        QString missingImage = dir.filePath(QStringLiteral("m.png"));
        QString missingThumb = dir.filePath(QStringLiteral("m.jpg"));
        QVERIFY(!Util::instance()->scaleImage(dir.filePath(QStringLiteral("none.png")), size, thumbSize,
                                              missingImage, missingThumb, thumbBytes, false, 4096, 160, 42));
        QVERIFY(missingImage.isEmpty() && missingThumb.isEmpty() && thumbBytes.isEmpty());
        QVERIFY(AppDirManager::tempDir().endsWith(QLatin1Char('/')));
        QVERIFY(
            QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(Util::instance()->uuid()).hasMatch());
    }

    void jsonFunctionsRejectWhatTheyCannotRead()
    {
        QCOMPARE(jsonToMap("{\"a\":1,\"b\":[true]}").value(QStringLiteral("a")).toInt(), 1);
        QVERIFY(jsonToMap("[1,2]").isEmpty());
        QVERIFY(jsonToMap("{broken").isEmpty());
        QVERIFY(jsonToList("{\"a\":1}").isEmpty());
        QCOMPARE(jsonToList("[1,\"x\"]").size(), 2);
        QVERIFY(!jsonToVariant("").isValid());
        const QVariantMap map{{QStringLiteral("k"), QVariantList{1, QStringLiteral("v")}}};
        QCOMPARE(jsonToMap(mapToJson(map)), map);
        QCOMPARE(listToJson({}), QByteArray("[]"));
    }

    void transportAnswersLaterAndOnce()
    {
        QTemporaryDir dir;
        ScriptedTransport* transport = nullptr;
        auto account = openAccount(dir.path(), &transport);
        QVERIFY(account);
        int calls = 0;
        int lastCode = -1;
        transport->setHandler(7, [](const ScriptedTransport::Request& r) {
            return std::optional<ScriptedTransport::Reply>({0, r.body + "!"});
        });
        QByteArray reply;
        const QVariantMap context{{QStringLiteral("k"), 1}};
        const qint64 id = account->sendRequest(
            7, "ping",
            [&](int code, const QByteArray& body) {
                ++calls;
                lastCode = code;
                reply = body;
            },
            true, context);
        QCOMPARE(calls, 0); // never inside sendRequest, even when a handler answers at once
        QVERIFY(QTest::qWaitFor([&] { return calls == 1; }));
        QCOMPARE(reply, QByteArray("ping!"));
        QCOMPARE(lastCode, 0);
        const auto sent = transport->last(7);
        QVERIFY(sent && sent->id == id && sent->flag && sent->context == context);

        // Unanswered requests stay pending; an answer arrives once.
        const qint64 quiet = account->sendRequest(8, {},
                                                  [&](int code, const QByteArray&) {
                                                      ++calls;
                                                      lastCode = code;
                                                  },
                                                  false, {});
        QCoreApplication::processEvents();
        QVERIFY(transport->isPending(quiet));
        QVERIFY(transport->answer(quiet, 42));
        QVERIFY(!transport->answer(quiet, 43));
        QVERIFY(QTest::qWaitFor([&] { return calls == 2; }));
        QCOMPARE(lastCode, 42);

        // One the transport never answers ends with a timeout, once; a late answer is dropped.
        account->setRequestTimeout(20);
        const qint64 lost = account->sendRequest(10, {},
                                                 [&](int code, const QByteArray&) {
                                                     ++calls;
                                                     lastCode = code;
                                                 },
                                                 false, {});
        QVERIFY(QTest::qWaitFor([&] { return calls == 3; }));
        QCOMPARE(lastCode, AccountBase::kRequestTimedOut);
        QVERIFY(transport->answer(lost, 0));
        QCoreApplication::processEvents();
        QCOMPARE(calls, 3);
        // An answer in time is not followed by a timeout.
        transport->setHandler(11, [](const ScriptedTransport::Request&) {
            return std::optional<ScriptedTransport::Reply>({0, {}});
        });
        account->sendRequest(11, {}, [&](int, const QByteArray&) { ++calls; }, false, {});
        QVERIFY(QTest::qWaitFor([&] { return calls == 4; }));
        QVERIFY(account->findChildren<QTimer*>().isEmpty()); // no timeout left to fire
    }

    // Versions are stamped with currentTime: it never repeats or goes back, whatever the device's
    // clock and the server's corrections do.
    void currentTimeOnlyMovesForward()
    {
        QTemporaryDir dir;
        auto account = openAccount(dir.path());
        QVERIFY(account);
        qint64 clock = 5'000;
        account->setClock([&clock] { return clock; });
        const qint64 first = account->currentTime();
        QCOMPARE(first, 5'000);
        QCOMPARE(account->currentTime(), 5'001); // the same millisecond twice
        clock = 4'000;                           // the device's clock was set back
        QCOMPARE(account->currentTime(), 5'002);
        clock = 9'000;
        QCOMPARE(account->currentTime(), 9'000);
        std::atomic<qint64> last{0};
        std::atomic<bool> ordered{true};
        QFuture<void> racing = QtConcurrent::run([&] {
            for (int i = 0; i < 1000; ++i) {
                const qint64 now = account->currentTime();
                if (now <= last.exchange(now))
                    ordered = false;
            }
        });
        QList<qint64> mine;
        for (int i = 0; i < 1000; ++i)
            mine.append(account->currentTime());
        racing.waitForFinished();
        QVERIFY(std::adjacent_find(mine.begin(), mine.end(), std::greater_equal<qint64>()) == mine.end());
        QVERIFY(ordered);
    }

    void answersAfterTheAccountIsGoneAreDropped()
    {
        QTemporaryDir dir;
        ScriptedTransport* transport = nullptr;
        auto account = openAccount(dir.path(), &transport);
        QVERIFY(account);
        bool called = false;
        transport->setHandler(9, [](const ScriptedTransport::Request&) {
            return std::optional<ScriptedTransport::Reply>({0, {}});
        });
        account->sendRequest(9, {}, [&](int, const QByteArray&) { called = true; }, false, {});
        account.reset();
        QCoreApplication::processEvents();
        QVERIFY(!called);
    }

    void pushesReachTheirRouteAsTheAccountsOwn()
    {
        QTemporaryDir dir;
        ScriptedTransport* transport = nullptr;
        auto account = openAccount(dir.path(), &transport);
        QVERIFY(account);
        AccountManager::getInstance()->clearRecords();
        QSignalSpy dropped(account.get(), &RefAccount::pushDropped);
        QByteArray routed;
        account->setPushRoute(PushWallpaperUpdated, [&](const QByteArray& body) {
            routed = body;
            AccountManager::getInstance()->error(1, QStringLiteral("while handling"), 0);
            return body != "unreadable";
        });
        transport->push(PushWallpaperUpdated, "w");
        QVERIFY(QTest::qWaitFor([&] { return !routed.isEmpty(); }));
        // What a push's handling reports is the receiving account's.
        QCOMPARE(AccountManager::getInstance()->errors().at(0).source, account->accountId());
        QVERIFY(AccountManager::getInstance()->source().isEmpty());
        // A route that cannot take its push, or no route at all: dropped, not crashed.
        transport->push(PushWallpaperUpdated, "unreadable");
        transport->push(99, "x");
        QVERIFY(QTest::qWaitFor([&] { return dropped.count() == 2; }));
        QCOMPARE(dropped.at(0).at(0).toInt(), int(PushWallpaperUpdated));
        QCOMPARE(dropped.at(1).at(0).toInt(), 99);

        // A report from a worker thread names its account and reaches the manager's thread once,
        // a tip told apart from a failure.
        AccountManager::getInstance()->clearRecords();
        QSignalSpy reported(AccountManager::getInstance(), &AccountManager::errorReported);
        const QString id = account->accountId();
        QThreadPool::globalInstance()->start([id] {
            AccountManager::getInstance()->report(id, AccountManager::Tip, 0, QStringLiteral("saved"), 0);
        });
        QVERIFY(QTest::qWaitFor([&] { return reported.count() == 1; }));
        QCOMPARE(reported.at(0).at(3).toString(), id);
        QCOMPARE(reported.at(0).at(4).toInt(), int(AccountManager::Tip));
        QCOMPARE(AccountManager::getInstance()->errors().size(), 1);
    }

    // A second holder of an account's data, in this process or another, is told it is in use;
    // once the first is gone, the next one takes it.
    void dataInUseOrUnwritableIsTold()
    {
        QTemporaryDir dir;
        auto first = std::make_unique<RefAccount>(QStringLiteral("shared"), dir.path(), nullptr);
        QCOMPARE(first->storageState(), int(RefAccount::StorageOk));
        RefAccount second(QStringLiteral("shared"), dir.path(), nullptr);
        QCOMPARE(second.storageState(), int(RefAccount::StorageInUse));
        QCOMPARE(second.storageHolder(), QCoreApplication::applicationPid());
        first.reset();
        RefAccount third(QStringLiteral("shared"), dir.path(), nullptr);
        QCOMPARE(third.storageState(), int(RefAccount::StorageOk));

        // A folder that cannot be made (a file stands in its way) keeps nothing, and says so.
        QFile blocker(dir.filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        AccountManager::getInstance()->clearRecords();
        RefAccount unwritable(QStringLiteral("nowhere"), dir.filePath(QStringLiteral("blocker/data")),
                              nullptr);
        QCOMPARE(unwritable.storageState(), int(RefAccount::StorageUnwritable));
        QCOMPARE(unwritable.syncState(), int(RefAccount::StorageTrouble));
        unwritable.open();
        QVERIFY(QTest::qWaitFor([] { return !AccountManager::getInstance()->errors().isEmpty(); }));
        QCOMPARE(AccountManager::getInstance()->errors().first().text, QStringLiteral("storage_unwritable"));
        QCOMPARE(AccountManager::getInstance()->errors().first().source, QStringLiteral("nowhere"));
        // It keeps its data in memory for as long as it runs, on the storage thread and off it.
        QVERIFY(QTest::qWaitFor([&] { return unwritable.isReady(); }));
        storage::SharedPreferenceStorage* store = unwritable.storage()->sharedPreferenceStorage();
        bool saved = false;
        ThreadManager::getInstance()->invoke(
            [&] {
                storage::SharedPreferenceInfo row;
                row.key = QStringLiteral("k");
                row.type = 1;
                row.value = "in memory";
                saved = store->save(row);
            },
            true);
        ThreadManager::getInstance()->waitForIdle();
        QVERIFY(saved);
        QCOMPARE(store->info(QStringLiteral("k"), 1).value, QByteArray("in memory"));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("blocker/data"))));
    }

    // A database that is no database, or damaged pages: set aside (kept beside it), a fresh one
    // made, the user told once; what was stored is read from the server again.
    void aDamagedDatabaseIsSetAsideForAFreshOne_data()
    {
        QTest::addColumn<int>("from"); // where the garbage starts, from the end when negative
        QTest::addColumn<bool>("carried");
        QTest::newRow("garbage over the whole file") << 0 << false;
        QTest::newRow("garbage over its pages") << 100 << false;
        QTest::newRow("garbage over its last pages") << -8192 << true;
    }

    // Found at the start: the damaged file is set aside (kept beside it), a fresh one made with
    // the edits waiting to be sent that can still be read, the user told once; the rest is read
    // from the server again.
    void aDamagedDatabaseIsSetAsideForAFreshOne()
    {
        QFETCH(int, from);
        QFETCH(bool, carried);
        QTemporaryDir dir;
        QString path;
        {
            auto account = std::make_unique<RefAccount>(QStringLiteral("damaged"), dir.path(), nullptr);
            account->open();
            QVERIFY(QTest::qWaitFor([&] { return account->isReady(); }));
            account->dataInfoModel()->saveSharedReferenceOffset(42);
            savePending(account.get(), QStringLiteral("waiting"));
            // A large wallpaper row fills the last pages.
            storage::WallpaperInfo wallpaper;
            wallpaper.id = QStringLiteral("big");
            wallpaper.data = QByteArray(64 * 1024, 'w');
            ThreadManager::getInstance()->invoke(
                [&] { account->storage()->wallpaperStorage()->save(wallpaper); }, true);
            ThreadManager::getInstance()->waitForIdle();
            path = account->databasePath();
        }
        ThreadManager::getInstance()->waitForIdle();
        garble(path, from);
        AccountManager::getInstance()->clearRecords();
        RefAccount reopened(QStringLiteral("damaged"), dir.path(), nullptr);
        reopened.open();
        QVERIFY(QTest::qWaitFor([&] { return reopened.isReady(); }));
        QCOMPARE(reopened.dataInfoModel()->sharedReferenceOffset(), 0);
        QVERIFY(QTest::qWaitFor([] { return !AccountManager::getInstance()->errors().isEmpty(); }));
        QCOMPARE(AccountManager::getInstance()->errors().size(), 1);
        QCOMPARE(AccountManager::getInstance()->errors().first().text, QStringLiteral("storage_reset"));
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("damaged.db.damaged-*")}).size(), 1);
        const auto kept = reopened.storage()->sharedPreferenceStorage()->info(QStringLiteral("waiting"), 1);
        QCOMPARE(kept.value, carried ? QByteArray("to send") : QByteArray());
        QCOMPARE(kept.pending, carried ? int(storage::SharedPreferenceInfo::PendingPlain) : 0);
        // The fresh file takes writes.
        reopened.dataInfoModel()->saveSharedReferenceOffset(7);
        ThreadManager::getInstance()->waitForIdle();
        QCOMPARE(reopened.dataInfoModel()->sharedReferenceOffset(), 7);
    }

    // Found while in use (a statement reports the file is no database): set aside at once, the
    // user told, and the account asks to be made again; the fresh file takes writes.
    void aDatabaseDamagedWhileInUseIsSetAside()
    {
        QTemporaryDir dir;
        RefAccount account(QStringLiteral("live"), dir.path(), nullptr);
        account.open();
        QVERIFY(QTest::qWaitFor([&] { return account.isReady(); }));
        savePending(&account, QStringLiteral("waiting"));
        ThreadManager::getInstance()->waitForIdle();
        AccountManager::getInstance()->clearRecords();
        QSignalSpy reset(&account, &RefAccount::storageReset);
        garble(account.databasePath(), 0);
        QFile::remove(account.databasePath() + QStringLiteral("-wal"));
        // A read off the storage thread opens the file afresh, and meets the damage.
        QVERIFY(account.storage()->sharedPreferenceStorage()->allInfos().isEmpty());
        QVERIFY(QTest::qWaitFor([&] { return reset.count() == 1; }));
        QCOMPARE(AccountManager::getInstance()->errors().size(), 1);
        QCOMPARE(AccountManager::getInstance()->errors().first().text, QStringLiteral("storage_reset"));
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("live.db.damaged-*")}).size(), 1);
        savePending(&account, QStringLiteral("after"));
        ThreadManager::getInstance()->waitForIdle();
        QCOMPARE(account.storage()->sharedPreferenceStorage()->info(QStringLiteral("after"), 1).value,
                 QByteArray("to send"));
        QCOMPARE(reset.count(), 1);
    }

    // A disk that takes no more (a file size limit here): writes are held in memory, in order,
    // the user is told, and all of them are written once the disk takes them again.
    void writesTheDiskRefusesAreHeldAndWrittenLater()
    {
        QTemporaryDir dir;
        RefAccount account(QStringLiteral("full"), dir.path(), nullptr);
        account.open();
        QVERIFY(QTest::qWaitFor([&] { return account.isReady(); }));
        storage::SharedPreferenceStorage* store = account.storage()->sharedPreferenceStorage();
        const auto save = [store](const QString& key, const QByteArray& value) {
            storage::SharedPreferenceInfo row;
            row.key = key;
            row.type = 1;
            row.value = value;
            ThreadManager::getInstance()->invoke([store, row] { store->save(row); }, true);
        };
        save(QStringLiteral("before"), "stored");
        ThreadManager::getInstance()->waitForIdle();
        AccountManager::getInstance()->clearRecords();

        std::signal(SIGXFSZ, SIG_IGN);
        rlimit original{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &original), 0);
        qint64 largest = 0;
        for (const QFileInfo& file : QDir(dir.path()).entryInfoList(QDir::Files))
            largest = std::max(largest, file.size());
        rlimit tight = original;
        tight.rlim_cur = rlim_t(largest + 4096);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        auto restore = qScopeGuard([&] { setrlimit(RLIMIT_FSIZE, &original); });
        save(QStringLiteral("big"), QByteArray(256 * 1024, 'x'));
        save(QStringLiteral("after"), "in order");
        QVERIFY(QTest::qWaitFor([&] { return account.storageState() == RefAccount::StorageRefused; }));
        QCOMPARE(account.syncState(), int(RefAccount::StorageTrouble));
        QCOMPARE(AccountManager::getInstance()->errors().last().text, QStringLiteral("storage_full"));
        QCOMPARE(store->info(QStringLiteral("before"), 1).value, QByteArray("stored"));

        restore.dismiss();
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &original), 0);
        QVERIFY(QTest::qWaitFor([&] { return account.storageState() == RefAccount::StorageOk; },
                                3 * RefAccount::kStorageRetryMs));
        QCOMPARE(AccountManager::getInstance()->errors().last().severity, int(AccountManager::Tip));
        ThreadManager::getInstance()->waitForIdle();
        QCOMPARE(store->info(QStringLiteral("big"), 1).value.size(), 256 * 1024);
        QCOMPARE(store->info(QStringLiteral("after"), 1).value, QByteArray("in order"));
    }

    void deviceModel()
    {
        RefAccountDeviceModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy countSpy(&model, &RefAccountDeviceModel::countChanged);
        im::user::ListDevicesResp resp;
        for (int id : {3, 5, 8}) {
            auto* d = resp.add_devices();
            d->set_id(id);
            d->set_name("device " + std::to_string(id));
        }
        resp.set_delete_timer(6);
        model.setDeviceList(resp);
        QCOMPARE(model.count(), 3);
        QCOMPARE(model.deleteTimer(), 6);
        QCOMPARE(model.data(model.index(1), RefAccountDeviceModel::NameRole).toString(),
                 QStringLiteral("device 5"));
        model.removeDevices({5, 8, 42});
        QCOMPARE(model.count(), 1);
        QCOMPARE(model.data(model.index(0), RefAccountDeviceModel::IdRole).toInt(), 3);
        QCOMPARE(countSpy.count(), 2);
        QVERIFY(!model.data(model.index(4), RefAccountDeviceModel::IdRole).isValid());
    }

    void storageThreadRunsInOrder()
    {
        QList<int> order;
        QMutex mutex;
        for (int i = 0; i < 100; ++i)
            ThreadManager::getInstance()->invoke(
                [&order, &mutex, i] {
                    QMutexLocker l(&mutex);
                    order.append(i);
                },
                true);
        QVERIFY(ThreadManager::getInstance()->waitForIdle());
        QVERIFY(ThreadManager::getInstance()->isIdle());
        QCOMPARE(order.size(), 100);
        QVERIFY(std::is_sorted(order.begin(), order.end()));
    }

    // run() joins the same queue as invoke(), and a cancelled task that has not started is skipped.
    void storageTasksJoinTheQueue()
    {
        QList<QString> order;
        QSemaphore gate;
        auto* manager = ThreadManager::getInstance();
        manager->invoke([&gate] { gate.acquire(); }, true);
        manager->invoke([&order] { order.append(QStringLiteral("before")); }, true);
        QFuture<void> task = manager->run([&order] { order.append(QStringLiteral("task")); });
        QFuture<void> skipped = manager->run([&order] { order.append(QStringLiteral("skipped")); });
        manager->invoke([&order] { order.append(QStringLiteral("after")); }, true);
        skipped.cancel();
        QVERIFY(!task.isFinished());
        gate.release();
        task.waitForFinished();
        skipped.waitForFinished();
        QVERIFY(manager->waitForIdle());
        QCOMPARE(order, (QList<QString>{"before", "task", "after"}));
        QVERIFY(skipped.isCanceled());
    }
};

SETTINGMODEL_TEST_MAIN(TestHost)
#include "tst_host.moc"
