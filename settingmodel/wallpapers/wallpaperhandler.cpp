#include "wallpapers/wallpaperhandler.h"

#include "host/accountbase.h"
#include "host/accountmanager.h"
#include "host/appdirmanager.h"
#include "host/appsettingmodel.h"
#include "host/cryptoaes.h"
#include "host/datainfomodel.h"
#include "host/files.h"
#include "host/jsonutil.h"
#include "host/storage.h"
#include "host/threadmanager.h"
#include "host/util.h"
#include "im/notif.pb.h"
#include "im/wallpaper.pb.h"
#include "logging.h"
#include "protobufutil.h"
#include "reports.h"
#include "themes/themehandler.h"
#include "themes/themeitem.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImageReader>
#include <QJSEngine>
#include <QPointer>
#include <QThread>
#include <QtConcurrent>

#include <algorithm>

using settingmodel::parseMessage;

namespace {

QString key64()
{
    return QString::fromLatin1(CryptoAES::createKey(32).toBase64());
}

storage::WallpaperInfo recordOf(const im::WallPaper& message, const QString& id)
{
    storage::WallpaperInfo info;
    info.id = id;
    info.data = SM_SERIALIZE(message);
    info.synced = true;
    info.time = message.update_time();
    return info;
}

void moveToMain(const QList<WallpaperItemPtr>& items)
{
    QThread* main = QCoreApplication::instance()->thread();
    for (const WallpaperItemPtr& item : items)
        item->moveToThread(main);
}

// A list made in one dark mode's order, for a model that is now in the other.
// One sort of a whole list; equals keep the order they came in.
void sortFor(QList<WallpaperItemPtr>& list, bool dark)
{
    std::stable_sort(list.begin(), list.end(), [dark](const WallpaperItemPtr& a, const WallpaperItemPtr& b) {
        return WallpaperItem::greater(*a, *b, dark);
    });
}

constexpr int kConflict = 409;
constexpr int kUnprocessable = 422;
constexpr int kNotFound = 404;
constexpr int kServerError = 500;

} // namespace

// What the image step of an add made: the two files, or nothing (the source was refused).
struct WallpaperHandler::MadeImage {
    bool ok = false;
    FileDataPtr thumb;
    FileDataPtr image;
    QByteArray thumbBytes;
    int brightness = 255;
};

WallpaperHandler::WallpaperHandler(AccountBase* account)
    : QObject(account),
      m_account(account),
      m_model(new WallpaperModel(this)),
      m_patternModel(new WallpaperFilterModel(this)),
      m_cmd(std::make_unique<WallpaperServiceCmd>(account))
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    m_patternModel->setMode(0);
    m_patternModel->setSourceModel(m_model);
    m_fileLooker.setMaxThreadCount(1);
    connect(AppSettingModel::instance(), &AppSettingModel::darkModeChanged, m_model,
            &WallpaperModel::onSortAll);
}

WallpaperHandler::~WallpaperHandler()
{
    emit startDestroy();
    setClearing(true);
    m_loadFuture.waitForFinished();
    m_addFuture.waitForFinished();
    m_listFuture.waitForFinished();
    m_fileLooker.waitForDone();
}

void WallpaperHandler::setLoading(bool loading)
{
    if (loading == m_loading)
        return;
    m_loading = loading;
    emit loadingChanged();
}

void WallpaperHandler::post(std::function<void()> step)
{
    m_generation.post(this, std::move(step));
}

void WallpaperHandler::post(quint64 generation, std::function<void()> step)
{
    m_generation.post(this, generation, std::move(step));
}

void WallpaperHandler::markUploadFailed(const QString& id, bool failed)
{
    if (!failed)
        m_failedUploads.removeAll(id);
    else if (!m_failedUploads.contains(id))
        m_failedUploads.append(id);
    if (WallpaperItem* item = m_model->getItemById(id))
        item->setUploadFailed(failed);
}

WallpaperItemPtr WallpaperHandler::adopt(WallpaperItem* item) const
{
    return WallpaperItemPtr(item, &deleteOnOwnThread<WallpaperItem>);
}

void WallpaperHandler::registerMetaType(const char* uri)
{
    Q_UNUSED(uri)
    qRegisterMetaType<WallpaperItem*>("WallpaperItem *");
    qRegisterMetaType<WallpaperItemPtr>("WallpaperItemPtr");
    qRegisterMetaType<QList<WallpaperItemPtr>>("QList<WallpaperItemPtr>");
    qRegisterMetaType<WallpaperModel*>("WallpaperModel *");
    qRegisterMetaType<WallpaperHandler*>("WallpaperHandler *");
    qRegisterMetaType<ThemeComponentItem*>("ThemeComponentItem *");
    qRegisterMetaType<ThemeItem*>("ThemeItem *");
    qRegisterMetaType<ThemeModel*>("ThemeModel *");
    qRegisterMetaType<ThemeHandler*>("ThemeHandler *");
    qRegisterMetaType<ColorCircleComponentItem*>("ColorCircleComponentItem *");
    qRegisterMetaType<ColorCircleItem*>("ColorCircleItem *");
    qRegisterMetaType<ColorCircleModel*>("ColorCircleModel *");
}

void WallpaperHandler::serializeInfo(WallpaperItem* item, storage::WallpaperInfo& info)
{
    im::WallPaper message;
    item->serialize(&message, true);
    info.id = item->wallpaperId();
    info.data = SM_SERIALIZE(message);
    info.time = message.update_time();
    info.synced = !item->unsynced();
}

