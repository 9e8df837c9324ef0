// The owners of the preference types that the host serves, and the store's own part in the
// types that module models own.
#include "host/accountbase.h"
#include "host/accountsettingmodel.h"
#include "host/constants.h"
#include "host/contacts.h"
#include "host/jsonutil.h"
#include "host/services.h"
#include "host/stickers.h"
#include "im/content.pb.h"
#include "logging.h"
#include "preferences/sharedpreferencemodel.h"
#include "protobufutil.h"

using namespace hostkeys;
using Owner = SharedPreferenceOwner;

namespace {

std::function<bool(const QString&)> exactly(const char* constant)
{
    return [constant](const QString& key) { return key == QLatin1String(constant); };
}

std::function<bool(const QString&)> anyOf(const char* first, const char* second)
{
    return [first, second](const QString& key) {
        return key == QLatin1String(first) || key == QLatin1String(second);
    };
}

std::function<bool(const QString&)> withPrefix(const QString& prefix, bool numberSuffix)
{
    return [prefix, numberSuffix](const QString& key) {
        if (!key.startsWith(prefix) || key.size() == prefix.size())
            return false;
        if (!numberSuffix)
            return true;
        bool ok = false;
        key.mid(prefix.size()).toLongLong(&ok);
        return ok;
    };
}

bool notEmpty(const QString& key)
{
    return !key.isEmpty();
}

bool readStrings(const QByteArray& value, QStringList& out)
{
    const QVariantList list = jsonToList(value);
    if (!value.isEmpty() && list.isEmpty() && value.trimmed() != "[]")
        return false;
    out.clear();
    for (const QVariant& entry : list)
        out.append(entry.toString());
    return true;
}

bool fromBase64(const QByteArray& text, QByteArray& out)
{
    auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return false;
    out = *decoded;
    return true;
}

QByteArray bytes(const std::string& s)
{
    return QByteArray::fromStdString(s);
}

} // namespace

bool readJsonObject(const QByteArray& value, QVariantMap& out)
{
    out = jsonToMap(value);
    return value.isEmpty() || !out.isEmpty() || value.trimmed() == "{}";
}

