#pragma once

#include "generation.h"
#include "host/modelbase.h"
#include "settingmodel_global.h"
#include "wallpapers/wallpapermodel.h"
#include "wallpapers/wallpaperservicecmd.h"

#include <google/protobuf/arena.h>

#include <QFuture>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QThreadPool>
#include <QtQml/qqmlregistration.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class AccountBase;
class ThemeComponentItem;
namespace storage {
struct WallpaperInfo;
}
namespace im::wallpaper {
class ListWallPapersResp;
class DeleteWallPaperReq;
class ResetWallPapersResp;
} // namespace im::wallpaper
namespace im::notif {
class WallpaperUpdatedNotif;
}

// The account's wallpapers: the local table kept in step with the list, the server's list paged
// in, picked images turned into wallpapers and uploaded (failed ones retried one at a time, also
// after a restart), deletion, a reset to the server's defaults, other devices' changes, and
// single wallpapers fetched for themes. Storage and image work run off the main thread; the
// list changes only on it.
class SETTINGMODEL_EXPORT WallpaperHandler : public QObject, public ModelBase {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("WallpaperHandler is made by the module")
    Q_PROPERTY(WallpaperModel* wallpaperModel READ wallpaperModel CONSTANT)
    Q_PROPERTY(WallpaperFilterModel* patternModel READ patternModel CONSTANT)
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
public:
    // The sides of a wallpaper's image and thumbnail, and the thumbnail's quality.
    static constexpr int kMaxSide = 4096;
    static constexpr int kThumbSide = 160;
    static constexpr int kThumbQuality = 42;

    explicit WallpaperHandler(AccountBase* account);
    ~WallpaperHandler() override;

    WallpaperModel* wallpaperModel() const { return m_model; }
    WallpaperFilterModel* patternModel() const { return m_patternModel; }
    bool loading() const { return m_loading; }
    // Whether the local copy is still being read: an add waits for it.
    bool isLocalLoading() const { return m_localLoading; }

    // A new wallpaper from an image file, listed once its image is ready and uploaded from
    // there; null while the local load or another add runs.
    Q_INVOKABLE WallpaperItem* add(const QString& path);
    Q_INVOKABLE void addWallpaper(WallpaperItemPtr item);
    // A new wallpaper of colours only, listed and saved by syncWallpaper.
    Q_INVOKABLE WallpaperItem* createWallpaper();
    Q_INVOKABLE void syncWallpaper();
    Q_INVOKABLE void deleteWallpaper(const QString& id);
    Q_INVOKABLE void deleteWallpapers(const QStringList& ids);
    Q_INVOKABLE void cancelUpload(const QString& id);
    Q_INVOKABLE void resetWallpaper();
    Q_INVOKABLE void reupload(const QString& id);
    Q_INVOKABLE void reuploadFailed();
    Q_INVOKABLE void autoDownload();
    // Gives a theme's half (a copy of) the wallpaper of this id, as below.
    Q_INVOKABLE void loadWallpaper(ThemeComponentItem* themeComp, const QString& wallpaperId);
    // Gives the wallpaper of this id to give (on this thread): the one fetched last, the listed
    // one, or the server's; its files are downloaded when missing. Nothing for an empty id, or
    // when the server has none.
    void loadWallpaper(const QString& wallpaperId, const std::function<void(const WallpaperItemPtr&)>& give);

