#include "notifications/ringtonemanager.h"
#include "device/audiomanage.h"
#include "notifications/groupmutedsettingmodel.h"

#include "host/accountbase.h"
#include "host/accountmanager.h"
#include "host/accountsettingmodel.h"
#include "host/constants.h"
#include "host/cryptoaes.h"
#include "host/dialogbase.h"
#include "host/jsonutil.h"
#include "host/storage.h"
#include "host/threadmanager.h"
#include "host/util.h"
#include "logging.h"
#include "moduleconstants.h"
#include "preferences/sharedpreferencemodel.h"
#include "preferences/sharedpreferenceowner.h"
#include "reports.h"

#include <QFileInfo>

#include <QJSEngine>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QtConcurrent>
#include <utility>

#include <algorithm>
#include <atomic>

namespace {

constexpr int kFirstServerError = 500;

const QString kContextFileId = QStringLiteral("fileId");
const QString kContextRemove = QStringLiteral("removeRingtone");
// A write of the list that carries what arrived while this device's add was on its way.
const QString kContextRewrite = QStringLiteral("rewrite");
const QString kChatDialogId = QStringLiteral("dialog_id");
const QStringList kOldClientFlags{QStringLiteral("at"), QStringLiteral("atAll"), QStringLiteral("reply")};

QString chatKey(const QString& dialogId)
{
    return kChatRingtoneKeyFormat.arg(dialogId);
}

QVariantMap playable(bool custom, const QString& ringtone)
{
    return {{QStringLiteral("iscustom"), custom}, {QStringLiteral("ringtone"), ringtone}};
}

} // namespace

RingtoneManager::RingtoneManager(AccountBase* account)
    : QObject(account),
      m_account(account),
      m_model(new RingtoneModel(account)),
      m_global(new GlobalRingtoneSetting(this))
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    m_model->setParent(this); // made for the account, owned here
}

RingtoneManager::~RingtoneManager()
{
    setClearing(true);
    QMutexLocker lock(&m_taskMutex);
    m_task.waitForFinished();
}

SharedPreferenceModel* RingtoneManager::store() const
{
    return qobject_cast<SharedPreferenceModel*>(m_account->sharedPreference());
}

void RingtoneManager::post(std::function<void()> step)
{
    m_generation.post(this, std::move(step));
}

void RingtoneManager::report(const char* id)
{
    // "..._tip" tells of something done; the rest of what the manager reports did not happen.
    if (QByteArray(id).endsWith("_tip"))
        settingmodel::reportTip(m_account, qtTrId(id));
    else
        settingmodel::reportFailure(m_account, 0, qtTrId(id));
}

bool RingtoneManager::isAdding() const
{
    QMutexLocker lock(&m_taskMutex);
    return m_task.isRunning();
}

void RingtoneManager::initConnection()
{
    SharedPreferenceModel* preferences = store();
    if (!preferences)
        return;
    SharedPreferenceOwner desktop;
    desktop.apply = [this](const QString&, const QByteArray& value, qint64, bool) {
        updateDesktopNotifyConfig(value);
        return true;
    };
    desktop.superseded = [this](const QString&, const QByteArray& value, qint64, const QVariantMap&) {
        updateDesktopNotifyConfig(value);
    };
    preferences->registerOwner(SharedPreferenceModel::DesktopNotification, this, desktop);

    SharedPreferenceOwner list;
    list.apply = [this](const QString&, const QByteArray& value, qint64, bool) {
        updateRingtones(value);
        return true;
    };
    list.confirmed = [this](const QString&, const QByteArray&, const QVariantMap& context) {
        syncFinish(context, true);
    };
    list.superseded = [this](const QString&, const QByteArray& value, qint64, const QVariantMap& context) {
        syncMergeList(value, context);
    };
    list.failed = [this](const QVariantMap& context, int code) {
        if (context.value(kContextRewrite).toBool() && code >= kFirstServerError)
            retryMergedLater();
        syncFinish(context, false);
    };
    preferences->registerOwner(SharedPreferenceModel::CustomRingtoneList, this, list);

    SharedPreferenceOwner chat;
    chat.apply = [this](const QString& key, const QByteArray& value, qint64 version, bool fromLocal) {
        updateRingtoneSetting(key, value, version, fromLocal);
        return true;
    };
    chat.loaded = [this](const QString& key, const QByteArray& value, qint64 version) {
        updateRingtoneSetting(key, value, version, true);
    };
    chat.superseded = [this](const QString&, const QByteArray& value, qint64, const QVariantMap& context) {
        syncMergeSetting(value, context);
    };
    // A refused write of a chat's choice: the chat goes back to what the server holds (nothing:
    // the global choice).
    chat.rolledBack = [this](const QString& key, const QByteArray& value, qint64 version) {
        updateRingtoneSetting(key, value.isEmpty() ? QByteArray("{}") : value, version, false);
    };
    preferences->registerOwner(SharedPreferenceModel::ChatRingtone, this, chat);
}