// ---- lifecycle ----

void WallpaperHandler::initData()
{
    setClearing(false);
    m_model->onSortAll(AppSettingModel::instance()->darkMode());
    // Deletes a previous run sent without hearing back go with the first request for news.
    for (const QVariant& id : jsonToList(m_account->dataInfoModel()->wallpaperDeletes())) {
        const QString text = id.toString();
        if (text.isEmpty() || m_deleting.contains(text))
            continue;
        m_deleting.insert(text);
        m_unsentDeletes.append(text);
    }
}

void WallpaperHandler::storeDeletes()
{
    const QByteArray json = listToJson(QVariantList(m_deleting.cbegin(), m_deleting.cend()));
    DataInfoModel* dataInfo = m_account->dataInfoModel();
    ThreadManager::getInstance()->invoke([dataInfo, json] { dataInfo->saveWallpaperDeletes(json); },
                                         ThreadManager::onMainThread());
}

bool WallpaperHandler::loadLocalData(bool alreadyLoaded)
{
    if (alreadyLoaded || m_localLoading)
        return true;
    m_localLoading = true;
    // The rows are read on a worker's own connection, alongside the preference store's read, but
    // only once the writes already posted to the storage thread are made.
    QPointer<WallpaperHandler> self(this);
    ThreadManager::getInstance()->invoke(
        [self, generation = m_generation.current()] {
            QMetaObject::invokeMethod(
                self,
                [self, generation] {
                    if (self->m_generation.isCurrent(generation) && !self->isClearing())
                        self->m_loadFuture =
                            QtConcurrent::run([handler = self.data(), dark = self->m_model->darkMode(),
                                               generation] { handler->runLocalLoad(dark, generation); });
                },
                Qt::QueuedConnection);
        },
        ThreadManager::onMainThread());
    return true;
}

void WallpaperHandler::runLocalLoad(bool dark, quint64 generation)
{
    storage::UserStorageProvider* provider = m_account->storage();
    const QList<storage::WallpaperInfo> infos = provider->wallpaperStorage()->allInfos();
    QList<WallpaperItemPtr> list;
    QStringList missing;
    QStringList unsynced;
    for (const storage::WallpaperInfo& info : infos) {
        if (isClearing())
            return;
        im::WallPaper message;
        if (!parseMessage(message, info.data)) {
            qCDebug(lcSettingModel) << "skipping a stored wallpaper that does not parse:" << info.id;
            continue;
        }
        const WallpaperItemPtr item = adopt(new WallpaperItem(m_account, message));
        if (item->wallpaperId().isEmpty())
            item->setWallpaperId(info.id);
        item->downloadFileIds(missing);
        if (!info.synced) {
            item->setUnsynced(true);
            unsynced.append(item->wallpaperId());
        }
        list.append(item);
    }
    sortFor(list, dark);
    missing.removeDuplicates();
    moveToMain(list);
    post(generation, [this, list, unsynced, dark, missing, cache = provider->cacheFileStorage()]() mutable {
        m_localLoading = false;
        // The order depends on the dark mode, which may have changed while the list was made.
        if (m_model->darkMode() != dark)
            sortFor(list, m_model->darkMode());
        // What a page or a push deleted while the rows were read stays deleted.
        if (!m_deletedWhileLoading.isEmpty()) {
            const QSet<QString> deleted = std::exchange(m_deletedWhileLoading, {});
            list.removeIf([this, &deleted](const WallpaperItemPtr& item) {
                if (!deleted.contains(item->wallpaperId()))
                    return false;
                discardFiles(item.data());
                return true;
            });
            unsynced.removeIf([&deleted](const QString& id) { return deleted.contains(id); });
            removeRecords(QStringList(deleted.cbegin(), deleted.cend()));
        }
        m_model->append(list);
        for (const QString& id : std::as_const(unsynced))
            markUploadFailed(id, true);
        // The missing files' cache times are written once the list is shown, not in the midst of
        // the load (the account's clock is read on its own thread).
        if (!missing.isEmpty()) {
            const qint64 now = m_account->currentTime();
            ThreadManager::getInstance()->invoke(
                [cache, missing, now] { cache->updateTimestamp(missing, now); },
                ThreadManager::onMainThread());
        }
        // Asked for news before the list was here: what it needs is done now.
        if (m_fetched) {
            autoDownload();
            reuploadFailed();
        }
    });
}

void WallpaperHandler::getNewData()
{
    m_fetched = true;
    if (!m_unsentDeletes.isEmpty())
        sendDeletes(std::exchange(m_unsentDeletes, {}));
    m_cmd->listReq(m_account->dataInfoModel()->wallpaperOffset());
    post([this] { autoDownload(); });
    if (!m_failedUploads.isEmpty())
        post([this] { reuploadFailed(); });
}

bool WallpaperHandler::prepareToClearData(bool force)
{
    Q_UNUSED(force)
    setClearing(true);
    m_generation.advance();
    m_loadFuture.cancel();
    m_loadFuture.waitForFinished();
    m_addFuture.waitForFinished();
    m_localLoading = false;
    m_listFuture.cancel();
    m_listFuture.waitForFinished();
    m_fileLooker.waitForDone();
    m_pageInProgress = false;
    m_listAgain = false;
    m_pushedWhilePaging.clear();
    m_deletedWhileLoading.clear();
    m_failedUploads.clear();
    m_loadedWallpaper.reset();
    m_pendingWallpaper.reset();
    m_loading = false;
    return true;
}

