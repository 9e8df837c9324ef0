#include "demodevice.h"

#include "emoji/recentemojimodel.h"
#include "emoji/statusshortcut.h"
#include "host/appdirmanager.h"
#include "host/util.h"
#include "media.h"
#include "profilephotos/alternativeprofilephoto.h"
#include "refcontacts.h"
#include "themes/themehandler.h"
#include "wallpapers/wallpaperhandler.h"
#include "wallpapers/wallpaperitem.h"

#include "host/contacts.h"
#include "host/cryptoaes.h"
#include "host/dialogbase.h"
#include "host/emojiparser.h"
#include "host/files.h"
#include "host/stickers.h"
#include "notifications/groupmutedsettingmodel.h"
#include "notifications/ringtonemanager.h"

#include "commands/settingservicecmd.h"
#include "host/accountdevicemodel.h"
#include "host/accountmanager.h"
#include "host/threadmanager.h"
#include "im/misc.pb.h"
#include "preferences/sharedpreferencemodel.h"
#include "privacy/privacymodel.h"
#include "simfilestore.h"
#include "simserver.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QThreadPool>

namespace {

// The directory both devices know: people, groups (each a chat too, so that it can be muted with
// exceptions), a chat with each person, and the tags chats can carry.
struct Person {
    qint64 id;
    const char* name;
};
constexpr Person kPeople[] = {{101, "Alice Wong"},  {102, "Bruno Diaz"}, {103, "Chen Li"},
                              {104, "Dana Okafor"}, {105, "Emil Novak"}, {106, "Fatima Haddad"}};
struct Group {
    qint64 id;
    const char* dialogId;
    const char* name;
};
constexpr Group kGroups[] = {{201, "family", "Family"},
                             {202, "bookclub", "Book club"},
                             {203, "climbing", "Climbing"},
                             {204, "neighbours", "Neighbours"},
                             {205, "workteam", "Work team"}};
struct Tag {
    const char* id;
    const char* name;
};
constexpr Tag kTags[] = {{"work", "Work"}, {"friends", "Friends"}, {"unread", "Unread"}};

// The sticker pack: drawn at start, its keys known to every device (as a pack's are).
struct Sticker {
    qint64 pid;
    const char* name;
    const char* colour;
    const char* glyph;
};
constexpr Sticker kStickers[] = {{9001, "Thumbs up", "#2F855A", "+1"},
                                 {9002, "Coffee", "#8B5A2B", "C"},
                                 {9003, "Party", "#B83280", "!"},
                                 {9004, "Sleepy", "#3A66C4", "z"}};
QHash<qint64, QByteArray>& stickerKeys()
{
    static QHash<qint64, QByteArray> keys;
    return keys;
}
QString stickerFileId(qint64 pid)
{
    return QStringLiteral("sticker-%1").arg(pid);
}

QString personChat(qint64 userId)
{
    return QStringLiteral("user%1").arg(userId);
}

} // namespace

int PreferenceTable::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant PreferenceTable::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    const auto& row = m_rows.at(index.row());
    switch (role) {
    case KeyRole: return row.key;
    case TypeRole: return row.type;
    case ValueRole: return QString::fromUtf8(row.value);
    case VersionRole: return row.version;
    case UnappliedRole: return row.unapplied != 0;
    default: return {};
    }
}

QHash<int, QByteArray> PreferenceTable::roleNames() const
{
    return {{KeyRole, "key"},
            {TypeRole, "type"},
            {ValueRole, "value"},
            {VersionRole, "version"},
            {UnappliedRole, "unapplied"}};
}

void PreferenceTable::setRows(const QList<storage::SharedPreferenceInfo>& rows)
{
    const bool countChanges = rows.size() != m_rows.size();
    beginResetModel();
    m_rows = rows;
    endResetModel();
    if (countChanges)
        emit countChanged();
}

DemoDevice::DemoDevice(const QString& name, int deviceId, const QString& dataDir, SimServer* server,
                       std::function<qint64()> worldClock, QObject* parent)
    : DemoDevice(
          name, deviceId, dataDir,
          [server, deviceId, name] {
              return server->connectDevice(deviceId, QStringLiteral("Desktop %1").arg(name),
                                           QStringLiteral("desktop"));
          },
          std::move(worldClock), parent)
{
    m_server = server;
}