void RingtoneManager::initData()
{
    setClearing(false);
}

bool RingtoneManager::loadLocalData(bool alreadyLoaded)
{
    SharedPreferenceModel* preferences = store();
    if (!preferences)
        return false;
    disconnect(m_listFinished);
    m_listFinished = connect(preferences, &SharedPreferenceBase::listFinished, this,
                             &RingtoneManager::onListFinished, Qt::QueuedConnection);
    if (alreadyLoaded)
        return true;
    updateDesktopNotifyConfig(preferences->getKeyValue(QLatin1String(hostkeys::DESKTOP_NOTIFICATION)));
    bool ok = false;
    m_model->setItems(RingtoneModel::parse(
        preferences->getKeyValue(QLatin1String(hostkeys::CUSTOM_RINGTONE_LIST)), m_account, &ok));
    if (!ok)
        qCWarning(lcSettingModel) << "stored custom ringtone list is not a JSON list; dropped";
    forgetUnlisted();
    return true;
}

void RingtoneManager::forgetUnlisted()
{
    // An add lives in memory until its list is written: one a restart cut short left its file's
    // record, which nothing uploads or names any more. A listed one that only the server's list
    // knows yet gets its record again from that list.
    FileManager* files = m_account->fileManager();
    if (!files)
        return;
    QStringList unlisted;
    for (const QString& id : files->fileDataMgr()->fileIdsOfSource(CustomRingtoneItem::kSourceType)) {
        if (!m_model->containsItem(id))
            unlisted.append(id);
    }
    if (!unlisted.isEmpty())
        files->fileDataMgr()->deleteFilesAll(unlisted, true);
}

void RingtoneManager::onListFinished()
{
    // The list has been read from the server: a chat's custom choice missing from it is gone.
    m_listFromServer = true;
    const QStringList missing = m_model->missingFileIds();
    FileManager* files = m_account->fileManager();
    if (!missing.isEmpty() && files)
        files->downloadFileMgr()->downloads(missing, false, false, true);
}

bool RingtoneManager::prepareToClearData(bool force)
{
    Q_UNUSED(force)
    setClearing(true);
    m_generation.advance();
    QMutexLocker lock(&m_taskMutex);
    m_task.cancel();
    m_task.waitForFinished();
    return true;
}

bool RingtoneManager::clearData(bool force)
{
    Q_UNUSED(force)
    m_pendingAdds.clear();
    m_uploading.clear();
    m_downloadTries.clear();
    m_written.clear();
    m_mergedFailed = false;
    m_listFromServer = false;
    m_currentSetting = nullptr;
    // Out of the table before they go: what the interface asks as each is destroyed (a binding
    // that held it) finds none of them.
    qDeleteAll(std::exchange(m_settings, {}));
    m_model->clear();
    return true;
}

// ---- custom ringtones ----

bool RingtoneManager::atLimit()
{
    // Adds whose upload still runs count: two quick adds at 19 must not make 21.
    if (m_model->count() + m_uploading.size() < RingtoneModel::kMaxItems)
        return false;
    report("ringtone_limit_reached");
    return true;
}

void RingtoneManager::dropUnlisted(const FileDataPtr& file)
{
    // Its record, cached copy and upload id: a later download of the id is not blocked.
    if (FileManager* files = m_account->fileManager(); files && file)
        files->fileDataMgr()->deleteFileByRef(file, true);
}