bool WallpaperHandler::clearData(bool force)
{
    Q_UNUSED(force)
    m_model->reset();
    m_cancelledUploads.clear();
    m_refusedUploads.clear();
    m_saving.clear();
    m_savesSent.clear();
    m_unsentDeletes.clear();
    m_deleting.clear();
    m_fetched = false;
    return true;
}

// ---- the server's list ----

void WallpaperHandler::listResp(const im::wallpaper::ListWallPapersResp& resp, qint64 askedOffset)
{
    startListPage(
        [resp](im::wallpaper::ListWallPapersResp& page) {
            page = resp;
            return true;
        },
        askedOffset);
}

void WallpaperHandler::listAnswer(const QByteArray& body, qint64 askedOffset)
{
    startListPage([body](im::wallpaper::ListWallPapersResp& page) { return parseMessage(page, body); },
                  askedOffset);
}

bool WallpaperHandler::startListPage(std::function<bool(im::wallpaper::ListWallPapersResp&)> read,
                                     qint64 askedOffset)
{
    if (isClearing())
        return false;
    if (m_pageInProgress) {
        // Asked for while a page is applied: asked again once it is in, from where it led.
        m_listAgain = true;
        return false;
    }
    m_pageInProgress = true;
    const bool intoEmpty = m_model->count() == 0;
    m_listFuture = QtConcurrent::run([this, read = std::move(read), intoEmpty, dark = m_model->darkMode(),
                                      generation = m_generation.current(), askedOffset] {
        // Read into an arena: the page is let go on the main thread as a few blocks, not as the
        // thousands of pieces of its wallpapers.
        auto arena = std::make_shared<google::protobuf::Arena>();
        auto* page = google::protobuf::Arena::CreateMessage<im::wallpaper::ListWallPapersResp>(arena.get());
        if (read(*page)) {
            runListPage(arena, *page, intoEmpty, dark, generation, askedOffset);
            return;
        }
        // Nothing to place: the next page may come.
        post(generation, [this, askedOffset] {
            m_pageInProgress = false;
            if (std::exchange(m_listAgain, false))
                m_cmd->listReq(askedOffset);
        });
    });
    return true;
}

void WallpaperHandler::runListPage(const std::shared_ptr<google::protobuf::Arena>& arena,
                                   const im::wallpaper::ListWallPapersResp& page, bool intoEmpty, bool dark,
                                   quint64 generation, qint64 askedOffset)
{
    DroppedInput dropped("a page of the wallpaper list");
    QList<storage::WallpaperInfo> records;
    QStringList deleted;
    QList<PageWallpaper> wallpapers;
    QSet<QString> seen;
    for (const im::WallPaper& wallpaper : page.wallpapers()) {
        if (isClearing())
            return;
        const QString id = WallpaperItem::idOf(wallpaper);
        if (!id.isEmpty() && seen.contains(id)) {
            DroppedInput::note("a wallpaper listed twice", id);
            continue;
        }
        seen.insert(id);
        if (wallpaper.deleted()) {
            deleted.append(id);
            continue;
        }
        if (id.isEmpty()) {
            DroppedInput::note("a wallpaper without an id", QString::fromStdString(wallpaper.local_id()));
            continue;
        }
        records.append(recordOf(wallpaper, id));
        // Its items are made on the main thread as they are placed, so that the memory of the
        // versions they replace later goes back where it came from; what is costly to work out
        // (a preset's picture) is done here.
        wallpapers.append(
            {&wallpaper, WallpaperItem::presetDarkOf(wallpaper),
             intoEmpty ? WallpaperItem::sortKeyOf(m_account, wallpaper) : WallpaperItem::SortKey()});
    }
    if (intoEmpty)
        sortPage(wallpapers, dark);
    post(generation, [this, arena, records, deleted, wallpapers, intoEmpty, dark, more = page.has_more(),
                      nextOffset = page.next_offset(), askedOffset, generation]() mutable {
        // The page was made before what was pushed or deleted here while it was made: those win,
        // and the page's records of them are not written.
        QList<storage::WallpaperInfo> saves;
        if (m_pushedWhilePaging.isEmpty() && m_deleting.isEmpty()) {
            saves = records;
        } else {
            for (const storage::WallpaperInfo& record : std::as_const(records)) {
                if (!newerThanPage(record.id))
                    saves.append(record);
            }
        }
        deleted.erase(std::remove_if(deleted.begin(), deleted.end(),
                                     [this](const QString& id) { return m_pushedWhilePaging.contains(id); }),
                      deleted.end());
        // An offset below zero is nothing to ask from again.
        storeRecords(saves, deleted, nextOffset >= 0 ? std::optional<qint64>(nextOffset) : std::nullopt);
        if (intoEmpty && m_model->darkMode() != dark)
            sortPage(wallpapers, m_model->darkMode());
        // Room for a page larger than the list at once: a table growing by doubling would copy
        // itself in the middle of a slice. (A smaller one is mostly new versions of listed ones.)
        if (wallpapers.size() > m_model->count())
            m_model->reserve(m_model->count() + wallpapers.size());
        auto placing = std::make_shared<PagePlacing>();
        placing->arena = arena;
        placing->wallpapers = std::move(wallpapers);
        placing->deleted = std::move(deleted);
        placing->more = more;
        placing->nextOffset = nextOffset;
        placing->askedOffset = askedOffset;
        post(generation, [this, placing, generation] { placePage(placing, generation); });
    });
}