DemoDevice::DemoDevice(const QString& name, int deviceId, const QString& dataDir, Connector connector,
                       std::function<qint64()> worldClock, QObject* parent)
    : QObject(parent),
      m_name(name),
      m_deviceId(deviceId),
      m_dataDir(dataDir),
      m_connector(std::move(connector)),
      m_worldClock(std::move(worldClock)),
      m_table(new PreferenceTable(this))
{
    makeSession();
    const QString accountId = m_account->accountId();
    connect(AccountManager::getInstance(), &AccountManager::errorReported, this,
            [this, accountId](int, const QString& text, int, const QString& source, int severity) {
                if (source == accountId)
                    addMessage(text, severity == AccountManager::Failure);
            });
}

void DemoDevice::publishStickers(SimServer* server)
{
    for (const Sticker& sticker : kStickers) {
        QImage image(160, 160, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor::fromString(QLatin1String(sticker.colour)));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(image.rect().adjusted(8, 8, -8, -8));
        painter.setPen(Qt::white);
        QFont font = painter.font();
        font.setPixelSize(64);
        font.setBold(true);
        painter.setFont(font);
        painter.drawText(image.rect(), Qt::AlignCenter, QLatin1String(sticker.glyph));
        painter.end();
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        QByteArray& key = stickerKeys()[sticker.pid];
        if (key.isEmpty())
            key = CryptoAES::createKey(32);
        server->fileStore()->publish(stickerFileId(sticker.pid), CryptoAES::encrypt(png, key));
    }
}

QVariantList DemoDevice::stickers()
{
    QVariantList list;
    for (const Sticker& sticker : kStickers)
        list.append(QVariantMap{{QStringLiteral("pid"), sticker.pid},
                                {QStringLiteral("name"), QString::fromUtf8(sticker.name)}});
    return list;
}

QString DemoDevice::stickerImage(QObject* sticker) const
{
    const auto* item = qobject_cast<StickerItem*>(sticker);
    const StickerDataPtr file = item ? item->sourceFile() : StickerDataPtr();
    return file && file->fileExist() ? file->localPath() : QString();
}

QObject* DemoDevice::chat(const QString& dialogId) const
{
    return m_account->dialogById(dialogId, false).data();
}

QObject* DemoDevice::chatWallpaper(const QString& dialogId)
{
    const QSharedPointer<DialogBase> dialog = m_account->dialogById(dialogId, false);
    const QByteArray bytes = dialog ? dialog->wallpaper() : QByteArray();
    auto& [madeFrom, item] = m_chatWallpapers[dialogId];
    if (item && madeFrom == bytes)
        return item;
    if (item)
        item->deleteLater();
    item = nullptr;
    madeFrom = bytes;
    im::WallPaper message;
    if (!bytes.isEmpty() && message.ParseFromArray(bytes.constData(), int(bytes.size())))
        item = new WallpaperItem(m_account, message, this);
    return item;
}

QStringList DemoDevice::emojiTable()
{
    QStringList table;
    const int count = EmojiParser::emojiCount();
    table.reserve(count);
    for (int i = 0; i < count; ++i)
        table.append(EmojiParser::emojiByIndex(i));
    return table;
}

QVariantList DemoDevice::people()
{
    QVariantList list;
    for (const Person& person : kPeople)
        list.append(QVariantMap{{QStringLiteral("id"), person.id},
                                {QStringLiteral("name"), QString::fromUtf8(person.name)}});
    return list;
}

QVariantList DemoDevice::groups()
{
    QVariantList list;
    for (const Group& group : kGroups)
        list.append(QVariantMap{{QStringLiteral("id"), group.id},
                                {QStringLiteral("name"), QString::fromUtf8(group.name)},
                                {QStringLiteral("dialogId"), QString::fromLatin1(group.dialogId)}});
    return list;
}

QVariantList DemoDevice::chats()
{
    QVariantList list;
    for (const Group& group : kGroups)
        list.append(QVariantMap{{QStringLiteral("dialogId"), QString::fromLatin1(group.dialogId)},
                                {QStringLiteral("name"), QString::fromUtf8(group.name)},
                                {QStringLiteral("group"), true}});
    for (const Person& person : kPeople)
        list.append(QVariantMap{{QStringLiteral("dialogId"), personChat(person.id)},
                                {QStringLiteral("name"), QString::fromUtf8(person.name)},
                                {QStringLiteral("group"), false}});
    return list;
}

QVariantList DemoDevice::dialogTags()
{
    QVariantList list;
    for (const Tag& tag : kTags)
        list.append(QVariantMap{{QStringLiteral("id"), QString::fromLatin1(tag.id)},
                                {QStringLiteral("name"), QString::fromUtf8(tag.name)}});
    return list;
}