void RingtoneManager::addRingtoneByPath(const QString& path)
{
    QMutexLocker lock(&m_taskMutex);
    if (m_task.isRunning() || atLimit())
        return;
    AccountBase* account = m_account;
    const bool online = account->isOnline();
    m_task = QtConcurrent::run([this, account, path, online, generation = m_generation.current()] {
        // Reports go to the manager's thread, like everything the task changes.
        const auto post = [this, generation](std::function<void()> step) {
            m_generation.post(this, generation, std::move(step));
        };
        const auto fail = [post, this](const char* id) { post([this, id] { report(id); }); };
        // The host's notice stays for shells keyed to it; the user reads why.
        const auto tooBig = [post, this](const char* id) {
            post([this, id] {
                AccountManager::getInstance()->notify(1);
                report(id);
            });
        };
        if (!online)
            return fail("mt_no_network");
        const QFileInfo info(path);
        if (!info.isFile())
            return fail("fdm_file_not_exist");
        if (info.size() >= CUSTOM_RINGTONE_LIMIT_SIZE)
            return tooBig("ringtone_too_large");
        qint64 duration = 0;
        QString format;
        if (!FileUtil::audioFormat(path, duration, format))
            return fail("wallpaper_file_format_error");
        if (isClearing())
            return;
        if (duration >= CUSTOM_RINGTONE_LIMIT_DURATION)
            return tooBig("ringtone_too_long");
        FileManager* files = account->fileManager();
        if (!files)
            return;
        const FileDataPtr file = files->createFileData(
            QVariantMap{{QStringLiteral("filePath"), path},
                        {QStringLiteral("fileId"), Util::instance()->uuid()},
                        {QStringLiteral("aesKey"), QString::fromLatin1(CryptoAES::createKey(32).toBase64())}},
            CustomRingtoneItem::kFileType, false, CustomRingtoneItem::kSourceType);
        files->addUploadId(file->fileId());
        post([this, file] { uploadRingtone(file); });
    });
}

void RingtoneManager::uploadRingtone(const FileDataPtr& file)
{
    FileManager* files = m_account->fileManager();
    const UploadMultiFileFilterPtr filter = files ? files->makeFilter(file, {}) : nullptr;
    if (!filter)
        return;
    if (atLimit()) {
        dropUnlisted(file);
        return;
    }
    m_uploading.insert(file->fileId());
    filter->ownerId = file->fileId();
    QPointer<RingtoneManager> self(this);
    const quint64 generation = m_generation.current();
    // The host reports the outcome once, at the Finished stage, with its status.
    filter->callback = [self, file, generation](int stage, int status) {
        if (!self || !self->m_generation.isCurrent(generation) || self->isClearing() ||
            stage != upload::Finished)
            return;
        self->m_uploading.remove(file->fileId());
        if (status == upload::Ok) {
            self->finishAdd(file, 2);
            return;
        }
        self->dropUnlisted(file);
        // A failed upload may have been stored before its answer was lost.
        if (FileManager* files = self->m_account->fileManager())
            files->fileServiceCmd()->deleteFiles({file->fileId()});
        if (status == upload::Failed)
            settingmodel::reportFailure(self->m_account, status, qtTrId("upload_failed"), stage);
        else if (status == upload::Refused)
            settingmodel::reportFailure(self->m_account, status, qtTrId("ringtone_upload_refused"), stage);
    };
    files->uploadMultiFile(filter, upload::Normal);
}