void WallpaperHandler::sortPage(QList<PageWallpaper>& wallpapers, bool dark)
{
    std::stable_sort(wallpapers.begin(), wallpapers.end(),
                     [dark](const PageWallpaper& a, const PageWallpaper& b) {
                         return WallpaperItem::greater(a.key, b.key, dark);
                     });
}

void WallpaperHandler::dropDeleted(const QString& id)
{
    if (m_localLoading)
        m_deletedWhileLoading.insert(id);
    if (const WallpaperItemPtr item = m_model->itemPtr(id)) {
        discardFiles(item.data());
        markUploadFailed(id, false);
        m_model->removeById(id);
    }
}

bool WallpaperHandler::newerThanPage(const QString& id) const
{
    return m_pushedWhilePaging.contains(id) || m_deleting.contains(id);
}

void WallpaperHandler::placePage(const std::shared_ptr<PagePlacing>& placing, quint64 generation)
{
    // In slices, each well within a frame: a page of thousands never stalls the interface. What
    // is pushed or deleted meanwhile still wins over the page.
    QElapsedTimer spent;
    spent.start();
    qint64 lastSlice = 0;
    while (placing->next < placing->wallpapers.size()) {
        // Another slice only when it fits, judged by the last one.
        if (lastSlice > 0 && spent.nsecsElapsed() + kPageSliceNs > kPageEventNs) {
            post(generation, [this, placing, generation] { placePage(placing, generation); });
            return;
        }
        const qint64 sliceStart = spent.nsecsElapsed();
        const qsizetype end = std::min(placing->next + placing->sliceItems, placing->wallpapers.size());
        QList<WallpaperItemPtr> slice;
        slice.reserve(end - placing->next);
        for (qsizetype i = placing->next; i < end; ++i) {
            const PageWallpaper& wallpaper = placing->wallpapers.at(i);
            const WallpaperItemPtr item =
                adopt(new WallpaperItem(m_account, *wallpaper.message, nullptr, wallpaper.presetDark));
            // This device's own save, whose answer was lost, comes back under its local id.
            if (!newerThanPage(item->wallpaperId()) && !reconcile(item->message()))
                slice.append(item);
        }
        const qsizetype placed = end - placing->next;
        placing->next = end;
        m_model->replaceItems(slice);
        lastSlice = std::max<qint64>(1, spent.nsecsElapsed() - sliceStart);
        // The next slice sized to take about kPageSliceNs at the last one's cost per item, on this
        // machine and with this list; it grows by half at most, since the cost grows with the list.
        placing->sliceItems = std::clamp<qsizetype>(
            std::min<qsizetype>(placed + placed / 2 + 1,
                                qsizetype(double(placed) * kPageSliceNs / double(lastSlice))),
            kMinSliceItems, kMaxSliceItems);
    }
    m_pageInProgress = false;
    m_pushedWhilePaging.clear();
    for (const QString& id : std::as_const(placing->deleted))
        dropDeleted(id);
    const qint64 nextOffset = placing->nextOffset;
    if (placing->more && (nextOffset < 0 || nextOffset <= placing->askedOffset)) {
        DroppedInput::note("a next offset that does not advance (paging stopped)",
                           QStringLiteral("%1 after %2").arg(nextOffset).arg(placing->askedOffset));
        autoDownload();
    } else if (placing->more || std::exchange(m_listAgain, false)) {
        m_cmd->listReq(nextOffset);
    } else {
        autoDownload();
    }
}

bool WallpaperHandler::reconcile(const im::WallPaper& wallpaper)
{
    const QString id = QString::fromStdString(wallpaper.id());
    const QString localId = QString::fromStdString(wallpaper.local_id());
    if (localId.isEmpty() || localId == id || id.isEmpty())
        return false;
    const WallpaperItemPtr local = m_model->itemPtr(localId);
    if (!local || !local->unsynced())
        return false;
    if (const WallpaperItemPtr other = m_model->itemPtr(id);
        other && QString::fromStdString(other->message().local_id()) != localId) {
        qCWarning(lcSettingModel) << "a wallpaper record names" << localId << "as" << id
                                  << ", which is another listed wallpaper; both stay";
        return false;
    }
    updateItem(localId, id, wallpaper);
    return true;
}

// ---- adding ----

WallpaperItem* WallpaperHandler::add(const QString& path)
{
    if (m_localLoading || m_loading || isClearing())
        return nullptr;
    setLoading(true);
    const WallpaperItemPtr item = adopt(new WallpaperItem(m_account, true));
    item->setWallpaperId(Util::instance()->uuid());
    m_pendingWallpaper = item;
    m_addFuture = QtConcurrent::run([this, item, path, generation = m_generation.current()] {
        const MadeImage made = makeWallpaper(path);
        post(generation, [this, item, made] {
            applyImage(item, made);
            if (made.ok) {
                saveToDb(item.data());
                addWallpaper(item);
                return;
            }
            // Nothing usable came of the file: no wallpaper is stored or shown.
            setLoading(false);
            m_cancelledUploads.remove(item->wallpaperId());
            if (m_pendingWallpaper == item)
                m_pendingWallpaper.reset();
            settingmodel::reportFailure(m_account, 0, qtTrId("wallpaper_file_format_error"));
        });
    });
    return item.data();
}