    // Answers of the wallpaper commands, and the push of another device's changes.
    // askedOffset: the offset the page was asked from (a page must lead past it); -1 unknown.
    void listResp(const im::wallpaper::ListWallPapersResp& resp, qint64 askedOffset = -1);
    // The same from the answer's bytes, read off this thread (a page may hold thousands).
    void listAnswer(const QByteArray& body, qint64 askedOffset);
    void saveResp(int code, const QByteArray& body, const QString& localId);
    void deleteResp(const im::wallpaper::DeleteWallPaperReq& resp);
    // Every answer to a delete, code < 0 for the network's failures. A delete the server never
    // carried out (offline, no answer, a passing server failure) is sent again with the next
    // request for news, so that the server does not keep what every device has let go; one it
    // refused brings the wallpaper back, and the user is told.
    void deleteAnswered(const QStringList& ids, int code);
    QStringList unsentDeletes() const { return m_unsentDeletes; }
    // Ids whose delete is sent or waits to be sent: a page or a push does not bring them back.
    QSet<QString> deleting() const { return m_deleting; }
    void resetResp(const im::wallpaper::ResetWallPapersResp& resp);
    void wallpaperUpdateNotif(const im::notif::WallpaperUpdatedNotif& notif);

    // Ids whose upload or save failed, oldest first; ids cancelled while their upload ran.
    QStringList failedUploads() const { return m_failedUploads; }
    QSet<QString> cancelledUploads() const { return m_cancelledUploads; }
    // Ids the server refused for good (the user's limit, an unreadable image): listed, unsynced,
    // and not retried until reupload.
    QSet<QString> refusedUploads() const { return m_refusedUploads; }
    WallpaperServiceCmd* serviceCmd() const { return m_cmd.get(); }

    // The table record of an item.
    static void serializeInfo(WallpaperItem* item, storage::WallpaperInfo& info);
    // Makes the wallpaper and theme types known to the meta-type system (queued connections, QML
    // arguments) under the names their signatures use; uri is not used.
    static void registerMetaType(const char* uri);

    void initData() override;
    bool loadLocalData(bool alreadyLoaded) override;
    bool prepareToClearData(bool force) override;
    bool clearData(bool force) override;
    void getNewData() override;

signals:
    void loadingChanged();
    void wallpaperIdChanged(const QString& oldId, const QString& newId);
    void startDestroy();

private:
    struct MadeImage;
    void setLoading(bool loading);
    // Runs step on this thread, unless the data it belongs to was cleared meanwhile.
    void post(std::function<void()> step);
    // From a task, with the generation it took when it started.
    void post(quint64 generation, std::function<void()> step);
    WallpaperItemPtr adopt(WallpaperItem* item) const;
    // Keeps the failed uploads and the item's own mark of it together.
    void markUploadFailed(const QString& id, bool failed);
    // Reads the stored wallpapers and makes their items, off this thread; then shows them.
    // Both make their lists in the order of the model's dark mode when they started.
    void runLocalLoad(bool dark, quint64 generation);
    void runListPage(const std::shared_ptr<google::protobuf::Arena>& arena,
                     const im::wallpaper::ListWallPapersResp& page, bool intoEmpty, bool dark,
                     quint64 generation, qint64 askedOffset);
    // A wallpaper of a page, in the page's arena, with what was worked out for it off this thread.
    struct PageWallpaper {
        const im::WallPaper* message = nullptr;
        std::optional<bool> presetDark;
        WallpaperItem::SortKey key; // only for a page into an empty list, which comes sorted
    };
    // One sort of a page; equals keep the order they came in.
    static void sortPage(QList<PageWallpaper>& wallpapers, bool dark);
    // Starts making a page off this thread from what read() gives; false when it waits.
    bool startListPage(std::function<bool(im::wallpaper::ListWallPapersResp&)> read, qint64 askedOffset);
    // A list page made off this thread, placed into the model here slice by slice.
    struct PagePlacing {
        std::shared_ptr<google::protobuf::Arena> arena;
        QList<PageWallpaper> wallpapers;
        qsizetype next = 0;
        QStringList deleted;
        bool more = false;
        qint64 nextOffset = 0;
        qint64 askedOffset = 0;
        qsizetype sliceItems = 8;
    };
    // A slice aims at 0.4 ms, starting small (a slice of changed versions, each made into an item
    // here and replacing one, costs far more per item than one of new wallpapers); one event
    // places slices while they fit in 1 ms, so the interface keeps most of each frame.
    static constexpr qint64 kPageSliceNs = 400'000;
    static constexpr qint64 kPageEventNs = 1'000'000;
    static constexpr qsizetype kMinSliceItems = 4;
    static constexpr qsizetype kMaxSliceItems = 4096;
    void placePage(const std::shared_ptr<PagePlacing>& placing, quint64 generation);
    // autoDownload's walk: the places of the files of items from `from` on, a slice per event.
    void lookForFiles(const std::shared_ptr<QList<WallpaperItemPtr>>& items, qsizetype from,
                      QList<WallpaperItem::FilePlace> places);
    static constexpr qsizetype kFileLookItems = 1000;
    // A wallpaper the server deleted leaves this device: its files, its failed upload, its row.
    void dropDeleted(const QString& id);
    // Pushed or deleted here while a list page was made or placed: newer than the page.
    bool newerThanPage(const QString& id) const;
    // A record of this device's own unsynced wallpaper under its server id (its save's answer was
    // lost, or another path brought it first): the listed one takes the id. False when the record
    // names no such wallpaper, or its id is another listed wallpaper.
    bool reconcile(const im::WallPaper& wallpaper);
    MadeImage makeWallpaper(const QString& path) const;
    void applyImage(const WallpaperItemPtr& item, const MadeImage& made);
    void saveToDb(WallpaperItem* item);
    void removeRecords(const QStringList& ids);
    void storeRecords(const QList<storage::WallpaperInfo>& saves, const QStringList& removed,
                      std::optional<qint64> offset);
    void uploadWallpaper(const WallpaperItemPtr& item);
    void uploadFinish(const WallpaperItemPtr& item, int code);
    void sendSave(WallpaperItem* item);
    void updateItem(const QString& localId, const QString& serverId, const im::WallPaper& message);
    void discardFiles(const WallpaperItem* item) const;
    // Takes a listed wallpaper down here, and on the server unless it never got there; its
    // synced id is added to sendTo instead of being sent when sendTo is given.
    void takeDown(const QString& id, bool keepCancelled, QStringList* sendTo);
    void sendDelete(const QString& id);
    // Keeps the deletes on their way in the account's data, for the next run.
    void storeDeletes();
    void sendDeletes(const QStringList& ids);
    // A wallpaper the server refused to delete, shown again as the server holds it.
    void bringBack(const QString& id);
    // Each id once, whatever the list repeats.
    void download(QStringList fileIds) const;