void RingtoneManager::addRingtoneByMsg(FileData* file, const QString& ringName)
{
    if (atLimit())
        return;
    if (!m_account->isOnline()) {
        report("mt_no_network");
        return;
    }
    FileManager* files = m_account->fileManager();
    if (!file || !files || file->fileId().isEmpty())
        return;
    // The account's own record of the file, keys and cached copy included.
    const FileDataPtr source = files->createFileData(
        QVariantMap{{QStringLiteral("fileId"), file->fileId()},
                    {QStringLiteral("fileName"), ringName.isEmpty() ? file->fileName() : ringName},
                    {QStringLiteral("aesKey"), QString::fromLatin1(file->aesKey().toBase64())}},
        file->fileType(), false, file->modelSourceType());
    QMutexLocker lock(&m_taskMutex);
    if (!source || m_task.isRunning())
        return;
    const int type = file->fileType() == 3 ? 1 : 2;
    m_uploading.insert(source->fileId());
    m_task = QtConcurrent::run([this, files, source, type] {
        QPointer<RingtoneManager> self(this);
        files->fileServiceCmd()->duplicateFiles(
            {source->fileId()}, [self, files, source, type](const QHash<QString, QString>& copies, int code) {
                if (!self || self->isClearing())
                    return;
                self->m_uploading.remove(source->fileId());
                const QString newId = copies.value(source->fileId());
                if (code != 0 || newId.isEmpty()) {
                    self->report("upload_failed");
                    return;
                }
                self->finishAdd(
                    files->fileDataMgr()->duplicateFile(source, newId, CustomRingtoneItem::kFileType), type);
            });
    });
}

void RingtoneManager::finishAdd(const FileDataPtr& file, int type)
{
    // Another device's list may have filled the list while the file went up.
    if (m_model->count() >= RingtoneModel::kMaxItems) {
        dropUnlisted(file);
        if (FileManager* files = m_account->fileManager())
            files->fileServiceCmd()->deleteFiles({file->fileId()});
        report("ringtone_limit_reached");
        return;
    }
    m_model->insertItem(new CustomRingtoneItem{file, m_account->currentTime(), type, {}});
    syncToServer(file->fileId());
}

void RingtoneManager::syncToServer(const QString& fileId)
{
    QVariantMap context{{kContextFileId, fileId}, {kContextRemove, false}};
    if (fileId.isEmpty())
        context.insert(kContextRewrite, true);
    else
        m_pendingAdds.insert(fileId);
    m_written = m_model->toJson({});
    if (SharedPreferenceModel* preferences = store())
        preferences->syncRingtoneList(m_written, context);
}

void RingtoneManager::deleteRingtone(const QString& fileId)
{
    if (!m_account->isOnline()) {
        report("mt_no_network");
        return;
    }
    if (!m_model->containsItem(fileId)) {
        checkSettingByListChanged();
        report("ringtone_remove_tip");
        return;
    }
    // The row stays until the server has the list without it.
    QVariantMap context{{kContextFileId, fileId}, {kContextRemove, true}};
    if (SharedPreferenceModel* preferences = store())
        preferences->syncRingtoneList(m_model->toJson(fileId), context);
}

void RingtoneManager::syncFinish(const QVariantMap& context, bool ok)
{
    const QString fileId = context.value(kContextFileId).toString();
    const bool removing = context.value(kContextRemove).toBool();
    FileManager* files = m_account->fileManager();
    const auto dropFile = [this, files, &fileId] {
        if (CustomRingtoneItem* item = m_model->findItem(fileId); item && files)
            files->fileDataMgr()->deleteFileByRef(item->file, true);
        m_model->removeItem(fileId);
        if (files)
            files->fileServiceCmd()->deleteFiles({fileId});
    };
    if (context.value(kContextRewrite).toBool()) {
        // The merged list this device sent again on its own: no add of the user's to undo or to
        // tell of; what arrived meanwhile goes again.
        if (!ok)
            qCWarning(lcSettingModel) << "sending the merged custom ringtone list again failed";
        else
            sendMergedAgain();
        return;
    }
    if (!removing)
        m_pendingAdds.remove(fileId);
    if (ok && removing) {
        dropFile();
        checkSettingByListChanged();
        report("ringtone_remove_tip");
    } else if (ok) {
        report("ringtone_save_tip");
        // Another device's list came in while this one was on its way: the server has only
        // this device's, so the merged list goes again.
        sendMergedAgain();
    } else if (!removing) {
        report("reminderpop_upload_fail");
        dropFile();
    } else {
        report("mt_no_network");
    }
}

void RingtoneManager::retryMergedLater()
{
    // A failure of the server's passes: the merged list goes again a little later, as this
    // device holds it then (the devices would otherwise keep ringtones the server never got).
    m_mergedFailed = true;
    QTimer::singleShot(kMergedRetryMs, this, [this, generation = m_generation.current()] {
        if (m_generation.isCurrent(generation) && !isClearing())
            sendMergedAgain();
    });
}

