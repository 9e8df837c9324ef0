// Measures the file services through the simulated server: a 5 MB file uploaded on one device
// and downloaded on another, encrypted and verified, against the same bytes sent and fetched
// plain over the same commands; then 20 files in flight at once, with the longest time the
// main thread spends on one event.
#include "benchsupport.h"
#include "host/files.h"
#include "host/threadmanager.h"
#include "im/content.pb.h"
#include "im/file.pb.h"
#include "media.h"
#include "refaccount.h"
#include "reffilemanager.h"
#include "simserver.h"

#include <QCryptographicHash>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

constexpr qint64 kBigFile = 5 * 1024 * 1024;
constexpr int kManyFiles = 20;
constexpr qint64 kManySize = 512 * 1024;
constexpr int kWaitMs = 120000;

std::unique_ptr<RefAccount> openDevice(SimServer& server, const QString& dir, int deviceId)
{
    auto account = std::make_unique<RefAccount>(
        QStringLiteral("device%1").arg(deviceId), dir,
        server.connectDevice(deviceId, QStringLiteral("Bench"), QStringLiteral("desktop")));
    account->open();
    if (!waitUntil([&account] { return account->isReady(); }, kWaitMs))
        return nullptr;
    return account;
}

template <class Message> QByteArray bytesOf(const Message& message)
{
    return QByteArray::fromStdString(message.SerializeAsString());
}

// One request, waited for.
QByteArray ask(RefAccount& account, int command, const QByteArray& body)
{
    bool done = false;
    QByteArray answer;
    account.sendRequest(command, body,
                        [&done, &answer](int code, const QByteArray& reply) {
                            done = true;
                            answer = code == 0 ? reply : QByteArray();
                        },
                        false, {});
    waitUntil([&done] { return done; }, kWaitMs);
    return answer;
}

// The same bytes up and down over the same commands, in the same pieces, with nothing
// encrypted, hashed on the client or written to disk.
bool plainRoundTrip(RefAccount& up, RefAccount& down, const QString& id, const QByteArray& bytes)
{
    for (qint64 offset = 0; offset < bytes.size(); offset += RefFileManager::kChunkSize) {
        im::file::UploadChunkReq req;
        req.set_file_id(id.toStdString());
        req.set_offset(offset);
        req.set_total_size(bytes.size());
        const QByteArray piece = bytes.mid(offset, RefFileManager::kChunkSize);
        req.set_data(piece.constData(), size_t(piece.size()));
        if (ask(up, FileUploadChunk, bytesOf(req)).isNull())
            return false;
    }
    im::file::CompleteUploadReq complete;
    complete.set_file_id(id.toStdString());
    complete.set_size(bytes.size());
    // The server checks every upload: this hash is part of any transfer.
    complete.set_md5(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toStdString());
    if (ask(up, FileCompleteUpload, bytesOf(complete)).isNull())
        return false;
    QByteArray received;
    while (received.size() < bytes.size()) {
        im::file::DownloadChunkReq req;
        req.set_file_id(id.toStdString());
        req.set_offset(received.size());
        req.set_length(RefFileManager::kChunkSize);
        im::file::DownloadChunkResp resp;
        const QByteArray answer = ask(down, FileDownloadChunk, bytesOf(req));
        if (!resp.ParseFromArray(answer.constData(), int(answer.size())) || resp.data().empty())
            return false;
        received.append(resp.data().data(), qsizetype(resp.data().size()));
    }
    return received == bytes;
}

FileDataPtr localFile(RefAccount& account, const QString& path)
{
    const FileDataPtr file =
        account.fileManager()->createFileData(QVariantMap{{QStringLiteral("filePath"), path}}, 10, false, 16);
    account.fileManager()->addUploadId(file->fileId());
    return file;
}