WallpaperHandler::MadeImage WallpaperHandler::makeWallpaper(const QString& path) const
{
    MadeImage made;
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    reader.setAutoDetectImageFormat(true);
    reader.setQuality(100);
    const QString format = QString::fromLatin1(reader.format()).toLower();
    if (format.isEmpty() || !ModelBaseUtil::wallpaperFormat().contains(format, Qt::CaseInsensitive)) {
        qCDebug(lcSettingModel) << "not a wallpaper image:" << path << format;
        return made;
    }
    QString imagePath = AppDirManager::tempDir() + Util::instance()->uuid() + QLatin1Char('.') + format;
    QString thumbPath = AppDirManager::tempDir() + Util::instance()->uuid() + QLatin1Char('.') + format;
    QSize size;
    QSize thumbSize;
    // A file that names an image format but does not decode (cut short, damaged) is refused too.
    if (!Util::instance()->scaleImage(path, size, thumbSize, imagePath, thumbPath, made.thumbBytes, false,
                                      kMaxSide, kThumbSide, kThumbQuality)) {
        qCDebug(lcSettingModel) << "the image does not decode:" << path;
        return made;
    }
    made.brightness = Util::instance()->bright(made.thumbBytes);
    FileManager* files = m_account->fileManager();
    QVariantMap map{{QStringLiteral("filePath"), imagePath.isEmpty() ? path : imagePath},
                    {QStringLiteral("fileId"), Util::instance()->uuid()},
                    {QStringLiteral("aesKey"), key64()}};
    QList<FileDataPtr> records;
    if (!thumbPath.isEmpty()) {
        map.insert(QStringLiteral("thumbPath"), thumbPath);
        map.insert(QStringLiteral("thumbnailAesKey"), key64());
        map.insert(QStringLiteral("thumbnailId"), Util::instance()->uuid());
        made.thumb = files->createFileData(map, WallpaperItem::kFileType, true, WallpaperItem::kSourceType);
        files->addUploadId(made.thumb->fileId());
        records.append(made.thumb);
    }
    made.image = files->createFileData(map, WallpaperItem::kFileType, false, WallpaperItem::kSourceType);
    files->addUploadId(made.image->fileId());
    records.append(made.image);
    files->fileDataMgr()->saveFileInfos(records);
    made.ok = true;
    return made;
}

void WallpaperHandler::applyImage(const WallpaperItemPtr& item, const MadeImage& made)
{
    if (!made.ok)
        return;
    item->setLastUpdated(m_account->currentTime());
    item->setLoPhoto(made.thumb);
    item->setHiPhoto(made.image);
    item->setThumbBytes(made.thumbBytes);
    item->setUnsynced(true);
    item->setIsDark(made.brightness < 128);
}

void WallpaperHandler::addWallpaper(WallpaperItemPtr item)
{
    setLoading(false);
    if (!item)
        return;
    const QString id = item->wallpaperId();
    if (m_cancelledUploads.remove(id)) {
        if (FileManager* files = m_account->fileManager())
            files->uploadFileMgr()->cancelUpload(id, item->hiPhotoPtr(), item->loPhotoPtr(),
                                                 upload::CancelQuietly);
        removeRecords({id});
        return;
    }
    m_model->insert(item);
    uploadWallpaper(item);
    emit wallpaperIdChanged(QString(), id);
}

WallpaperItem* WallpaperHandler::createWallpaper()
{
    const WallpaperItemPtr item = adopt(new WallpaperItem(m_account, true));
    item->setWallpaperId(Util::instance()->uuid());
    item->setLastUpdated(m_account->currentTime());
    item->setUnsynced(true);
    m_pendingWallpaper = item;
    return item.data();
}

void WallpaperHandler::syncWallpaper()
{
    const WallpaperItemPtr item = m_pendingWallpaper;
    if (!item)
        return;
    saveToDb(item.data());
    m_model->insert(item);
    uploadWallpaper(item);
}

void WallpaperHandler::saveToDb(WallpaperItem* item)
{
    if (!item)
        return;
    storage::WallpaperInfo info;
    serializeInfo(item, info);
    storage::WallpaperStorage* table = m_account->storage()->wallpaperStorage();
    ThreadManager::getInstance()->invoke([table, info] { table->save(info); }, ThreadManager::onMainThread());
}

void WallpaperHandler::storeRecords(const QList<storage::WallpaperInfo>& saves, const QStringList& removed,
                                    std::optional<qint64> offset)
{
    // In the storage thread's order, so that a write decided later never lands before these; the
    // offset goes with its records.
    storage::WallpaperStorage* table = m_account->storage()->wallpaperStorage();
    DataInfoModel* dataInfo = m_account->dataInfoModel();
    ThreadManager::getInstance()->invoke(
        [table, dataInfo, saves, removed, offset] {
            if (!saves.isEmpty())
                table->save(saves);
            if (!removed.isEmpty())
                table->remove(removed);
            if (offset)
                dataInfo->saveWallpaperOffset(*offset);
        },
        ThreadManager::onMainThread());
}

void WallpaperHandler::removeRecords(const QStringList& ids)
{
    storage::WallpaperStorage* table = m_account->storage()->wallpaperStorage();
    ThreadManager::getInstance()->invoke([table, ids] { table->remove(ids); }, ThreadManager::onMainThread());
}

// ---- uploading and saving ----