void RingtoneManager::sendMergedAgain()
{
    if (!m_pendingAdds.isEmpty())
        return;
    // Another device's adds that this device's write overwrote come back with the merged list,
    // as far as the limit allows; the rest stays off, as the server's list has it.
    if (m_model->count() > RingtoneModel::kMaxItems) {
        QSet<QString> written;
        for (const QVariant& entry : jsonToList(m_written))
            written.insert(entry.toMap().value(QStringLiteral("fileId")).toString());
        const QList<CustomRingtoneItem*> items = m_model->items();
        for (auto it = items.crbegin(); it != items.crend() && m_model->count() > RingtoneModel::kMaxItems;
             ++it) {
            if (written.contains((*it)->fileId()))
                continue;
            qCWarning(lcSettingModel)
                << "the custom ringtone" << (*it)->fileId() << "does not fit in the merged list; left off";
            dropUnlisted((*it)->file);
            m_model->removeItem((*it)->fileId());
        }
    }
    if (m_model->toJson({}) != m_written || std::exchange(m_mergedFailed, false))
        syncToServer({});
}

void RingtoneManager::syncMergeList(const QByteArray& json, const QVariantMap& context)
{
    const QString fileId = context.value(kContextFileId).toString();
    if (context.value(kContextRemove).toBool()) {
        updateRingtones(json);
        deleteRingtone(fileId);
        return;
    }
    if (context.value(kContextRewrite).toBool()) {
        // The merged list sent again lost to a newer one: that one is taken, with this device's
        // adds still on their way; there is no add of this write's own to drop or send.
        updateRingtones(json);
        return;
    }
    bool ok = false;
    const QList<CustomRingtoneItem*> items = RingtoneModel::parse(json, m_account, &ok);
    if (!ok) {
        // Nothing to merge with: the add goes again as it was.
        syncToServer(fileId);
        return;
    }
    QSet<QString> keep = m_pendingAdds;
    keep.insert(fileId);
    mergeList(items, keep);
    if (m_model->count() > RingtoneModel::kMaxItems) {
        // The server's list is full: this add does not fit. It is no longer on its way, so the
        // merged list can go again when it must.
        m_pendingAdds.remove(fileId);
        if (CustomRingtoneItem* item = m_model->findItem(fileId))
            dropUnlisted(item->file);
        m_model->removeItem(fileId);
        if (FileManager* files = m_account->fileManager())
            files->fileServiceCmd()->deleteFiles({fileId});
        report("ringtone_limit_reached");
        sendMergedAgain();
    } else {
        syncToServer(fileId);
    }
    checkSettingByListChanged();
}

void RingtoneManager::mergeList(const QList<CustomRingtoneItem*>& items, const QSet<QString>& keep)
{
    QHash<QString, FileDataPtr> before;
    for (const CustomRingtoneItem* item : m_model->items())
        before.insert(item->fileId(), item->file);
    m_model->mergeItems(items, keep);
    // A ringtone another device removed leaves this device's record and cached copy too.
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (!m_model->containsItem(it.key()))
            dropUnlisted(it.value());
    }
}

void RingtoneManager::updateRingtones(const QByteArray& json)
{
    bool ok = false;
    const QList<CustomRingtoneItem*> items = RingtoneModel::parse(json, m_account, &ok);
    if (!ok) {
        qCDebug(lcSettingModel) << "custom ringtone list is not a list; kept the previous one";
        return;
    }
    // This device's adds still on their way stay: the other device's list never saw them.
    mergeList(items, m_pendingAdds);
    checkSettingByListChanged();
}

