// The per-key write and read operations of the preference store.
#include "commands/settingservicecmd.h"
#include "host/accountbase.h"
#include "host/constants.h"
#include "host/jsonutil.h"
#include "host/stickers.h"
#include "im/common.pb.h"
#include "im/content.pb.h"
#include "im/misc.pb.h"
#include "logging.h"
#include "preferences/sharedpreferencemodel.h"
#include "protobufutil.h"

#include <algorithm>

using storage::SharedPreferenceInfo;
using namespace hostkeys;

namespace {

QString pinnedKey(const QString& dialogId)
{
    return QStringLiteral("%1_%2").arg(QLatin1String(PIN_MESSAGE_BACKLIST), dialogId);
}

QString base64(const QByteArray& key)
{
    return QString::fromLatin1(key.toBase64());
}

// The animation of a sticker, with what a reader needs to fetch and check it.
QVariantMap animationObject(const StickerData& file)
{
    return {{QStringLiteral("fileId"), file.fileId()},   {QStringLiteral("aesKey"), base64(file.aesKey())},
            {QStringLiteral("width"), file.width()},     {QStringLiteral("height"), file.height()},
            {QStringLiteral("size"), file.size()},       {QStringLiteral("fileType"), file.fileType()},
            {QStringLiteral("checkSum"), file.fileMd5()}};
}

void fillFileInfo(im::content::FileInfo* info, const StickerData& file)
{
    info->set_file_id(file.fileId().toStdString());
    info->set_aes_key(file.aesKey().toStdString());
    info->set_md5(file.fileMd5().toStdString());
    info->set_size(file.size());
    info->set_file_type(file.fileType());
    info->set_width(file.width());
    info->set_height(file.height());
}

// The JSON object a status shortcut keeps for its sticker.
QVariantMap stickerObject(const StickerItem& sticker)
{
    im::Sticker message;
    message.set_pid(sticker.pid());
    if (const StickerDataPtr source = sticker.sourceFile()) {
        fillFileInfo(message.mutable_file(), *source);
        message.set_width(source->width());
        message.set_height(source->height());
    }
    if (const StickerDataPtr animated = sticker.animatedFile())
        fillFileInfo(message.mutable_animated_file(), *animated);
    SM_SERIALIZE(message); // a sticker that cannot be serialised is logged, and still written

    QVariantMap object{{QStringLiteral("pid"), sticker.pid()}};
    if (const StickerDataPtr source = sticker.sourceFile()) {
        object.insert(QStringLiteral("file_id"), source->fileId());
        // Both spellings: readers of either find the key.
        object.insert(QStringLiteral("aesKey"), base64(source->aesKey()));
        object.insert(QStringLiteral("aeskey"), base64(source->aesKey()));
        object.insert(QStringLiteral("fileType"), source->fileType());
    }
    if (const StickerDataPtr animated = sticker.animatedFile())
        object.insert(QStringLiteral("animatedSticker"), animationObject(*animated));
    return object;
}

} // namespace

void SharedPreferenceModel::updateSharedPreferencesReq(const QString& key, const QByteArray& value, int type,
                                                       bool save, QVariantMap& context, bool encrypt)
{
    const qint64 version = m_account->currentTime();
    if (save) {
        beginLocalWrite(key, type, version);
        persistEdit(key, type, value, version, encrypt);
        if (value.isEmpty())
            removeKey(key, type);
        else
            updateKey(key, type, value, version);
    }
    context.insert(key, version);
    if (SettingServiceCmd* cmd = m_account->settingServiceCmd()) {
        im::misc::UpdateSharedPreferencesV2Req req;
        fillRecord(req.add_preferences(), key, value, type, version, encrypt);
        cmd->updateSharedPreferences(req, save, context);
    }
}