void WallpaperHandler::uploadWallpaper(const WallpaperItemPtr& item)
{
    FileManager* files = m_account->fileManager();
    const UploadMultiFileFilterPtr filter =
        files ? files->makeFilter(item->hiPhotoPtr(), item->loPhotoPtr()) : nullptr;
    if (!filter) {
        sendSave(item.data());
        return;
    }
    QPointer<WallpaperHandler> self(this);
    const quint64 generation = m_generation.current();
    filter->ownerId = item->wallpaperId();
    filter->callback = [self, generation, item](int stage, int status) {
        if (!self || !self->m_generation.isCurrent(generation) || self->isClearing())
            return;
        if (stage == upload::Prepared)
            self->saveToDb(item.data());
        else if (stage == upload::Finished)
            self->uploadFinish(item, status);
    };
    files->uploadMultiFile(filter, upload::Normal);
}

void WallpaperHandler::uploadFinish(const WallpaperItemPtr& item, int code)
{
    const QString id = item->wallpaperId();
    if (code == upload::Failed) {
        item->setUnsynced(true);
        markUploadFailed(id, true);
        return;
    }
    markUploadFailed(id, false);
    if (m_cancelledUploads.remove(id)) {
        deleteWallpaper(id);
    } else if (code != upload::Ok) {
        // Refused for good: retrying would not help, so the wallpaper goes, and the user is told.
        discardFiles(item.data());
        m_model->removeById(id);
        removeRecords({id});
        settingmodel::reportFailure(m_account, code, qtTrId("upload_failed"));
    } else {
        sendSave(item.data());
    }
    reuploadFailed();
}

void WallpaperHandler::sendSave(WallpaperItem* item)
{
    im::WallPaper message;
    item->serialize(&message, true);
    m_saving.insert(item->wallpaperId());
    m_savesSent.insert(item->wallpaperId());
    m_cmd->saveReq(message, item->wallpaperId());
}

void WallpaperHandler::saveResp(int code, const QByteArray& body, const QString& localId)
{
    if (isClearing())
        return;
    m_saving.remove(localId);
    im::wallpaper::SaveWallPaperResp resp;
    const bool saved = code == 0 && parseMessage(resp, body) && resp.has_wallpaper();
    if (m_cancelledUploads.remove(localId)) {
        // Deleted while the save was on its way: the server's copy goes as well.
        if (saved && !resp.wallpaper().id().empty())
            sendDelete(QString::fromStdString(resp.wallpaper().id()));
        else if (!saved && code != kConflict && code != kUnprocessable && m_savesSent.remove(localId))
            // Lost on the way back, or failed after storing: the server may know it by its local id.
            sendDelete(localId);
        deleteWallpaper(localId);
        return;
    }
    if (!saved) {
        if (code == 0)
            qCWarning(lcSettingModel) << "a save answer without a wallpaper:" << localId;
        const WallpaperItemPtr item = m_model->itemPtr(localId);
        if (!item)
            return;
        item->setUnsynced(true);
        if (code == kConflict || code == kUnprocessable) {
            // Refused for good (the user's limit, an unreadable image): not retried until the user
            // asks again, and the user is told why.
            markUploadFailed(localId, false);
            m_refusedUploads.insert(localId);
            settingmodel::reportFailure(
                m_account, code,
                qtTrId(code == kConflict ? "wallpaper_limit_reached" : "wallpaper_file_format_error"));
            return;
        }
        markUploadFailed(localId, true);
        return;
    }
    // The answer is for the save this device sent: another local id it echoes names nothing here.
    const QString echoed = QString::fromStdString(resp.wallpaper().local_id());
    if (!echoed.isEmpty() && echoed != localId)
        qCWarning(lcSettingModel) << "a save answer for" << localId << "echoes" << echoed << "; taken as"
                                  << localId;
    updateItem(localId, QString::fromStdString(resp.wallpaper().id()), resp.wallpaper());
}

void WallpaperHandler::updateItem(const QString& localId, const QString& serverId,
                                  const im::WallPaper& message)
{
    const WallpaperItemPtr item = m_model->itemPtr(localId);
    if (!item || serverId.isEmpty())
        return;
    storage::WallpaperStorage* table = m_account->storage()->wallpaperStorage();
    const storage::WallpaperInfo info = recordOf(message, serverId);
    ThreadManager::getInstance()->invoke(
        [table, localId, info] {
            table->remove(localId);
            table->save(info);
        },
        true);
    item->setWallpaperId(serverId);
    item->setLastUpdated(message.update_time());
    item->setUnsynced(false);
    m_savesSent.remove(localId);
    markUploadFailed(localId, false);
    m_model->renameItem(localId, serverId);
    emit wallpaperIdChanged(localId, serverId);
}

void WallpaperHandler::reupload(const QString& id)
{
    markUploadFailed(id, false);
    m_refusedUploads.remove(id);
    if (const WallpaperItemPtr item = m_model->itemPtr(id))
        uploadWallpaper(item);
}

void WallpaperHandler::reuploadFailed()
{
    while (!m_failedUploads.isEmpty()) {
        const QString id = m_failedUploads.takeFirst();
        if (const WallpaperItemPtr item = m_model->itemPtr(id)) {
            uploadWallpaper(item);
            return;
        }
    }
}

// ---- deleting ----

void WallpaperHandler::cancelUpload(const QString& id)
{
    m_cancelledUploads.insert(id);
    deleteWallpaper(id);
}

void WallpaperHandler::discardFiles(const WallpaperItem* item) const
{
    FileManager* files = m_account->fileManager();
    if (!files || item->internalPattern())
        return;
    if (const FileDataPtr lo = item->loPhotoPtr())
        files->discardFile(lo);
    if (const FileDataPtr hi = item->hiPhotoPtr(); hi && hi != item->loPhotoPtr())
        files->discardFile(hi);
}