void DemoDevice::seedDirectory()
{
    for (const Person& person : kPeople) {
        m_account->refUserManager()->addUser(person.id, QString::fromUtf8(person.name));
        m_account->addDialog(personChat(person.id), false);
    }
    for (const Group& group : kGroups)
        m_account->addDialog(
            QString::fromLatin1(group.dialogId), true,
            m_account->refGroupModelMgr()->addGroup(group.id, QString::fromUtf8(group.name)));
}

void DemoDevice::makeSession()
{
    // Chats' wallpapers were the last account's.
    for (auto& entry : m_chatWallpapers) {
        if (entry.second)
            entry.second->deleteLater();
    }
    m_chatWallpapers.clear();
    m_account = new RefAccount(QStringLiteral("device-%1").arg(m_name), m_dataDir, m_connector());
    seedDirectory();
    m_composition = new AccountComposition(m_account, this);
    m_account->setClock([this] { return m_worldClock() + m_clockSkew; });
    connect(m_account, &RefAccount::onlineChanged, this, &DemoDevice::onlineChanged);
    // A database set aside while in use: the account is made again from the fresh file and the
    // server, as at a start.
    connect(m_account, &RefAccount::storageReset, this, [this] {
        m_account->releaseStorage();
        renewSession();
    });
    connect(m_account, &RefAccount::sessionEnded, this, [this] {
        m_table->setRows({});
        emit sessionChanged();
    });
    // The photo list tells of its failures by signal; the device shows them as sentences.
    connect(m_composition->alternativeProfilePhoto(), &AlternativeProfilePhoto::moddifyFail, this,
            [this](AlternativeProfilePhoto::PhotoError error) {
                switch (error) {
                case AlternativeProfilePhoto::UploadPhotoFail:
                    addMessage(tr("The photo could not be uploaded. Please try again."), true);
                    break;
                case AlternativeProfilePhoto::ModifyFail:
                    addMessage(tr("The server did not accept the change to your photos."), true);
                    break;
                case AlternativeProfilePhoto::NetFail:
                    addMessage(tr("There is no network connection."), true);
                    break;
                }
            });
    connect(sharedPreference(), &SharedPreferenceBase::listFinished, this, [this] {
        refreshPreferences();
        if (!m_ready) {
            m_ready = true; // the first list from the server has been applied
            emit readyChanged();
        }
    });
    // Once the models have their local copies and asked the server, the host asks for the
    // account's own state.
}

void DemoDevice::signIn(const QString& dataDir)
{
    if (!m_account->isSignedOut())
        return;
    if (!dataDir.isEmpty())
        m_dataDir = dataDir;
    renewSession();
}

void DemoDevice::renewSession()
{
    // The screens move to the new session before the ended one goes (the composition deletes
    // its account with it).
    AccountComposition* ended = m_composition;
    const bool online = m_account->isOnline();
    if (m_ready) {
        m_ready = false;
        emit readyChanged();
    }
    makeSession();
    if (m_server) {
        m_server->setDeviceOnline(m_deviceId, online);
        m_account->setOnline(online);
    }
    emit sessionChanged();
    emit onlineChanged();
    ended->deleteLater();
    start();
}

DemoDevice::~DemoDevice()
{
    // The composition signs the account out and deletes it.
    delete m_composition;
}

QObject* DemoDevice::settingServiceCmdObject() const
{
    return settingServiceCmd();
}
QObject* DemoDevice::privacyModelObject() const
{
    return privacyModel();
}
QObject* DemoDevice::sharedPreferenceObject() const
{
    return sharedPreference();
}
QObject* DemoDevice::deviceModelObject() const
{
    return m_account->deviceModel();
}

QObject* DemoDevice::ringtoneManagerObject() const
{
    return m_account->ringtoneManager();
}

QObject* DemoDevice::groupMutedSettingModelObject() const
{
    return m_account->groupMutedSettingModel();
}

QObject* DemoDevice::wallpaperHandlerObject() const
{
    return m_account->wallpaperHandler();
}

QStringList DemoDevice::wallpaperIds(bool ownOnly) const
{
    QStringList ids;
    if (WallpaperHandler* wallpapers = m_account->wallpaperHandler()) {
        for (const WallpaperItemPtr& item : wallpapers->wallpaperModel()->items()) {
            if (!ownOnly || item->isOwner())
                ids.append(item->wallpaperId());
        }
    }
    return ids;
}