void SharedPreferenceModel::sendDirect(const QString& key, const QByteArray& value, int type, bool flag,
                                       QVariantMap& context, bool typeInContext)
{
    const qint64 version = m_account->currentTime();
    context.insert(key, version);
    if (typeInContext)
        context.insert(QStringLiteral("type"), type);
    if (SettingServiceCmd* cmd = m_account->settingServiceCmd())
        cmd->updateSharedPreference(key, QString::fromUtf8(value), type, version, context, flag, {});
}

void SharedPreferenceModel::fillRecord(im::SharedPreference* record, const QString& key,
                                       const QByteArray& value, int type)
{
    fillRecord(record, key, value, type, m_account->currentTime(), false);
}

void SharedPreferenceModel::fillRecord(im::SharedPreference* record, const QString& key,
                                       const QByteArray& value, int type, qint64 version, bool encrypt) const
{
    record->set_key(key.toStdString());
    record->set_type(type);
    record->set_version(version);
    if (encrypt && !value.isEmpty()) {
        QByteArray valueKey;
        record->set_value(m_account->encrypt(value, valueKey).toBase64().toStdString());
        record->set_value_key(valueKey.toStdString());
        record->set_encrypted(true);
    } else {
        record->set_value(value.toStdString());
    }
}

void SharedPreferenceModel::sendRecords(int type, const QList<QString>& keys, bool flag)
{
    im::misc::UpdateSharedPreferencesV2Req req;
    for (const QString& key : keys)
        fillRecord(req.add_preferences(), key, {}, type);
    if (req.preferences_size() > 0)
        updateSharedPreferences(req, flag);
}

void SharedPreferenceModel::makeSharedPreference(im::SharedPreference* record, const QString& key,
                                                 const QByteArray& value, int type, bool save)
{
    if (!record)
        return;
    const qint64 version = m_account->currentTime();
    if (save) {
        beginLocalWrite(key, type, version);
        persistEdit(key, type, value, version, false);
    }
    record->set_key(key.toStdString());
    record->set_value(value.toStdString());
    record->set_type(type);
    record->set_version(version);
}

qint64 SharedPreferenceModel::updateSharedPreferences(const im::misc::UpdateSharedPreferencesV2Req& req,
                                                      bool flag)
{
    QVariantMap context;
    for (const im::SharedPreference& record : req.preferences())
        context.insert(QString::fromStdString(record.key()), qint64(record.version()));
    SettingServiceCmd* cmd = m_account->settingServiceCmd();
    return cmd ? cmd->updateSharedPreferences(req, flag, context) : 0;
}

QSet<qint64> SharedPreferenceModel::pinnedMessageBlackList(const QString& dialogId)
{
    QSet<qint64> ids;
    const QVariantMap object = jsonToMap(getKeyValue(pinnedKey(dialogId)));
    for (const QVariant& id : object.value(QLatin1String(MESSAGE_IDS)).toList())
        ids.insert(id.toLongLong());
    return ids;
}

void SharedPreferenceModel::syncPinnedMessageBlackList(const QString& dialogId,
                                                       const QSet<qint64>& messageIds)
{
    QList<qint64> sorted(messageIds.cbegin(), messageIds.cend());
    std::sort(sorted.begin(), sorted.end());
    QVariantList ids;
    for (qint64 id : sorted)
        ids.append(id);
    const QVariantMap object{{QLatin1String(DIALOG_ID), dialogId}, {QLatin1String(MESSAGE_IDS), ids}};
    QVariantMap context;
    updateSharedPreferencesReq(pinnedKey(dialogId), mapToJson(object), PinMessageBlackList, true, context,
                               false);
}

void SharedPreferenceModel::syncFavoriteStickerList(const QByteArray& list, QVariantMap& context)
{
    sendDirect(QLatin1String(STICKER_FAVORITE), list, StickerFavorite, false, context, true);
}

void SharedPreferenceModel::syncGifHistoryList(const QByteArray& list, QVariantMap& context)
{
    sendDirect(QLatin1String(GIF_HISTORY), list, GifHistory, false, context, true);
}

