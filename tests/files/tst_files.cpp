// The reference file services against the simulated server: records, uploads, downloads,
// server-side copies and deletions, and the media helpers the callers lean on.
#include "host/accountmanager.h"
#include "host/constants.h"
#include "host/cryptoaes.h"
#include "host/files.h"
#include "host/threadmanager.h"
#include "host/util.h"
#include "im/content.pb.h"
#include "media.h"
#include "refaccount.h"
#include "reffilemanager.h"
#include "secretwatch.h"
#include "simserver.h"
#include "testaccount.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>
#include <algorithm>

namespace {

constexpr int kWait = TestAccount::kWaitMs;
using Stage = QPair<int, int>;

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

im::content::FileInfo infoOf(const FileData& file)
{
    im::content::FileInfo info;
    info.set_file_id(file.fileId().toStdString());
    info.set_aes_key(file.aesKey().toStdString());
    info.set_md5(file.fileMd5().toStdString());
    info.set_size(file.size());
    return info;
}

// Every stage an upload reports, in order; Finished ends it.
struct UploadLog {
    QList<Stage> stages;
    bool finished() const
    {
        return std::any_of(stages.cbegin(), stages.cend(),
                           [](Stage s) { return s.first == upload::Finished; });
    }
    int status() const { return finished() ? stages.last().second : -1; }
};

} // namespace

class TestFiles : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::shared_ptr<SimFileStore> m_store;
    std::unique_ptr<SimServer> m_server;
    int m_run = 0;

    std::unique_ptr<RefAccount> device(int deviceId, SimServer* server = nullptr)
    {
        server = server ? server : m_server.get();
        auto account = std::make_unique<RefAccount>(
            QStringLiteral("run%1-user%2-device%3").arg(m_run).arg(server->userId()).arg(deviceId),
            m_dir.path(),
            server->connectDevice(deviceId, QStringLiteral("Device"), QStringLiteral("desktop")));
        account->setRequestTimeout(1500);
        account->open();
        if (!QTest::qWaitFor([&account] { return account->isReady(); }, kWait))
            return nullptr;
        return account;
    }

    QString writeFile(const QString& name, const QByteArray& bytes) const
    {
        return media::writeBytes(m_dir.filePath(QStringLiteral("run%1-%2").arg(m_run).arg(name)), bytes);
    }

    static FileDataPtr localFile(RefAccount& account, const QString& path, int fileType = 9)
    {
        const FileDataPtr file = account.fileManager()->createFileData(
            QVariantMap{{QStringLiteral("filePath"), path}}, fileType, false, 32);
        account.fileManager()->addUploadId(file->fileId());
        return file;
    }

    // Starts an upload of the pair; the log fills as it reports.
    static std::shared_ptr<UploadLog> startUpload(RefAccount& account, const FileDataPtr& first,
                                                  const FileDataPtr& second = {}, int mode = upload::Normal,
                                                  const QString& owner = QStringLiteral("owner"))
    {
        auto log = std::make_shared<UploadLog>();
        const auto filter = account.fileManager()->makeFilter(first, second);
        if (!filter)
            return log;
        filter->ownerId = owner;
        filter->callback = [log](int stage, int status) { log->stages.append({stage, status}); };
        account.fileManager()->uploadMultiFile(filter, mode);
        return log;
    }

    static int uploadAndWait(RefAccount& account, const FileDataPtr& file)
    {
        const auto log = startUpload(account, file);
        return QTest::qWaitFor([&log] { return log->finished(); }, kWait) ? log->status() : -1;
    }

    static bool downloadAndWait(RefAccount& account, const FileDataPtr& file)
    {
        QSignalSpy done(account.refFileManager(), &RefFileManager::fileDownloaded);
        account.fileManager()->downloadFileMgr()->download(file, false, file->fileType());
        if (!QTest::qWaitFor([&done] { return !done.isEmpty(); }, kWait))
            return false;
        return done.first().at(1).toBool();
    }

    // After n pieces of the command were handled, the next ones meet the fault.
    void faultAfter(int command, int handled, const std::function<void()>& fault)
    {
        auto seen = std::make_shared<int>(0);
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = connect(m_server.get(), &SimServer::requestHandled, this,
                              [seen, command, handled, fault, connection](int, int cmd, int) {
                                  if (cmd == command && ++*seen == handled) {
                                      fault();
                                      QObject::disconnect(*connection);
                                  }
                              });
    }