void WallpaperHandler::takeDown(const QString& id, bool keepCancelled, QStringList* sendTo)
{
    const WallpaperItemPtr item = m_model->itemPtr(id);
    if (!item)
        return;
    if (item->unsynced()) {
        // Its files go, on the server too when their upload finished.
        if (FileManager* files = m_account->fileManager())
            files->uploadFileMgr()->cancelUpload(id, item->hiPhotoPtr(), item->loPhotoPtr(),
                                                 upload::CancelQuietly);
        discardFiles(item.data());
        if (m_saving.contains(id)) {
            // Its save is on its way: the answer deletes the server's copy.
            m_cancelledUploads.insert(id);
        } else {
            if (!keepCancelled)
                m_cancelledUploads.remove(id);
            // A save sent before whose answer was lost may have been stored: the server knows it
            // by this local id, and deletes it by that too.
            if (m_savesSent.remove(id)) {
                if (sendTo)
                    sendTo->append(id);
                else
                    sendDelete(id);
            }
        }
    } else {
        discardFiles(item.data());
        if (sendTo)
            sendTo->append(id);
        else
            sendDelete(id);
    }
    m_model->removeById(id);
}

void WallpaperHandler::sendDelete(const QString& id)
{
    m_deleting.insert(id);
    storeDeletes();
    m_cmd->deleteReq(id);
}

void WallpaperHandler::sendDeletes(const QStringList& ids)
{
    for (const QString& id : ids)
        m_deleting.insert(id);
    storeDeletes();
    m_cmd->deleteReq(ids);
}

void WallpaperHandler::deleteWallpaper(const QString& id)
{
    markUploadFailed(id, false);
    takeDown(id, false, nullptr);
    removeRecords({id});
}

void WallpaperHandler::deleteWallpapers(const QStringList& ids)
{
    for (const QString& id : ids)
        markUploadFailed(id, false);
    QStringList synced;
    for (const QString& id : ids)
        takeDown(id, true, &synced);
    if (!synced.isEmpty())
        sendDeletes(synced);
    removeRecords(ids);
}

void WallpaperHandler::deleteResp(const im::wallpaper::DeleteWallPaperReq& resp)
{
    Q_UNUSED(resp)
}

void WallpaperHandler::deleteAnswered(const QStringList& ids, int code)
{
    if (isClearing())
        return;
    if (code < 0 || code >= kServerError) {
        for (const QString& id : ids) {
            if (!m_unsentDeletes.contains(id))
                m_unsentDeletes.append(id);
        }
        return;
    }
    for (const QString& id : ids)
        m_deleting.remove(id);
    storeDeletes();
    if (code == 0 || code == kNotFound)
        return;
    qCWarning(lcSettingModel) << "the server refused to delete the wallpapers" << ids << "with code" << code;
    for (const QString& id : ids)
        bringBack(id);
    settingmodel::reportFailure(m_account, code, qtTrId("wallpaper_delete_refused"));
}

void WallpaperHandler::bringBack(const QString& id)
{
    QPointer<WallpaperHandler> self(this);
    m_cmd->getReq(id, [self, generation = m_generation.current()](int code, const QByteArray& body) {
        im::wallpaper::GetWallPaperResp resp;
        if (!self || !self->m_generation.isCurrent(generation) || code != 0 || !parseMessage(resp, body) ||
            !resp.has_wallpaper() || resp.wallpaper().deleted())
            return;
        const QString id = QString::fromStdString(resp.wallpaper().id());
        // Deleted again meanwhile: that delete decides.
        if (id.isEmpty() || self->m_deleting.contains(id))
            return;
        const WallpaperItemPtr item = self->adopt(new WallpaperItem(self->m_account, resp.wallpaper()));
        self->storeRecords({recordOf(resp.wallpaper(), id)}, {}, std::nullopt);
        self->m_model->replaceItem(item);
        QStringList missing;
        item->downloadFileIds(missing);
        self->download(missing);
    });
}

// ---- reset and pushes ----

void WallpaperHandler::resetWallpaper()
{
    m_cmd->resetReq();
}

void WallpaperHandler::resetResp(const im::wallpaper::ResetWallPapersResp& resp)
{
    if (isClearing())
        return;
    storage::WallpaperStorage* table = m_account->storage()->wallpaperStorage();
    ThreadManager::getInstance()->invoke([table] { table->removeAll(); }, true);
    QStringList ownFiles;
    FileManager* files = m_account->fileManager();
    m_model->removeOwnerItems([&ownFiles, files, this](const WallpaperItemPtr& item) {
        const QString id = item->wallpaperId();
        item->getFileIds(ownFiles);
        discardFiles(item.data());
        markUploadFailed(id, false);
        m_refusedUploads.remove(id);
        if (item->unsynced()) {
            // An upload or save on its way would bring the wallpaper back on every device: the
            // save's answer deletes the server's copy, an upload is stopped.
            m_cancelledUploads.insert(id);
            if (files && !m_saving.contains(id))
                files->uploadFileMgr()->cancelUpload(id, item->hiPhotoPtr(), item->loPhotoPtr(),
                                                     upload::CancelQuietly);
        }
    });
    if (files && !ownFiles.isEmpty())
        files->fileServiceCmd()->deleteFiles(ownFiles);

    QList<storage::WallpaperInfo> saves;
    QStringList removed;
    QStringList missing;
    for (const im::WallPaper& wallpaper : resp.wallpapers()) {
        const QString id = QString::fromStdString(wallpaper.id());
        if (wallpaper.deleted()) {
            removed.append(id);
            if (wallpaper.is_preset()) {
                const WallpaperItemPtr listed = m_model->itemPtr(id);
                const WallpaperItemPtr item =
                    listed ? listed : adopt(new WallpaperItem(m_account, wallpaper));
                discardFiles(item.data());
            }
            m_model->removeById(id);
            continue;
        }
        const WallpaperItemPtr item = adopt(new WallpaperItem(m_account, wallpaper));
        if (item->wallpaperId().isEmpty())
            continue;
        saves.append(recordOf(wallpaper, item->wallpaperId()));
        item->downloadFileIds(missing);
        m_model->replaceItem(item);
    }
    storeRecords(saves, removed, resp.offset());
    download(missing);
}