void SharedPreferenceModel::syncReminder(const QString& key, const QByteArray& data)
{
    // The type rides along so that a failed write reaches the reminders.
    QVariantMap context;
    sendDirect(key, data.toBase64(), Reminder, false, context, true);
}

void SharedPreferenceModel::deleteReminders(const QList<QString>& keys)
{
    sendRecords(Reminder, keys, true);
}

void SharedPreferenceModel::syncScreenLockHistory(const QString& key, const QByteArray& value)
{
    QVariantMap context;
    sendDirect(key, value, ScreenLockLog, true, context, false);
}

void SharedPreferenceModel::syncScreenLockLogs(const im::misc::UpdateSharedPreferencesV2Req& req)
{
    updateSharedPreferences(req, true);
}

void SharedPreferenceModel::deleteScreenLockLog(const QList<QString>& keys)
{
    sendRecords(ScreenLockLog, keys, false);
}

void SharedPreferenceModel::saveLocally(const QString& key, int type, const QByteArray& value, qint64 version)
{
    postSave({{key, value, type, 0, version, {}}});
    updateKey(key, type, value, version);
}

void SharedPreferenceModel::fillAndSaveLocally(im::SharedPreference* record, const QString& key,
                                               const QByteArray& value, int type)
{
    if (!record)
        return;
    fillRecord(record, key, value, type);
    beginLocalWrite(key, type, record->version());
    persistEdit(key, type, value, record->version(), false);
    updateKey(key, type, value, record->version());
}

void SharedPreferenceModel::chatFolder(im::SharedPreference* record, const QString& key,
                                       const QByteArray& value)
{
    fillAndSaveLocally(record, key, value, ChatFolder);
}

void SharedPreferenceModel::chatFolderOrder(im::SharedPreference* record, const QByteArray& order)
{
    fillAndSaveLocally(record, QLatin1String(DIALOG_FOLDER_ORDER), order, DialogFolderOrder);
}

void SharedPreferenceModel::chatFolderOrderExtern(im::SharedPreference* record, const QByteArray& order)
{
    fillAndSaveLocally(record, QLatin1String(DIALOG_FOLDER_ORDER_EXTERN), order, DialogFolderOrderExtern);
}

void SharedPreferenceModel::saveChatFolderOrder(const QByteArray& order)
{
    saveLocally(QLatin1String(DIALOG_FOLDER_ORDER), DialogFolderOrder, order, m_account->currentTime());
}

void SharedPreferenceModel::saveChatFolderOrderExtern(const QByteArray& order)
{
    saveLocally(QLatin1String(DIALOG_FOLDER_ORDER_EXTERN), DialogFolderOrderExtern, order,
                m_account->currentTime());
}

void SharedPreferenceModel::syncChatFolderOrder(const QByteArray& order, const QByteArray& orderExtern)
{
    QVariantMap context;
    updateSharedPreferencesReq(QLatin1String(DIALOG_FOLDER_ORDER), order, DialogFolderOrder, true, context,
                               false);
    updateSharedPreferencesReq(QLatin1String(DIALOG_FOLDER_ORDER_EXTERN), orderExtern,
                               DialogFolderOrderExtern, true, context, false);
}

void SharedPreferenceModel::syncChatFolderConfig(const QByteArray& config)
{
    QVariantMap context;
    updateSharedPreferencesReq(QLatin1String(DIALOG_FOLDER_CONFIG), config, DialogFolderConfig, true, context,
                               false);
}

void SharedPreferenceModel::syncNotifySetting(const QByteArray& json)
{
    QVariantMap context;
    updateSharedPreferencesReq(QLatin1String(NOTIFICATION), json, Notification, true, context, false);
}