    AccountBase* m_account;
    WallpaperModel* m_model;
    WallpaperFilterModel* m_patternModel;
    std::unique_ptr<WallpaperServiceCmd> m_cmd;
    // Both only on this thread: the local load hands its unsynced ids over with its list.
    QStringList m_failedUploads;
    QSet<QString> m_cancelledUploads;
    QSet<QString> m_refusedUploads;
    // Ids a page or a push deleted while the local load read its rows.
    QSet<QString> m_deletedWhileLoading;
    // Local ids whose save the server has not answered yet.
    QSet<QString> m_saving;
    // Local ids whose save was sent at least once and is not known to be settled.
    QSet<QString> m_savesSent;
    QStringList m_unsentDeletes;
    QSet<QString> m_deleting;
    WallpaperItemPtr m_loadedWallpaper;
    WallpaperItemPtr m_pendingWallpaper;
    QFuture<void> m_loadFuture;
    QFuture<void> m_addFuture;
    QFuture<void> m_listFuture;
    QThreadPool m_fileLooker; // one thread, for autoDownload's look at the disk
    bool m_loading = false;
    // The local load runs, until its list is in the model.
    bool m_localLoading = false;
    // A list page is being applied, until its last step ran here; the next page waits for it.
    bool m_pageInProgress = false;
    // A page came while another was applied: the list is asked for again after it.
    bool m_listAgain = false;
    // Ids a push named while a page was made: the push is newer than the page.
    QSet<QString> m_pushedWhilePaging;
    bool m_fetched = false;
    // Counts sign-outs; what a task posts for an earlier one is dropped. Tasks read it.
    Generation m_generation;
};