bool DemoDevice::wallpaperImageHere(const QString& id) const
{
    WallpaperHandler* wallpapers = m_account->wallpaperHandler();
    const WallpaperItem* item = wallpapers ? wallpapers->wallpaperModel()->getItemById(id) : nullptr;
    return item && item->hiPhoto() && item->hiPhoto()->fileExist();
}

int DemoDevice::failedWallpaperUploads() const
{
    WallpaperHandler* wallpapers = m_account->wallpaperHandler();
    return wallpapers ? int(wallpapers->failedUploads().size()) : 0;
}

QObject* DemoDevice::themeHandlerObject() const
{
    return m_account->themeHandler();
}

QObject* DemoDevice::recentEmojiObject() const
{
    return m_composition->recentEmojiModel(RecentEmojiModel::Emoji);
}

QObject* DemoDevice::recentReactionsObject() const
{
    return m_composition->recentEmojiModel(RecentEmojiModel::Reaction);
}

QObject* DemoDevice::statusShortCutObject() const
{
    return m_account->statusShortCut();
}

QObject* DemoDevice::alternativeProfilePhotoObject() const
{
    return m_composition->alternativeProfilePhoto();
}

void DemoDevice::addAlternativePhoto(const QString& color)
{
    const QString base = AppDirManager::tempDir() + Util::instance()->uuid();
    const QColor shade = QColor::fromString(color);
    m_composition->alternativeProfilePhoto()->addPrfilePhoto(
        {{QStringLiteral("loImagePath"),
          media::writeImage(base + QStringLiteral("-lo.jpg"), QSize(96, 96), shade)},
         {QStringLiteral("hiImagePath"),
          media::writeImage(base + QStringLiteral("-hi.jpg"), QSize(480, 480), shade)}});
}

void DemoDevice::writeStatusShortcuts(const QStringList& descriptions, const QStringList& emoji)
{
    QVariantList entries;
    for (int i = 0; i < descriptions.size(); ++i)
        entries.append(QVariantMap{{QStringLiteral("desc"), descriptions.at(i)},
                                   {QStringLiteral("emoji"), emoji.value(i)},
                                   {QStringLiteral("time"), 3600}});
    writeStatusShortcutEntries(entries);
}

void DemoDevice::writeStatusShortcutEntries(const QVariantList& entries)
{
    QVariantList written;
    QList<QSharedPointer<StickerItem>> made;
    for (const QVariant& entry : entries) {
        QVariantMap map = entry.toMap();
        const qint64 pid = map.take(QStringLiteral("stickerPid")).toLongLong();
        if (pid > 0 && stickerKeys().contains(pid)) {
            // A sticker of the pack, as a client's sticker panel hands it over.
            auto sticker = QSharedPointer<StickerItem>::create(pid, StatusShortCut::kSourceType);
            sticker->setSourceFile(m_account->fileManager()->createStickerData(
                {{QStringLiteral("fileId"), stickerFileId(pid)},
                 {QStringLiteral("aesKey"), QString::fromLatin1(stickerKeys().value(pid).toBase64())},
                 {QStringLiteral("fileType"), 1}},
                StatusShortCut::kSourceType));
            map.insert(QStringLiteral("sticker"), QVariant::fromValue<QObject*>(sticker.data()));
            made.append(sticker);
        }
        written.append(map);
    }
    sharedPreference()->updateUserStatusSettingReq(written);
}

void DemoDevice::addAlternativePhotoFromFile(const QString& path)
{
    const QString base = AppDirManager::tempDir() + Util::instance()->uuid();
    QPointer<DemoDevice> self(this);
    // A pool thread, not the storage thread: decoding a large picture must not hold up the database.
    QThreadPool::globalInstance()->start([self, path, base] {
        QImage image(path);
        QString lo;
        QString hi;
        if (!image.isNull()) {
            // The middle square of the picture, as a profile photo shows it.
            const int side = qMin(image.width(), image.height());
            const QImage square =
                image.copy((image.width() - side) / 2, (image.height() - side) / 2, side, side);
            lo = base + QStringLiteral("-lo.jpg");
            hi = base + QStringLiteral("-hi.jpg");
            if (!square.scaled(96, 96, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).save(lo) ||
                !square.scaled(480, 480, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).save(hi))
                lo.clear();
        }
        QMetaObject::invokeMethod(
            self,
            [self, lo, hi] {
                if (!self)
                    return;
                if (lo.isEmpty()) {
                    self->addMessage(tr("This file is not a picture that can be read."), true);
                    return;
                }
                self->m_composition->alternativeProfilePhoto()->addPrfilePhoto(
                    {{QStringLiteral("loImagePath"), lo}, {QStringLiteral("hiImagePath"), hi}});
            },
            Qt::QueuedConnection);
    });
}

