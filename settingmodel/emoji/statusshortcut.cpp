#include "emoji/statusshortcut.h"

#include "host/accountbase.h"
#include "host/constants.h"
#include "host/jsonutil.h"
#include "host/stickers.h"
#include "preferences/sharedpreferencemodel.h"

#include <QCoreApplication>
#include <QJSEngine>

namespace {

const QString kSticker = QStringLiteral("sticker");
const QString kCustomEmoji = QStringLiteral("customEmoji");

// A sticker's key under either spelling: the preference store writes "aesKey", older clients
// "aeskey".
QString keyOf(const QVariantMap& map)
{
    const QString key = map.value(QStringLiteral("aesKey")).toString();
    return key.isEmpty() ? map.value(QStringLiteral("aeskey")).toString() : key;
}

void toMainThread(QObject* object)
{
    if (QCoreApplication::instance())
        object->moveToThread(QCoreApplication::instance()->thread());
}

} // namespace

StatusShortCut::StatusShortCut(AccountBase* account) : QObject(account), m_account(account)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

StatusShortCut::~StatusShortCut() = default;

bool StatusShortCut::isEdited() const
{
    SharedPreferenceBase* preferences = m_account->sharedPreference();
    return preferences && preferences->hasKey(QLatin1String(hostkeys::USERSTATUS_SETTING));
}

QSharedPointer<StickerItem> StatusShortCut::stickerOf(const QVariantMap& map)
{
    const qint64 pid = map.value(QStringLiteral("pid")).toLongLong();
    const QString fileId = map.value(QStringLiteral("file_id")).toString();
    StickerBoxSetMgr* known = m_account->stickerBoxSetMgr();
    QSharedPointer<StickerItem> sticker = known ? known->stickerItemPtr(pid, fileId) : nullptr;
    FileManager* files = m_account->fileManager();
    if (!sticker && files) {
        sticker = QSharedPointer<StickerItem>::create(pid, kSourceType);
        toMainThread(sticker.data());
        sticker->setSourceFile(
            files->createStickerData({{QStringLiteral("fileId"), fileId},
                                      {QStringLiteral("aesKey"), keyOf(map)},
                                      {QStringLiteral("fileType"), map.value(QStringLiteral("fileType"))}},
                                     kSourceType));
        const QVariantMap animated = map.value(QStringLiteral("animatedSticker")).toMap();
        if (!animated.value(QStringLiteral("fileId")).toString().isEmpty())
            sticker->setAnimatedFile(files->createStickerData(
                {{QStringLiteral("fileId"), animated.value(QStringLiteral("fileId"))},
                 {QStringLiteral("aesKey"), keyOf(animated)},
                 {QStringLiteral("w"), animated.value(QStringLiteral("width"))},
                 {QStringLiteral("h"), animated.value(QStringLiteral("height"))},
                 {QStringLiteral("size"), animated.value(QStringLiteral("size"))},
                 {QStringLiteral("fileType"), animated.value(QStringLiteral("fileType"))},
                 {QStringLiteral("fileMd5"), animated.value(QStringLiteral("checkSum"))}},
                kSourceType));
    }
    if (sticker) {
        if (DownloadStickerMgr* downloads = m_account->downloadStickerMgr())
            downloads->download(sticker->getDownloadSticker());
    }
    return sticker;
}

QSharedPointer<CustomEmojiItem> StatusShortCut::customEmojiOf(const QVariantMap& map)
{
    StickerBoxSetMgr* known = m_account->stickerBoxSetMgr();
    QSharedPointer<CustomEmojiItem> emoji =
        known ? known->customEmojiItemPtr(map.value(QStringLiteral("packId")).toLongLong(),
                                          map.value(QStringLiteral("customEmojiId")).toLongLong())
              : nullptr;
    if (!emoji) {
        emoji = QSharedPointer<CustomEmojiItem>::create(map, kSourceType, m_account);
        toMainThread(emoji.data());
    }
    if (DownloadStickerMgr* downloads = m_account->downloadStickerMgr())
        downloads->download(emoji->getDownloadFiles());
    return emoji;
}

void StatusShortCut::update(const QByteArray& json)
{
    m_shortCutSetting.clear();
    m_stickers.clear();
    // Only the shortcuts' own custom emoji are held: those of earlier values go with them.
    m_customEmoji.clear();
    const QVariantList entries = jsonToList(json);
    for (const QVariant& entry : entries) {
        const QVariantMap in = entry.toMap();
        QVariantMap out;
        for (const char* key : {"desc", "emoji", "time"})
            out.insert(QLatin1String(key), in.value(QLatin1String(key)));
        const QVariantMap sticker = in.value(kSticker).toMap();
        if (!sticker.isEmpty()) {
            if (const QSharedPointer<StickerItem> item = stickerOf(sticker)) {
                m_stickers.append(item);
                out.insert(kSticker, QVariant::fromValue<QObject*>(item.data()));
            }
        }
        if (in.value(kCustomEmoji).typeId() == QMetaType::QVariantMap) {
            const QSharedPointer<CustomEmojiItem> item = customEmojiOf(in.value(kCustomEmoji).toMap());
            m_customEmoji.append(item);
            out.insert(kCustomEmoji, QVariant::fromValue<QObject*>(item.data()));
        }
        m_shortCutSetting.append(out);
    }
    emit shortCutSettingChanged(m_shortCutSetting);
    emit hasShortCutChanged(hasShortCut());
}

void StatusShortCut::initConnection()
{
    auto* preferences = qobject_cast<SharedPreferenceModel*>(m_account->sharedPreference());
    if (!preferences)
        return;
    SharedPreferenceOwner owner;
    owner.acceptsKey = [](const QString& key) { return key == QLatin1String(hostkeys::USERSTATUS_SETTING); };
    owner.apply = [this](const QString&, const QByteArray& value, qint64, bool fromLocal) {
        // The local load's value is read by loadLocalData.
        if (!fromLocal)
            update(value);
        return true;
    };
    // This device's write, settled by the server: what it holds is shown, and the store tells the
    // interface how the write went.
    owner.confirmed = [this, preferences](const QString&, const QByteArray& value, const QVariantMap&) {
        update(value);
        emit preferences->updateStatusSettingFinish({{QStringLiteral("succ"), true}});
    };
    owner.superseded = [this, preferences](const QString&, const QByteArray& value, qint64,
                                           const QVariantMap&) {
        update(value);
        emit preferences->updateStatusSettingFinish({{QStringLiteral("succ"), false}});
    };
    preferences->registerOwner(SharedPreferenceModel::UserStatusSetting, this, owner);
}

bool StatusShortCut::loadLocalData(bool alreadyLoaded)
{
    if (alreadyLoaded)
        return true;
    if (SharedPreferenceBase* preferences = m_account->sharedPreference())
        update(preferences->getKeyValue(QLatin1String(hostkeys::USERSTATUS_SETTING)));
    return true;
}

bool StatusShortCut::clearData(bool force)
{
    Q_UNUSED(force)
    m_shortCutSetting.clear();
    m_stickers.clear();
    m_customEmoji.clear();
    return true;
}