void RingtoneManager::checkSettingByListChanged()
{
    const QString system = QLatin1String(kSystemRingtone);
    bool changed = false;
    // The custom side goes as well, so that what the interface says custom is what plays.
    if (m_global->customAitePriority() && !m_model->containsItem(m_global->aiteCustomId())) {
        m_global->setAitePreset(system, m_global->aitePresetUpdated());
        m_global->setAiteCustom({}, 0);
        changed = true;
    }
    if (m_global->customPriority() && !m_model->containsItem(m_global->customId())) {
        m_global->setPreset(system, m_global->presetUpdated());
        m_global->setCustom({}, 0);
        changed = true;
    }
    if (changed)
        emit globalRingtoneSettingChanged();
    if (m_currentSetting && m_currentSetting->customPriority() &&
        !m_model->containsItem(m_currentSetting->customId())) {
        m_currentSetting->setPresetName(system);
        m_currentSetting->setCustomPriority(false);
    }
}

QString RingtoneManager::ringtoneNameById(const QString& customId) const
{
    const CustomRingtoneItem* item = m_model->findItem(customId);
    return item && item->file ? item->file->fileName() : QString();
}

namespace {
// The preset tones the application ships, the default first; each has a sound file of its name
// and the translation id "ringtone_" followed by its name.
constexpr const char* kPresetTones[] = {"system_ringtone", "chime", "bell", "pulse"};
} // namespace

QVariantList RingtoneManager::presetRingtones() const
{
    QVariantList tones;
    for (const char* tone : kPresetTones) {
        const QString id = QString::fromLatin1(tone);
        tones.append(QVariantMap{{QStringLiteral("id"), id},
                                 {QStringLiteral("name"), ringtoneDisplayName(id, false)}});
    }
    return tones;
}

QString RingtoneManager::ringtoneDisplayName(const QString& ringtone, bool custom) const
{
    if (custom) {
        const QString name = ringtoneNameById(ringtone);
        return name.isEmpty() ? qtTrId("ringtone_custom_unnamed") : name;
    }
    const QString tone = ringtone.isEmpty() ? QString::fromLatin1(kPresetTones[0]) : ringtone;
    const QByteArray id = "ringtone_" + tone.toUtf8();
    const QString name = qtTrId(id.constData());
    // A preset this version does not know (newer, from another device) keeps its own name.
    return name == QString::fromUtf8(id) ? tone : name;
}

void RingtoneManager::playRingtone(const QString& ringtone, bool custom)
{
    QString path;
    if (!custom) {
        path = AudioManage::presetSoundPath(ringtone.isEmpty() ? QString::fromLatin1(kPresetTones[0])
                                                               : ringtone);
    } else if (const CustomRingtoneItem* item = m_model->findItem(ringtone);
               item && item->file && item->file->fileExist()) {
        path = item->file->localPath();
    }
    AudioManage::instance()->playSound(path);
}

// ---- global and per-chat choices ----

void RingtoneManager::sendDesktopConfig()
{
    const QVariantMap global = m_global->write();
    for (auto it = global.cbegin(); it != global.cend(); ++it)
        m_desktopConfig.insert(it.key(), it.value());
    if (SharedPreferenceModel* preferences = store())
        preferences->syncDeskTopNotifySetting(mapToJson(m_desktopConfig));
}

void RingtoneManager::setGlobalRingtone(const QString& ringtone, bool bCustom, bool bAite)
{
    const qint64 t = m_account->currentTime();
    const QString system = QLatin1String(kSystemRingtone);
    if (bAite && bCustom) {
        m_global->setAitePreset(system, m_global->aitePresetUpdated());
        m_global->setAiteCustom(ringtone, t);
    } else if (bAite) {
        m_global->setAiteCustom({}, 0);
        m_global->setAitePreset(ringtone, t);
    } else if (bCustom) {
        m_global->setPreset(system, m_global->presetUpdated());
        m_global->setCustom(ringtone, t);
    } else {
        m_global->setCustom({}, 0);
        m_global->setPreset(ringtone, t);
    }
    sendDesktopConfig();
}

void RingtoneManager::resetNotification()
{
    const qint64 t = m_account->currentTime();
    m_global->setPreset(QLatin1String(kSystemRingtone), t);
    m_global->setAitePreset(QLatin1String(kSystemRingtone), t);
    sendDesktopConfig();
}

void RingtoneManager::updateDesktopNotifyConfig(const QByteArray& json)
{
    QVariantMap config;
    if (!readJsonObject(json, config)) {
        qCDebug(lcSettingModel) << "desktop notification value is not a JSON object; kept the previous one";
        return;
    }
    m_desktopConfig = config;
    GlobalRingtoneSetting read(nullptr, config);
    m_global->merge(read);
}