void SharedPreferenceModel::syncDeskTopNotifySetting(const QByteArray& json)
{
    QVariantMap context;
    updateSharedPreferencesReq(QLatin1String(DESKTOP_NOTIFICATION), json, DesktopNotification, true, context,
                               false);
}

void SharedPreferenceModel::syncRingtoneList(const QByteArray& list, QVariantMap& context)
{
    sendDirect(QLatin1String(CUSTOM_RINGTONE_LIST), list, CustomRingtoneList, false, context, true);
}

void SharedPreferenceModel::syncRingtoneSetting(const QString& key, const QByteArray& value,
                                                QVariantMap& context)
{
    updateSharedPreferencesReq(key, value, ChatRingtone, true, context, false);
}

void SharedPreferenceModel::syncMessageExif(bool media, bool on)
{
    QVariantMap context;
    updateSharedPreferencesReq(QLatin1String(media ? EXIF_MEDIA_MESSAGE : EXIF_FILE_MESSAGE),
                               QByteArray::number(on ? 1 : 0), MessageExif, true, context, false);
}

void SharedPreferenceModel::syncTheme(const QString& key, const QByteArray& value)
{
    QVariantMap context;
    updateSharedPreferencesReq(key, value, Theme, true, context, false);
}

void SharedPreferenceModel::syncReactionTags(const QString& emoji, const QString& name)
{
    QVariantMap context;
    updateSharedPreferencesReq(emoji, name.toUtf8(), ReactionTag, true, context, true);
}

void SharedPreferenceModel::syncRemark(qint64 targetId, bool isGroup, const QString& remark)
{
    QVariantMap context{{QStringLiteral("type"), int(UserRemark) + (isGroup ? 1 : 0)},
                        {QStringLiteral("targetId"), targetId},
                        {QStringLiteral("remark"), remark}};
    const QString key = QStringLiteral("remark_%1").arg(targetId);
    // The remark carries its own key inside the message, so the record itself stays plain.
    QByteArray remarkKey;
    const QByteArray cipher = m_account->encrypt(remark.toUtf8(), remarkKey);
    im::content::Remark message;
    message.set_target_id(targetId);
    message.set_key(remarkKey.toStdString());
    message.set_cipher(cipher.toStdString());
    sendDirect(key, SM_SERIALIZE(message).toBase64(), isGroup ? GroupRemark : UserRemark, false, context,
               false);
}

void SharedPreferenceModel::updateUserStatusSettingReq(const QVariantList& statusSetting)
{
    QVariantList entries;
    for (const QVariant& item : statusSetting) {
        const QVariantMap in = item.toMap();
        QVariantMap out;
        for (const char* key : {"desc", "emoji", "time"}) {
            const QString name = QLatin1String(key);
            if (in.contains(name))
                out.insert(name, in.value(name));
        }
        if (const auto* sticker =
                qobject_cast<const StickerItem*>(in.value(QStringLiteral("sticker")).value<QObject*>()))
            out.insert(QStringLiteral("sticker"), stickerObject(*sticker));
        if (const auto* emoji = qobject_cast<const CustomEmojiItem*>(
                in.value(QStringLiteral("customEmoji")).value<QObject*>()))
            out.insert(QStringLiteral("customEmoji"),
                       QVariantMap{{QStringLiteral("packId"), emoji->packId()},
                                   {QStringLiteral("customEmojiId"), emoji->customEmojiId()}});
        entries.append(out);
    }
    QVariantMap context;
    sendDirect(QLatin1String(USERSTATUS_SETTING), listToJson(entries), UserStatusSetting, false, context,
               true);
}

void SharedPreferenceModel::updateRandomMessagePreviewReq(const QVariantList& dialogs)
{
    QVariantList ids;
    for (const QVariant& dialog : dialogs)
        ids.append(dialog.toString());
    QVariantMap context;
    sendDirect(QLatin1String(RANDOM_MESSAGE_PREVIEW), listToJson(ids), RandomMessagePreview, false, context,
               false);
}