QStringList DemoDevice::customThemeNames() const
{
    QStringList names;
    if (ThemeHandler* themes = m_account->themeHandler()) {
        for (const ThemeItem* theme : themes->customThemeModel()->themes())
            names.append(theme->name());
    }
    return names;
}

bool DemoDevice::themeImageHere(const QString& name) const
{
    ThemeHandler* themes = m_account->themeHandler();
    if (!themes)
        return false;
    for (const ThemeItem* theme : themes->customThemeModel()->themes()) {
        const WallpaperItem* wallpaper = theme->light() ? theme->light()->wallpaperItem() : nullptr;
        if (theme->name() == name)
            return wallpaper && !wallpaper->internalPattern() && wallpaper->hiPhoto() &&
                   wallpaper->hiPhoto()->fileExist();
    }
    return false;
}

QStringList DemoDevice::customRingtoneIds() const
{
    QStringList ids;
    if (RingtoneManager* ringtones = m_account->ringtoneManager()) {
        for (const CustomRingtoneItem* item : ringtones->customRingtoneModel()->items())
            ids.append(item->fileId());
    }
    return ids;
}

bool DemoDevice::chatSilent(const QString& dialogId) const
{
    RingtoneManager* ringtones = m_account->ringtoneManager();
    const RingtoneSetting* setting = ringtones ? ringtones->getRingtoneSetting(dialogId) : nullptr;
    return setting && setting->silence();
}

QString DemoDevice::chatName(const QString& dialogId) const
{
    const QSharedPointer<DialogBase> chat = m_account->dialogById(dialogId, false);
    if (chat && chat->group())
        return chat->group()->name();
    for (const Person& person : kPeople) {
        if (personChat(person.id) == dialogId)
            return QString::fromUtf8(person.name);
    }
    return dialogId;
}

void DemoDevice::start()
{
    m_composition->start();
}

void DemoDevice::stop()
{
    m_composition->stop();
}

bool DemoDevice::online() const
{
    return m_account->isOnline();
}

void DemoDevice::setOnline(bool online)
{
    if (m_server)
        m_server->setDeviceOnline(m_deviceId, online);
    // Back online, the composition asks for what the device missed.
    m_account->setOnline(online);
}

void DemoDevice::setClockSkew(qint64 skew)
{
    if (m_clockSkew == skew)
        return;
    m_clockSkew = skew;
    emit clockSkewChanged();
}

QString DemoDevice::preference(const QString& key) const
{
    return QString::fromUtf8(sharedPreference()->getKeyValue(key));
}

void DemoDevice::writePreference(int type, const QString& key, const QString& value)
{
    im::misc::UpdateSharedPreferencesV2Req req;
    sharedPreference()->makeSharedPreference(req.add_preferences(), key, value.toUtf8(), type, true);
    sharedPreference()->updateSharedPreferences(req, true);
}

void DemoDevice::refreshPreferences()
{
    auto* store = m_account->storage()->sharedPreferenceStorage();
    QPointer<PreferenceTable> table(m_table);
    ThreadManager::getInstance()->invoke(
        [store, table] {
            const auto rows = store->allInfos();
            QMetaObject::invokeMethod(
                table, [table, rows] { table->setRows(rows); }, Qt::QueuedConnection);
        },
        true);
}

void DemoDevice::sync()
{
    m_composition->askForNews();
}

void DemoDevice::clearErrors()
{
    m_errors.clear();
    m_messages.clear();
    emit errorsChanged();
}

void DemoDevice::addMessage(const QString& text, bool failure)
{
    m_errors.append(text);
    m_messages.prepend(QVariantMap{{QStringLiteral("id"), m_nextMessageId++},
                                   {QStringLiteral("text"), text},
                                   {QStringLiteral("failure"), failure}});
    emit errorsChanged();
}

void DemoDevice::dismissMessage(int id)
{
    m_messages.removeIf(
        [id](const QVariant& message) { return message.toMap().value(QStringLiteral("id")).toInt() == id; });
    emit errorsChanged();
}