RingtoneSetting* RingtoneManager::settingFor(const QString& dialogId)
{
    RingtoneSetting* setting = m_settings.value(dialogId);
    if (!setting) {
        setting = new RingtoneSetting(this);
        setting->setDialogId(dialogId);
        m_settings.insert(dialogId, setting);
    }
    return setting;
}

void RingtoneManager::writeChatSetting(RingtoneSetting* setting)
{
    SharedPreferenceModel* preferences = store();
    if (!preferences)
        return;
    const QString key = chatKey(setting->dialogId());
    QVariantMap map = jsonToMap(preferences->getKeyValue(key));
    setting->serialize(map);
    for (const QString& flag : kOldClientFlags)
        map.remove(flag);
    QVariantMap context;
    preferences->syncRingtoneSetting(key, mapToJson(map), context);
}

void RingtoneManager::setChatRingtone(const QString& dialogId, const QString& ringtone, bool bPreview,
                                      bool bCustom)
{
    const bool preview =
        m_account->accountSettingModel() ? m_account->accountSettingModel()->globalMessagePreview() : true;
    // The global choice is the side of it that plays: its custom tone only while that is newer.
    const bool global = bCustom == m_global->customPriority() &&
                        ringtone == (bCustom ? m_global->customId() : m_global->presetName()) &&
                        bPreview == preview;
    if (global) {
        // The chat follows the global choice again, here as on the user's other devices.
        if (RingtoneSetting* setting = m_settings.value(dialogId))
            setting->deserialize({});
        QVariantMap context;
        if (SharedPreferenceModel* preferences = store())
            preferences->syncRingtoneSetting(chatKey(dialogId), "{}", context);
        return;
    }
    const RingtoneSetting chosen(dialogId, ringtone, m_account->currentTime(), bPreview, bCustom);
    RingtoneSetting* setting = settingFor(dialogId);
    setting->merge(chosen, false);
    if (bCustom)
        setting->setPresetName(QLatin1String(kSystemRingtone));
    writeChatSetting(setting);
}

void RingtoneManager::setChatRingtone(const QString& dialogId, const QString& ringtone, bool bCustom)
{
    RingtoneSetting* setting = settingFor(dialogId);
    const RingtoneSetting chosen(dialogId, ringtone, m_account->currentTime(), setting->preview(), bCustom);
    setting->merge(chosen, false);
    if (bCustom)
        setting->setPresetName(QLatin1String(kSystemRingtone));
    writeChatSetting(setting);
}

void RingtoneManager::setChatSilence(const QString& dialogId, bool bSilence)
{
    RingtoneSetting* setting = settingFor(dialogId);
    setting->setSilence(bSilence);
    writeChatSetting(setting);
}

void RingtoneManager::clearMutedNotifyData(const QString& dialogId)
{
    writeChatSetting(settingFor(dialogId));
}

void RingtoneManager::syncMergeSetting(const QByteArray& json, const QVariantMap& context)
{
    QVariantMap server = jsonToMap(json);
    const RingtoneSetting theirs(server, nullptr);
    QString dialogId = theirs.dialogId();
    RingtoneSetting* setting = m_settings.value(dialogId);
    if (!setting) {
        setting = new RingtoneSetting(context, this);
        if (setting->dialogId().isEmpty())
            setting->setDialogId(dialogId);
        dialogId = setting->dialogId();
        if (dialogId.isEmpty()) {
            delete setting;
            return;
        }
        m_settings.insert(dialogId, setting);
    }
    setting->merge(theirs, true);
    setting->serialize(server);
    QVariantMap again;
    if (SharedPreferenceModel* preferences = store())
        preferences->syncRingtoneSetting(chatKey(dialogId), mapToJson(server), again);
}