// Uploads the files on one device and downloads them on the other; false on any failure.
bool roundTrip(RefAccount& up, RefAccount& down, const QList<FileDataPtr>& files)
{
    int finished = 0;
    bool ok = true;
    for (const FileDataPtr& file : files) {
        const auto filter = up.fileManager()->makeFilter(file, {});
        filter->callback = [&finished, &ok](int stage, int status) {
            if (stage == upload::Finished) {
                ++finished;
                ok = ok && status == upload::Ok;
            }
        };
        up.fileManager()->uploadMultiFile(filter, upload::Normal);
    }
    if (!waitUntil([&] { return finished == files.size(); }, kWaitMs) || !ok)
        return false;
    QStringList ids;
    QList<FileDataPtr> known; // the records live while someone holds them
    for (const FileDataPtr& file : files) {
        im::content::FileInfo info;
        info.set_file_id(file->fileId().toStdString());
        info.set_aes_key(file->aesKey().toStdString());
        info.set_md5(file->fileMd5().toStdString());
        info.set_size(file->size());
        known.append(down.fileManager()->createFileData(info, 10, 16));
        ids.append(file->fileId());
    }
    QStringList failed{QStringLiteral("unfinished")};
    QObject::connect(down.refFileManager(), &RefFileManager::downloadsFinished,
                     [&failed](const QStringList&, const QStringList& failedIds) { failed = failedIds; });
    down.fileManager()->downloadFileMgr()->downloads(ids, false, true, false);
    return waitUntil([&failed] { return failed != QStringList{QStringLiteral("unfinished")}; }, kWaitMs) &&
           failed.isEmpty();
}

} // namespace

int main(int argc, char** argv)
{
    TimedApp app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    SimServer server;
    auto a = openDevice(server, dir.path(), 1);
    auto b = openDevice(server, dir.path(), 2);
    if (!a || !b) {
        std::fprintf(stderr, "the devices did not open\n");
        return 1;
    }

    const QByteArray big = media::noise(kBigFile);
    const QString bigPath = media::writeBytes(dir.filePath(QStringLiteral("big.bin")), big);
    QElapsedTimer timer;
    double plainMs = 1e9;
    double fileMs = 1e9;
    for (int round = 0; round < 3; ++round) {
        timer.start();
        if (!plainRoundTrip(*a, *b, QStringLiteral("plain%1").arg(round), big)) {
            std::fprintf(stderr, "the plain round trip failed\n");
            return 1;
        }
        plainMs = std::min(plainMs, timer.nsecsElapsed() / 1e6);
        const FileDataPtr file = localFile(*a, bigPath);
        timer.start();
        if (!roundTrip(*a, *b, {file})) {
            std::fprintf(stderr, "the file round trip failed\n");
            return 1;
        }
        fileMs = std::min(fileMs, timer.nsecsElapsed() / 1e6);
    }

    QList<FileDataPtr> many;
    for (int i = 0; i < kManyFiles; ++i)
        many.append(localFile(*a, media::writeBytes(dir.filePath(QStringLiteral("many%1.bin").arg(i)),
                                                    media::noise(kManySize, i + 2))));
    app.resetLongest();
    timer.start();
    if (!roundTrip(*a, *b, many)) {
        std::fprintf(stderr, "the 20-file round trip failed\n");
        return 1;
    }
    const double manyMs = timer.nsecsElapsed() / 1e6;
    const double longest = app.longestMs();
    ThreadManager::getInstance()->waitForIdle();

    const double ratio = fileMs / plainMs;
    std::printf("5 MB up and down, plain over the same commands: %8.2f ms\n", plainMs);
    std::printf("5 MB up and down, encrypted, verified, cached:  %8.2f ms (%.2fx plain, target < 3x)\n",
                fileMs, ratio);
    std::printf("%d files of %lld KB up and down: %8.2f ms\n", kManyFiles, kManySize / 1024, manyMs);
    std::printf("  longest main-thread event while they transfer: %.2f ms (target < 8 ms)\n", longest);
    return ratio < 3.0 && longest < 8.0 ? 0 : 2;
}