void SharedPreferenceModel::installDefaultOwners()
{
    AccountBase* acc = m_account;
    const auto settings = [acc] { return acc->accountSettingModel(); };
    const auto stickers = [acc] { return acc->stickerBoxSetMgr(); };
    auto& owners = m_defaultOwners;

    // Taken by the module models that own them, once they register.
    Owner notification{exactly(NOTIFICATION), {}, {}, {}, {}, {}, {}};
    const auto notifyConfig = [settings](const QByteArray& value) {
        QVariantMap config;
        AccountSettingModel* model = settings();
        if (model && readJsonObject(value, config))
            model->updateNotifyConfig(config);
    };
    // The account's settings hear the value at once; the record still waits, unapplied, for the
    // muted-group exceptions that own it.
    notification.apply = [notifyConfig](const QString&, const QByteArray& value, qint64, bool) {
        notifyConfig(value);
        return false;
    };
    notification.superseded = [notifyConfig](const QString&, const QByteArray& value, qint64,
                                             const QVariantMap&) { notifyConfig(value); };
    owners.insert(Notification, notification);
    owners.insert(DesktopNotification, {exactly(DESKTOP_NOTIFICATION), {}, {}, {}, {}, {}, {}});
    owners.insert(CustomRingtoneList, {exactly(CUSTOM_RINGTONE_LIST), {}, {}, {}, {}, {}, {}});
    owners.insert(ChatRingtone, {withPrefix(QStringLiteral("ringtone_"), false), {}, {}, {}, {}, {}, {}});
    owners.insert(Theme, {notEmpty, {}, {}, {}, {}, {}, {}});
    Owner status{exactly(USERSTATUS_SETTING), {}, {}, {}, {}, {}, {}};
    status.superseded = [this](const QString&, const QByteArray&, qint64, const QVariantMap&) {
        emit updateStatusSettingFinish({{QStringLiteral("succ"), false}});
    };
    // Refused, or lost by the network (it goes again): the interface stops waiting either way.
    status.failed = [this](const QVariantMap&, int) {
        emit updateStatusSettingFinish({{QStringLiteral("succ"), false}});
    };
    owners.insert(UserStatusSetting, status);

    Owner pinned{
        withPrefix(QLatin1String(PIN_MESSAGE_BACKLIST) + QLatin1Char('_'), false), {}, {}, {}, {}, {}, {}};
    const auto pinnedUpdate = [acc](const QByteArray& value, bool merge) {
        QVariantMap object;
        if (value.isEmpty() || !readJsonObject(value, object))
            return false;
        acc->updatePinnedMessageBlackList(object.value(QLatin1String(DIALOG_ID)).toString(),
                                          object.value(QLatin1String(MESSAGE_IDS)).toList(), merge);
        return true;
    };
    pinned.apply = [pinnedUpdate](const QString&, const QByteArray& value, qint64, bool) {
        return pinnedUpdate(value, false);
    };
    pinned.superseded = [pinnedUpdate](const QString&, const QByteArray& value, qint64, const QVariantMap&) {
        pinnedUpdate(value, true);
    };
    owners.insert(PinMessageBlackList, pinned);

    Owner favorites{exactly(STICKER_FAVORITE), {}, {}, {}, {}, {}, {}};
    favorites.apply = [stickers](const QString&, const QByteArray& value, qint64, bool) {
        StickerBoxSetMgr* mgr = stickers();
        if (mgr)
            mgr->updateFavorite(value);
        return mgr != nullptr;
    };
    favorites.confirmed = [stickers](const QString&, const QByteArray&, const QVariantMap& context) {
        if (StickerBoxSetMgr* mgr = stickers())
            mgr->updateFavorite(true, context);
    };
    favorites.superseded = [stickers](const QString&, const QByteArray& value, qint64, const QVariantMap&) {
        if (StickerBoxSetMgr* mgr = stickers())
            mgr->updateFavorite(value);
    };
    favorites.failed = [stickers](const QVariantMap& context, int) {
        if (StickerBoxSetMgr* mgr = stickers())
            mgr->updateFavorite(false, context);
    };
    owners.insert(StickerFavorite, favorites);

    Owner preview{exactly(RANDOM_MESSAGE_PREVIEW), {}, {}, {}, {}, {}, {}};
    const auto previewUpdate = [acc](const QByteArray& value) {
        QStringList dialogs;
        if (!readStrings(value, dialogs))
            return false;
        acc->updateRandomMessagePreview(dialogs);
        return true;
    };
    preview.apply = [previewUpdate](const QString&, const QByteArray& value, qint64, bool) {
        return previewUpdate(value);
    };
    preview.confirmed = [previewUpdate](const QString&, const QByteArray& value, const QVariantMap&) {
        previewUpdate(value);
    };
    preview.superseded = [this](const QString&, const QByteArray&, qint64, const QVariantMap&) {
        emit updateRandomMessagePreviewFinish({{QStringLiteral("succ"), false}});
    };
    owners.insert(RandomMessagePreview, preview);

    Owner reminders{notEmpty, {}, {}, {}, {}, {}, {}};
    reminders.apply = [acc](const QString& key, const QByteArray& value, qint64, bool) {
        ReminderHandler* handler = acc->reminderHandler();
        QByteArray data;
        if (!handler || !fromBase64(value, data))
            return false;
        handler->listAndNotif(key, data);
        return true;
    };
    const auto reminderFinished = [acc](const QString& key, const QByteArray& value, int result) {
        ReminderHandler* handler = acc->reminderHandler();
        QByteArray data;
        if (handler && fromBase64(value, data))
            handler->syncFinished(key, data, result);
    };
    reminders.confirmed = [reminderFinished](const QString& key, const QByteArray& value,
                                             const QVariantMap&) { reminderFinished(key, value, 0); };
    reminders.superseded = [reminderFinished](const QString& key, const QByteArray& value, qint64,
                                              const QVariantMap&) { reminderFinished(key, value, 1); };
    reminders.failed = [acc](const QVariantMap& context, int) {
        ReminderHandler* handler = acc->reminderHandler();
        if (!handler)
            return;
        // The context holds the reminder's key beside "type".
        for (auto it = context.cbegin(); it != context.cend(); ++it) {
            if (it.key() != QLatin1String("type")) {
                handler->syncFinished(it.key(), {}, -1);
                return;
            }
        }
        handler->syncFinished({}, {}, -1);
    };
    owners.insert(Reminder, reminders);

    Owner folder{notEmpty, {}, {}, {}, {}, {}, {}};
    folder.apply = [acc](const QString& key, const QByteArray& value, qint64, bool) {
        QMetaObject::invokeMethod(
            acc, [acc, key, value] { acc->updateChatFolder(key, value); }, Qt::QueuedConnection);
        return true;
    };
    owners.insert(ChatFolder, folder);

    // The orders live in the table; the account hears of both once a batch is applied.
    const auto inTable = [](const QString&, const QByteArray&, qint64, bool) { return true; };
    owners.insert(DialogFolderOrder, {exactly(DIALOG_FOLDER_ORDER), inTable, {}, {}, {}, {}, {}});
    owners.insert(DialogFolderOrderExtern,
                  {exactly(DIALOG_FOLDER_ORDER_EXTERN), inTable, {}, {}, {}, {}, {}});

    Owner folderConfig{exactly(DIALOG_FOLDER_CONFIG), {}, {}, {}, {}, {}, {}};
    folderConfig.apply = [settings](const QString&, const QByteArray& value, qint64, bool) {
        AccountSettingModel* model = settings();
        if (model)
            model->updateChatFolderConfig(value);
        return model != nullptr;
    };
    folderConfig.superseded = [folderConfig](const QString& key, const QByteArray& value, qint64 version,
                                             const QVariantMap&) {
        folderConfig.apply(key, value, version, false);
    };
    owners.insert(DialogFolderConfig, folderConfig);

    for (const int type : {int(UserRemark), int(GroupRemark)}) {
        Owner remark{withPrefix(QStringLiteral("remark_"), true), {}, {}, {}, {}, {}, {}};
        remark.apply = [this, type](const QString&, const QByteArray& value, qint64, bool fromLocal) {
            return applyRemark(type, value, fromLocal);
        };
        remark.superseded = [this, type](const QString&, const QByteArray& value, qint64,
                                         const QVariantMap&) { applyRemark(type, value, false); };
        remark.confirmed = [acc, type](const QString&, const QByteArray&, const QVariantMap& context) {
            if (type == GroupRemark) {
                if (GroupModelMgr* groups = acc->groupModelMgr())
                    groups->updateGroupRemarkResp(context, 0);
            } else if (UserManager* users = acc->userManager()) {
                users->updateUserRemarkResp(context, 0);
            }
        };
        remark.failed = [acc, type](const QVariantMap& context, int code) {
            if (type == GroupRemark) {
                if (GroupModelMgr* groups = acc->groupModelMgr())
                    groups->updateGroupRemarkResp(context, code);
            } else if (UserManager* users = acc->userManager()) {
                users->updateUserRemarkResp(context, code);
            }
        };
        owners.insert(type, remark);
    }

    Owner gifs{exactly(GIF_HISTORY), {}, {}, {}, {}, {}, {}};
    gifs.apply = [stickers](const QString&, const QByteArray& value, qint64, bool) {
        StickerBoxSetMgr* mgr = stickers();
        if (mgr)
            mgr->updateGifHistory(value);
        return mgr != nullptr;
    };
    gifs.confirmed = [stickers](const QString&, const QByteArray&, const QVariantMap& context) {
        if (StickerBoxSetMgr* mgr = stickers())
            mgr->updateGifHistory(true, context);
    };
    gifs.superseded = [stickers](const QString&, const QByteArray& value, qint64,
                                 const QVariantMap& context) {
        if (StickerBoxSetMgr* mgr = stickers())
            mgr->updateGifHistoryRetry(value, context);
    };
    owners.insert(GifHistory, gifs);

    Owner lockLogs{notEmpty, {}, {}, {}, {}, {}, {}};
    lockLogs.apply = [acc](const QString&, const QByteArray& value, qint64, bool) {
        acc->updateScreenLockLog(value, false);
        return true;
    };
    lockLogs.superseded = [acc](const QString&, const QByteArray& value, qint64, const QVariantMap&) {
        acc->updateScreenLockLog(value, true);
    };
    owners.insert(ScreenLockLog, lockLogs);

    Owner exif{anyOf(EXIF_MEDIA_MESSAGE, EXIF_FILE_MESSAGE), {}, {}, {}, {}, {}, {}};
    exif.apply = [settings](const QString& key, const QByteArray& value, qint64, bool) {
        AccountSettingModel* model = settings();
        if (!model)
            return false;
        const bool keep = value.trimmed().toLongLong() != 0;
        if (key == QLatin1String(EXIF_MEDIA_MESSAGE))
            model->setMediaMessageExif(keep, false);
        else
            model->setFileMessageExif(keep, false);
        return true;
    };
    exif.superseded = [exif](const QString& key, const QByteArray& value, qint64 version,
                             const QVariantMap&) { exif.apply(key, value, version, false); };
    owners.insert(MessageExif, exif);

    Owner tags{notEmpty, {}, {}, {}, {}, {}, {}};
    tags.apply = [this](const QString& key, const QByteArray& value, qint64, bool) {
        emit reactionTagChanged(key, QString::fromUtf8(value));
        return true;
    };
    tags.superseded = [this](const QString& key, const QByteArray& value, qint64, const QVariantMap&) {
        emit reactionTagChanged(key, QString::fromUtf8(value));
    };
    owners.insert(ReactionTag, tags);
}

bool SharedPreferenceModel::applyRemark(int type, const QByteArray& value, bool fromLocal)
{
    QByteArray serialized;
    im::content::Remark remark;
    if (!fromBase64(value, serialized) || !settingmodel::parseMessage(remark, serialized))
        return false;
    bool ok = false;
    const QString text =
        QString::fromUtf8(m_account->decrypt(bytes(remark.cipher()), bytes(remark.key()), &ok));
    if (!ok)
        return false;
    if (type == GroupRemark) {
        GroupModelMgr* groups = m_account->groupModelMgr();
        if (!groups)
            return false;
        groups->updateGroupRemark(remark.target_id(), text);
        return true;
    }
    UserManager* users = m_account->userManager();
    if (!users)
        return false;
    users->updateUserRemark(remark.target_id(), text, !fromLocal);
    return true;
}