void RingtoneManager::updateRingtoneSetting(const QString& key, const QByteArray& json, qint64 time,
                                            bool fromLocal)
{
    Q_UNUSED(fromLocal)
    QVariantMap map;
    if (!readJsonObject(json, map)) {
        DroppedInput::note("a chat's ringtone that is not a JSON object", key);
        return;
    }
    // An empty object under a chat's key: the chat follows the global choice again.
    const QString keyPrefix = kChatRingtoneKeyFormat.arg(QString());
    const QString dialogId = map.contains(kChatDialogId) ? map.value(kChatDialogId).toString()
                             : key.startsWith(keyPrefix) ? key.mid(keyPrefix.size())
                                                         : QString();
    if (dialogId.isEmpty())
        return;
    if (std::any_of(kOldClientFlags.cbegin(), kOldClientFlags.cend(),
                    [&map](const QString& flag) { return map.contains(flag); })) {
        if (GroupMutedSettingModel* muted = m_account->groupMutedSettingModel())
            muted->addOldLocalSetting(dialogId, map, time);
    }
    if (RingtoneSetting* known = m_settings.value(dialogId))
        known->deserialize(map);
    else
        m_settings.insert(dialogId, new RingtoneSetting(map, this));
}

RingtoneSetting* RingtoneManager::ringtoneSetting(const QString& dialogId)
{
    RingtoneSetting* setting = m_settings.value(dialogId);
    if (!setting) {
        QVariantMap map;
        SharedPreferenceModel* preferences = store();
        const QByteArray stored = preferences ? preferences->getKeyValue(chatKey(dialogId)) : QByteArray();
        if (!stored.isEmpty() && readJsonObject(stored, map) && !map.isEmpty()) {
            setting = new RingtoneSetting(map, this);
            setting->setDialogId(dialogId);
            m_settings.insert(dialogId, setting);
        }
    }
    m_currentSetting = setting;
    // Until the list has been read from the server once (a new device), a ringtone missing from
    // it may simply not be here yet.
    if (m_listFromServer && setting && setting->customUpdated() > 0 &&
        !m_model->containsItem(setting->customId())) {
        // Its custom ringtone left the list.
        setting->updateCustomId({}, 0);
        writeChatSetting(setting);
    }
    return setting;
}

QString RingtoneManager::playablePath(const QString& customId)
{
    const CustomRingtoneItem* item = m_model->findItem(customId);
    if (!item || !item->file)
        return {};
    if (item->file->fileExist()) {
        m_downloadTries.remove(customId);
        return item->file->localPath();
    }
    // Asked for again while still missing, the last download failed (the server may no longer
    // have the file): the next one waits, twice as long each time.
    DownloadTry& tried = m_downloadTries[customId];
    if (tried.clock.isValid() && !tried.clock.hasExpired(tried.waitMs))
        return {};
    if (tried.clock.isValid())
        tried.waitMs = std::min<qint64>(tried.waitMs * 2, kMaxDownloadWaitMs);
    tried.clock.start();
    if (FileManager* files = m_account->fileManager())
        files->downloadFileMgr()->download(item->file, true, CustomRingtoneItem::kFileType);
    return {};
}

QVariantMap RingtoneManager::getValidRingtone(const QString& dialogId)
{
    return getValidRingtone(m_settings.value(dialogId));
}

QVariantMap RingtoneManager::getValidRingtone(RingtoneSetting* setting)
{
    QVariantMap aite = playable(false, m_global->aitePresetName());
    if (m_global->aiteCustomUpdated() > m_global->aitePresetUpdated()) {
        if (const QString path = playablePath(m_global->aiteCustomId()); !path.isEmpty())
            aite = playable(true, path);
    }
    QVariantMap normal;
    if (setting && setting->silence()) {
        normal = playable(false, QString());
    } else if (setting && setting->customUpdated() > setting->presetUpdated()) {
        if (const QString path = playablePath(setting->customId()); !path.isEmpty())
            normal = playable(true, path);
    } else if (setting && setting->customUpdated() < setting->presetUpdated()) {
        normal = playable(false, setting->presetName());
    } else {
        normal = playable(false, m_global->presetName());
        if (m_global->customUpdated() > m_global->presetUpdated()) {
            if (const QString path = playablePath(m_global->customId()); !path.isEmpty())
                normal = playable(true, path);
        }
    }
    return {{QStringLiteral("aite"), aite}, {QStringLiteral("normal"), normal}};
}