void WallpaperHandler::wallpaperUpdateNotif(const im::notif::WallpaperUpdatedNotif& notif)
{
    if (isClearing())
        return;
    QList<storage::WallpaperInfo> saves;
    QStringList removed;
    QStringList missing;
    for (const im::WallPaper& wallpaper : notif.wallpapers()) {
        const QString id = QString::fromStdString(wallpaper.id());
        if (m_pageInProgress)
            m_pushedWhilePaging.insert(id);
        if (!wallpaper.deleted() && (m_deleting.contains(id) || reconcile(wallpaper)))
            continue;
        if (wallpaper.deleted()) {
            dropDeleted(id);
            removed.append(id);
            continue;
        }
        const WallpaperItemPtr item = adopt(new WallpaperItem(m_account, wallpaper));
        if (item->wallpaperId().isEmpty())
            continue;
        item->downloadFileIds(missing);
        saves.append(recordOf(wallpaper, item->wallpaperId()));
        m_model->replaceItem(item);
    }
    storeRecords(saves, removed, std::nullopt);
    download(missing);
}

// ---- files ----

void WallpaperHandler::download(QStringList fileIds) const
{
    FileManager* files = m_account->fileManager();
    fileIds.removeDuplicates();
    if (files && !fileIds.isEmpty())
        files->downloadFileMgr()->downloads(fileIds, false, false, true);
}

void WallpaperHandler::autoDownload()
{
    // The list's own copy (a shared one would make the model's next change copy the list), read
    // in slices: each item is looked at where it lies in memory, and thousands would hold this
    // thread for longer than a frame.
    const QList<WallpaperItemPtr>& listed = m_model->items();
    auto items = std::make_shared<QList<WallpaperItemPtr>>(listed.cbegin(), listed.cend());
    lookForFiles(items, 0, {});
}

void WallpaperHandler::lookForFiles(const std::shared_ptr<QList<WallpaperItemPtr>>& items, qsizetype from,
                                    QList<WallpaperItem::FilePlace> places)
{
    const qsizetype end = std::min(from + kFileLookItems, items->size());
    for (qsizetype i = from; i < end; ++i)
        items->at(i)->filePlaces(places);
    if (end < items->size()) {
        post([this, items, end, places = std::move(places)]() mutable {
            lookForFiles(items, end, std::move(places));
        });
        return;
    }
    if (places.isEmpty())
        return;
    // Whether the files are there is asked of the disk on a worker.
    m_fileLooker.start([this, places = std::move(places), generation = m_generation.current()] {
        QStringList missing;
        for (const WallpaperItem::FilePlace& place : places) {
            if (isClearing())
                return;
            if (!FileData::existsAt(place.cacheFilePath, place.filePath))
                missing.append(place.fileId);
        }
        if (!missing.isEmpty())
            post(generation, [this, missing] { download(missing); });
    });
}

void WallpaperHandler::loadWallpaper(ThemeComponentItem* themeComp, const QString& wallpaperId)
{
    if (!themeComp)
        return;
    // The half's copy shares the wallpaper's files, which are fetched with it.
    QPointer<ThemeComponentItem> half(themeComp);
    loadWallpaper(wallpaperId, [half](const WallpaperItemPtr& wallpaper) {
        if (half)
            half->setWallpaperItem(wallpaper.data());
    });
}

void WallpaperHandler::loadWallpaper(const QString& wallpaperId,
                                     const std::function<void(const WallpaperItemPtr&)>& give)
{
    if (wallpaperId.isEmpty() || !give)
        return;
    if (m_loadedWallpaper && m_loadedWallpaper->wallpaperId() == wallpaperId) {
        give(m_loadedWallpaper);
        m_loadedWallpaper->downloadFile(m_account);
        return;
    }
    if (const WallpaperItemPtr listed = m_model->itemPtr(wallpaperId)) {
        m_loadedWallpaper = listed;
        give(listed);
        listed->downloadFile(m_account);
        return;
    }
    QPointer<WallpaperHandler> self(this);
    const quint64 generation = m_generation.current();
    m_cmd->getReq(wallpaperId, [self, generation, give](int code, const QByteArray& body) {
        im::wallpaper::GetWallPaperResp resp;
        if (!self || !self->m_generation.isCurrent(generation) || code != 0 || !parseMessage(resp, body) ||
            !resp.has_wallpaper())
            return;
        const WallpaperItemPtr item = self->adopt(new WallpaperItem(self->m_account, resp.wallpaper()));
        self->m_loadedWallpaper = item;
        give(item);
        item->downloadFile(self->m_account);
    });
}