private slots:
    void init()
    {
        ++m_run;
        m_store = std::make_shared<SimFileStore>();
        m_server = std::make_unique<SimServer>();
        m_server->setUser(1, m_store);
        m_server->setLatency(1);
    }

    void cleanup()
    {
        ThreadManager::getInstance()->waitForIdle();
        m_server.reset();
    }

    void factoriesGiveOneRecordPerFile()
    {
        auto a = device(1);
        QVERIFY(a);
        FileManager* files = a->fileManager();
        const QByteArray key = CryptoAES::createKey(32);
        const QVariantMap map{{QStringLiteral("filePath"), QStringLiteral("/pictures/sea.png")},
                              {QStringLiteral("fileId"), QStringLiteral("image-1")},
                              {QStringLiteral("aesKey"), QString::fromLatin1(key.toBase64())},
                              {QStringLiteral("thumbPath"), QStringLiteral("/tmp/sea-small.png")},
                              {QStringLiteral("thumbnailId"), QStringLiteral("thumb-1")},
                              {QStringLiteral("thumbnailAesKey"), QStringLiteral("not*base64")}};
        const FileDataPtr image = files->createFileData(map, 10, false, 16);
        QCOMPARE(image->fileId(), QStringLiteral("image-1"));
        QCOMPARE(image->filePath(), QStringLiteral("/pictures/sea.png"));
        QCOMPARE(image->aesKey(), key);
        QCOMPARE(image->fileName(), QStringLiteral("sea.png"));
        QCOMPARE(image->fileType(), 10);
        QCOMPARE(image->modelSourceType(), 16);
        const FileDataPtr thumb = files->createFileData(map, 10, true, 16);
        QCOMPARE(thumb->fileId(), QStringLiteral("thumb-1"));
        QCOMPARE(thumb->filePath(), QStringLiteral("/tmp/sea-small.png"));
        QVERIFY(thumb->aesKey().isEmpty()); // bad Base64 gives no key, not a wrong one

        QVERIFY(!files->createFileData(QVariantMap{}, 9, false, 32));
        const FileDataPtr named =
            files->createFileData({{QStringLiteral("filePath"), QStringLiteral("/a/b.wav")},
                                   {QStringLiteral("fileName"), QStringLiteral("Bell")}},
                                  9, false, 32);
        QCOMPARE(named->fileId().size(), 32);
        QCOMPARE(named->fileName(), QStringLiteral("Bell"));

        // One id is one object, from either factory and any thread.
        im::content::FileInfo info;
        info.set_file_id("image-1");
        QCOMPARE(files->createFileData(info, 10, 16), image);
        info.set_file_id("from-worker");
        info.set_aes_key(key.toStdString());
        info.set_md5("abc");
        info.set_size(42);
        info.set_file_name("w.jpg");
        const FileDataPtr made =
            QtConcurrent::run([files, info] { return files->createFileData(info, 10, 16); }).result();
        QCOMPARE(made->thread(), a->thread());
        QCOMPARE(made->aesKey(), key);
        QCOMPARE(made->fileMd5(), QStringLiteral("abc"));
        QCOMPARE(made->size(), 42);
        QCOMPARE(made->fileName(), QStringLiteral("w.jpg"));

        InnerFileData bundled;
        bundled.setFilePath(QStringLiteral("qrc:/files/bundled.txt"));
        QVERIFY(bundled.fileExist());
        bundled.setFilePath(QStringLiteral("qrc:/files/missing.txt"));
        QVERIFY(!bundled.fileExist());
        PhotoData photo(QStringLiteral("/photos/me.jpg"));
        QCOMPARE(photo.fileId().size(), 32);
        QCOMPARE(photo.fileName(), QStringLiteral("me.jpg"));
        QCOMPARE(a->refFileManager()->getFile(&photo, false)->fileId(), photo.fileId());
    }

    void uploadedOnOneDeviceDownloadedOnTheOther()
    {
        auto a = device(1);
        auto b = device(2);
        QVERIFY(a && b);
        const QByteArray plain = media::noise(700 * 1024 + 5);
        const QString picked = writeFile(QStringLiteral("tone.wav"), plain);
        const FileDataPtr file = localFile(*a, picked);
        // The file shows its transfer from the byte counts: waiting, then a share per piece.
        QList<qreal> shares;
        connect(file.data(), &FileData::progressChanged, this,
                [&shares, &file] { shares.append(file->progress()); });
        const auto log = startUpload(*a, file, {}, upload::ReportProgress);
        QCOMPARE(file->transferState(), int(FileData::TransferWaiting));
        QVERIFY(QTest::qWaitFor([&log] { return log->finished(); }, kWait));
        QVERIFY2(shares.size() >= 3 && shares.at(0) > 0 && shares.at(0) < 0.5,
                 qPrintable(QString::number(shares.size())));
        QVERIFY(std::is_sorted(shares.cbegin(), shares.cend()));
        QCOMPARE(file->progress(), 1.0);
        QCOMPARE(file->transferState(), int(FileData::TransferIdle));
        const QList<Stage> expected{{upload::Prepared, 0},
                                    {upload::Progress, 0},
                                    {upload::Progress, 0},
                                    {upload::Progress, 0},
                                    {upload::Finished, upload::Ok}};
        QCOMPARE(log->stages, expected);
        QCOMPARE(file->aesKey().size(), 32);
        QCOMPARE(file->size(), plain.size());
        QCOMPARE(file->fileMd5(),
                 QString::fromLatin1(QCryptographicHash::hash(plain, QCryptographicHash::Md5).toHex()));

        // The server keeps only cipher text; the account keeps its own copy.
        const SimFileStore::File* stored = m_store->readable(1, file->fileId());
        QVERIFY(stored);
        QCOMPARE(stored->bytes.size(), plain.size() + 28);
        QVERIFY(!stored->bytes.contains(plain.mid(1000, 64)));
        QVERIFY(file->cacheFilePath().startsWith(a->refFileManager()->cacheDir()));
        QCOMPARE(contentOf(file->cacheFilePath()), plain);

        const FileDataPtr onB = b->fileManager()->createFileData(infoOf(*file), 9, 32);
        QVERIFY(!onB->fileExist());
        QList<qreal> received;
        connect(onB.data(), &FileData::progressChanged, this,
                [&received, &onB] { received.append(onB->progress()); });
        QVERIFY(downloadAndWait(*b, onB));
        QVERIFY(received.size() >= 3 && received.at(0) > 0 && received.at(0) < 0.5);
        QCOMPARE(received.last(), 1.0);
        QCOMPARE(onB->transferState(), int(FileData::TransferIdle));
        QVERIFY(onB->fileExist());
        QCOMPARE(contentOf(onB->cacheFilePath()), plain);

        // Restarted, both still know the file: B its copy and key, A that it is uploaded.
        const QString id = file->fileId();
        b.reset();
        b = device(2);
        const FileDataPtr known =
            b->fileManager()->createFileData({{QStringLiteral("fileId"), id}}, 9, false, 32);
        QVERIFY(known->fileExist());
        QCOMPARE(known->aesKey(), file->aesKey());
        a.reset();
        a = device(1);
        const FileDataPtr again =
            a->fileManager()->createFileData({{QStringLiteral("fileId"), id}}, 9, false, 32);
        QVERIFY(!a->fileManager()->makeFilter(again, {}));
        QCOMPARE(contentOf(again->cacheFilePath()), plain);
    }

    void cancelStopsAnUploadAndDropsWhatTheServerGot()
    {
        auto a = device(1);
        QVERIFY(a);
        m_server->setLatency(5);
        const FileDataPtr big =
            localFile(*a, writeFile(QStringLiteral("big.bin"), media::noise(1500 * 1024)));
        const auto running = startUpload(*a, big, {}, upload::Normal, QStringLiteral("wallpaper-1"));
        QSignalSpy handled(m_server.get(), &SimServer::requestHandled);
        QVERIFY(QTest::qWaitFor([&handled] { return !handled.isEmpty(); }, kWait));
        a->fileManager()->uploadFileMgr()->cancelUpload(QStringLiteral("wallpaper-1"), big, {}, 1);
        QCOMPARE(running->stages.last(), Stage(upload::Finished, upload::Cancelled));
        QVERIFY(QTest::qWaitFor([this] { return m_server->requestCount(FileDelete) == 1; }, kWait));
        QVERIFY(QTest::qWaitFor([&a] { return a->refFileManager()->pendingTransfers() == 0; }, kWait));
        QCOMPARE(m_store->count(), 0);

        // A quiet cancel of a waiting upload: nothing is reported, nothing is sent.
        const int pieces = m_server->requestCount(FileUploadChunk);
        const FileDataPtr other = localFile(*a, writeFile(QStringLiteral("small.bin"), media::noise(1000)));
        const auto quiet = startUpload(*a, other, {}, upload::Normal, QStringLiteral("wallpaper-2"));
        a->fileManager()->uploadFileMgr()->cancelUpload(QStringLiteral("wallpaper-2"), other, {},
                                                        upload::CancelQuietly);
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QVERIFY(quiet->stages.isEmpty());
        QCOMPARE(m_server->requestCount(FileUploadChunk), pieces);

        // A cancel after the upload finished drops the server's file too; a delete that met no
        // network goes once the account is online again, after a restart too.
        for (const bool restart : {false, true}) {
            const FileDataPtr done = localFile(*a, writeFile(QStringLiteral("done.bin"), media::noise(2000)));
            QCOMPARE(uploadAndWait(*a, done), int(upload::Ok));
            const QString id = done->fileId();
            QVERIFY(m_store->contains(id));
            const int deletes = m_server->requestCount(FileDelete);
            m_server->setDeviceOnline(1, false);
            a->fileManager()->uploadFileMgr()->cancelUpload(QStringLiteral("wallpaper-3"), done, {},
                                                            upload::CancelQuietly);
            QVERIFY(
                QTest::qWaitFor([&] { return m_server->requestCount(FileDelete) == deletes + 1; }, kWait));
            QVERIFY(m_store->contains(id));
            a->setOnline(false);
            if (restart) {
                ThreadManager::getInstance()->waitForIdle();
                a.reset();
                a = device(1);
                QVERIFY(a);
            }
            m_server->setDeviceOnline(1, true);
            a->setOnline(true);
            QVERIFY(QTest::qWaitFor([&] { return !m_store->contains(id); }, kWait));
        }
    }

    void failedUploads_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("status");
        QTest::newRow("missing file") << "missing" << int(upload::Refused);
        QTest::newRow("zero bytes") << "empty" << int(upload::Refused);
        QTest::newRow("above the size limit") << "huge" << int(upload::Refused);
        QTest::newRow("server error") << "error" << int(upload::Failed);
        QTest::newRow("dropped mid-transfer") << "drop" << int(upload::Failed);
        QTest::newRow("account offline") << "offline" << int(upload::Failed);
        QTest::newRow("server unreachable") << "unreachable" << int(upload::Failed);
    }

    void failedUploads()
    {
        QFETCH(QString, fault);
        QFETCH(int, status);
        auto a = device(1);
        QVERIFY(a);
        QString path = writeFile(QStringLiteral("file.bin"), media::noise(600 * 1024));
        if (fault == QLatin1String("missing")) {
            QFile::remove(path);
        } else if (fault == QLatin1String("empty")) {
            path = writeFile(QStringLiteral("empty.bin"), {});
        } else if (fault == QLatin1String("huge")) {
            QFile sparse(path);
            QVERIFY(sparse.open(QIODevice::ReadWrite) && sparse.resize(FILE_SIZE_LIMIT + 1));
        } else if (fault == QLatin1String("error")) {
            faultAfter(FileUploadChunk, 1, [this] { m_server->failCommand(FileUploadChunk, 500, 1); });
        } else if (fault == QLatin1String("drop")) {
            faultAfter(FileUploadChunk, 1, [this] { m_server->dropCommand(FileUploadChunk, 1); });
        } else if (fault == QLatin1String("offline")) {
            a->setOnline(false);
        } else if (fault == QLatin1String("unreachable")) {
            m_server->setDeviceOnline(1, false);
        }
        const FileDataPtr file = localFile(*a, path);
        QCOMPARE(uploadAndWait(*a, file), status);
        // What may go through later says so; what never will says that.
        QCOMPARE(file->transferState(), int(status == upload::Failed ? FileData::TransferFailedWillRetry
                                                                     : FileData::TransferFailed));
        QCOMPARE(file->progress(), 0.0);
        QVERIFY(!m_store->contains(file->fileId()));
        QVERIFY(!a->refFileManager()->record(file->fileId()).value_or(FileRecord()).uploaded);
        if (status == upload::Failed) {
            // The same upload goes through once the network is back.
            a->setOnline(true);
            m_server->setDeviceOnline(1, true);
            QCOMPARE(uploadAndWait(*a, file), int(upload::Ok));
            QVERIFY(m_store->contains(file->fileId()));
        }
    }

    void failedDownloads_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("told"); // the user hears it will not come by trying again
        QTest::newRow("unknown id") << "unknown" << false;
        QTest::newRow("wrong key") << "key" << true;
        QTest::newRow("tampered bytes") << "tampered" << true;
        QTest::newRow("md5 differs from the record") << "md5" << true;
        QTest::newRow("deleted on the server") << "deleted" << true;
        QTest::newRow("server error mid-transfer") << "error" << false;
        QTest::newRow("dropped mid-transfer") << "drop" << false;
    }

    void failedDownloads()
    {
        QFETCH(QString, fault);
        QFETCH(bool, told);
        auto a = device(1);
        auto b = device(2);
        QVERIFY(a && b);
        const FileDataPtr file =
            localFile(*a, writeFile(QStringLiteral("file.bin"), media::noise(600 * 1024)));
        QCOMPARE(uploadAndWait(*a, file), int(upload::Ok));
        im::content::FileInfo info = infoOf(*file);
        QSignalSpy done(b->refFileManager(), &RefFileManager::fileDownloaded);
        FileDataPtr asked;
        if (fault == QLatin1String("unknown")) {
            b->fileManager()->downloadFileMgr()->downloads({QStringLiteral("never-seen")}, false, false,
                                                           true);
        } else {
            if (fault == QLatin1String("key"))
                info.set_aes_key(CryptoAES::createKey(32).toStdString());
            else if (fault == QLatin1String("tampered"))
                m_store->corrupt(file->fileId());
            else if (fault == QLatin1String("md5"))
                info.set_md5("00000000000000000000000000000000");
            else if (fault == QLatin1String("deleted"))
                m_store->remove(1, {file->fileId()});
            else if (fault == QLatin1String("error"))
                faultAfter(FileDownloadChunk, 1,
                           [this] { m_server->failCommand(FileDownloadChunk, 500, 1); });
            else if (fault == QLatin1String("drop"))
                faultAfter(FileDownloadChunk, 1, [this] { m_server->dropCommand(FileDownloadChunk, 1); });
            asked = b->fileManager()->createFileData(info, 9, 32);
            b->fileManager()->downloadFileMgr()->download(asked, false, 9);
        }
        QVERIFY(QTest::qWaitFor([&done] { return !done.isEmpty(); }, kWait));
        QCOMPARE(done.first().at(1).toBool(), false);
        if (asked) {
            const bool later = fault == QLatin1String("error") || fault == QLatin1String("drop");
            QCOMPARE(asked->transferState(),
                     int(later ? FileData::TransferFailedWillRetry : FileData::TransferFailed));
        }
        // Nothing, not even a part, is left in B's cache.
        QVERIFY(QTest::qWaitFor([&b] { return b->refFileManager()->pendingTransfers() == 0; }, kWait));
        QCOMPARE(QDir(b->refFileManager()->cacheDir()).entryList(QDir::Files), QStringList());
        const FileDataPtr onB = b->fileManager()->createFileData(info, 9, 32);
        QVERIFY(!onB->fileExist());
        // Once per file, however often it is asked for.
        b->fileManager()->downloadFileMgr()->download(onB, false, 9);
        QVERIFY(QTest::qWaitFor([&done] { return done.size() == 2; }, kWait));
        int tellings = 0;
        for (const AccountManager::Error& error : AccountManager::getInstance()->errors())
            tellings += error.text == QLatin1String("file_download_failed") && error.source == b->accountId();
        QCOMPARE(tellings, told ? 1 : 0);
    }

    void duplicatesAndDeletionsAcrossDevicesAndUsers()
    {
        auto a = device(1);
        auto b = device(2);
        QVERIFY(a && b);
        const QByteArray plain = media::noise(300 * 1024);
        const QString picked = writeFile(QStringLiteral("tone.ogg"), plain);
        const FileDataPtr file = localFile(*a, picked);
        QCOMPARE(uploadAndWait(*a, file), int(upload::Ok));

        QHash<QString, QString> copies;
        int code = -1;
        a->fileManager()->fileServiceCmd()->duplicateFiles(
            {file->fileId()}, [&](const QHash<QString, QString>& map, int result) {
                copies = map;
                code = result;
            });
        QVERIFY(QTest::qWaitFor([&code] { return code != -1; }, kWait));
        QCOMPARE(code, 0);
        const QString newId = copies.value(file->fileId());
        QVERIFY(!newId.isEmpty());
        const FileDataPtr copy = a->fileManager()->fileDataMgr()->duplicateFile(file, newId, 9);
        QCOMPARE(copy->aesKey(), file->aesKey());
        QVERIFY(!a->fileManager()->makeFilter(copy, {})); // already on the server
        QVERIFY(QTest::qWaitFor([&copy] { return !copy->cacheFilePath().isEmpty(); }, kWait));
        QVERIFY(copy->cacheFilePath() != file->cacheFilePath());

        const FileDataPtr copyOnB = b->fileManager()->createFileData(infoOf(*copy), 9, 32);
        QVERIFY(downloadAndWait(*b, copyOnB));
        QCOMPARE(contentOf(copyOnB->cacheFilePath()), plain);

        code = -1;
        a->fileManager()->fileServiceCmd()->duplicateFiles(
            {QStringLiteral("nope")}, [&](const QHash<QString, QString>& map, int result) {
                copies = map;
                code = result;
            });
        QVERIFY(QTest::qWaitFor([&code] { return code != -1; }, kWait));
        QCOMPARE(code, SimServer::kNotFound);
        QVERIFY(copies.isEmpty());

        // Deleted by A: B's next download fails cleanly; A's own copy goes, the picked file stays.
        a->fileManager()->fileServiceCmd()->deleteFiles({file->fileId(), newId});
        QVERIFY(QTest::qWaitFor([this] { return m_store->count() == 0; }, kWait));
        b->fileManager()->fileDataMgr()->deleteFileByRef(copyOnB, true);
        QVERIFY(QTest::qWaitFor([&copyOnB] { return !copyOnB->fileExist(); }, kWait));
        QVERIFY(!downloadAndWait(*b, b->fileManager()->createFileData(infoOf(*copy), 9, 32)));
        const QString cached = file->cacheFilePath();
        a->fileManager()->discardFile(file);
        QVERIFY(QTest::qWaitFor([&cached] { return !QFile::exists(cached); }, kWait));
        QVERIFY(!a->refFileManager()->record(file->fileId()));
        QVERIFY(QFile::exists(picked));

        // Another user can neither read nor delete A's file, until A shares it.
        const FileDataPtr shared = localFile(*a, picked);
        QCOMPARE(uploadAndWait(*a, shared), int(upload::Ok));
        SimServer otherServer;
        otherServer.setUser(2, m_store);
        auto stranger = device(3, &otherServer);
        QVERIFY(stranger);
        QVERIFY(!downloadAndWait(*stranger, stranger->fileManager()->createFileData(infoOf(*shared), 9, 32)));
        stranger->fileManager()->fileServiceCmd()->deleteFiles({shared->fileId()});
        QVERIFY(QTest::qWaitFor([&otherServer] { return otherServer.requestCount(FileDelete) == 1; }, kWait));
        QVERIFY(m_store->contains(shared->fileId()));
        m_store->share(shared->fileId(), 2);
        const FileDataPtr received = stranger->fileManager()->createFileData(infoOf(*shared), 9, 32);
        QVERIFY(downloadAndWait(*stranger, received));
        QCOMPARE(contentOf(received->cacheFilePath()), plain);
    }

    void images_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("scaledCopy");
        QTest::newRow("small jpeg") << "small" << true << QSize(800, 600) << false;
        QTest::newRow("wide png") << "wide" << true << QSize(4096, 819) << true;
        QTest::newRow("20000 x 20000 jpeg") << "huge" << true << QSize(4096, 4096) << true;
        QTest::newRow("png named .jpg") << "renamed" << true << QSize(300, 200) << false;
        QTest::newRow("truncated png") << "truncated" << false << QSize() << false;
        QTest::newRow("not an image") << "noise" << false << QSize() << false;
        QTest::newRow("zero bytes") << "empty" << false << QSize() << false;
        QTest::newRow("missing") << "missing" << false << QSize() << false;
    }

    void images()
    {
        QFETCH(QString, kind);
        QFETCH(bool, ok);
        QFETCH(QSize, size);
        QFETCH(bool, scaledCopy);
        const QString dir = m_dir.path() + QLatin1Char('/');
        QString source;
        if (kind == QLatin1String("small"))
            source = media::writeImage(dir + "small.jpg", {800, 600});
        else if (kind == QLatin1String("wide"))
            source = media::writeImage(dir + "wide.png", {5000, 1000});
        else if (kind == QLatin1String("huge"))
            source = media::writeHugeJpeg(dir + "huge.jpg");
        else if (kind == QLatin1String("renamed"))
            QVERIFY(
                QFile::rename(media::writeImage(dir + "real.png", {300, 200}), source = dir + "renamed.jpg"));
        else if (kind == QLatin1String("truncated"))
            source = media::truncated(media::writeImage(dir + "whole.png", {400, 400}), dir + "cut.png", 300);
        else if (kind == QLatin1String("noise"))
            source = media::writeBytes(dir + "noise.jpg", media::noise(20000));
        else if (kind == QLatin1String("empty"))
            source = media::writeBytes(dir + "empty.png", {});
        else
            source = dir + "missing.png";
        QSize scaled;
        QSize thumbSize;
        QString imagePath = dir + "out-" + kind + ".jpg";
        QString thumbPath = dir + "thumb-" + kind + ".jpg";
        QByteArray thumbBytes;
        QCOMPARE(Util::instance()->scaleImage(source, scaled, thumbSize, imagePath, thumbPath, thumbBytes,
                                              false, 4096, 160, 42),
                 ok);
        if (!ok) {
            QVERIFY(imagePath.isEmpty() && thumbPath.isEmpty() && thumbBytes.isEmpty());
            return;
        }
        QCOMPARE(scaled, size);
        QCOMPARE(!imagePath.isEmpty(), scaledCopy);
        QVERIFY(std::max(thumbSize.width(), thumbSize.height()) == 160);
        QVERIFY(QFile::exists(thumbPath));
        QVERIFY(!thumbBytes.isEmpty());
    }

    void brightnessAndFormats()
    {
        const QString dir = m_dir.path() + QLatin1Char('/');
        const auto bright = [&dir](QColor color) {
            return Util::instance()->bright(contentOf(media::writeImage(dir + "b.png", {64, 64}, color)));
        };
        QVERIFY(bright(QColor(20, 20, 40)) < 128);
        QVERIFY(bright(QColor(230, 230, 200)) >= 128);
        QCOMPARE(Util::instance()->bright("not an image"), 255);
        const QStringList formats = ModelBaseUtil::wallpaperFormat();
        QVERIFY(formats.contains(QStringLiteral("jpeg")) && formats.contains(QStringLiteral("png")));
    }

    void audio_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("format");
        QTest::newRow("wav") << "tone.wav"
                             << "wav";
        QTest::newRow("mp3") << "tone.mp3"
                             << "mp3";
        QTest::newRow("ogg") << "tone.ogg"
                             << "ogg";
        QTest::newRow("opus") << "tone.opus"
                              << "opus";
        QTest::newRow("flac") << "tone.flac"
                              << "flac";
        QTest::newRow("m4a") << "tone.m4a"
                             << "m4a";
        QTest::newRow("wav named .mp3") << "wav.mp3"
                                        << "wav";
        QTest::newRow("noise named .mp3") << "noise.mp3"
                                          << "";
        QTest::newRow("zero-byte wav") << "empty.wav"
                                       << "";
        QTest::newRow("missing") << "missing.ogg"
                                 << "";
    }

    void audio()
    {
        QFETCH(QString, name);
        QFETCH(QString, format);
        const QString dir = m_dir.path() + QLatin1Char('/');
        const QString wav = media::writeWav(dir + "source.wav", 2500);
        QString path = dir + name;
        if (name == QLatin1String("tone.wav") || name == QLatin1String("wav.mp3")) {
            QVERIFY(QFile::copy(wav, path) || QFile::exists(path));
        } else if (name.startsWith(QLatin1String("tone."))) {
            if (!media::haveEncoder())
                QSKIP("ffmpeg is not installed (scripts/install-deps.sh installs it)");
            QVERIFY(!media::encode(wav, path).isEmpty());
        } else if (name == QLatin1String("noise.mp3")) {
            media::writeBytes(path, media::noise(50000, 7));
        } else if (name == QLatin1String("empty.wav")) {
            media::writeBytes(path, {});
        }
        qint64 duration = -1;
        QString found;
        QCOMPARE(FileUtil::audioFormat(path, duration, found), !format.isEmpty());
        QCOMPARE(found, format);
        if (format.isEmpty())
            QCOMPARE(duration, 0);
        else
            QVERIFY2(qAbs(duration - 2500) <= 200, qPrintable(QString::number(duration))); // encoder padding
    }
};

SETTINGMODEL_TEST_MAIN(TestFiles)
#include "tst_files.moc"
