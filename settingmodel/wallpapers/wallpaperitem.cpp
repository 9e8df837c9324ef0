#include "wallpapers/wallpaperitem.h"

#include "colornames.h"
#include "host/accountbase.h"
#include "host/appsettingmodel.h"
#include "host/util.h"
#include "im/content.pb.h"
#include "themes/presetthemes.h"

#include <QCoreApplication>
#include <QJSEngine>
#include <QThread>

namespace {

const QString kBg = QStringLiteral("bg");
const QString kFileId = QStringLiteral("fileId");
const QString kPattern = QStringLiteral("pattern");

QStringList namesOf(const QList<int>& colors)
{
    QStringList names;
    names.reserve(colors.size());
    for (int color : colors)
        names.append(Util::instance()->rgbaToColorName(color, 0));
    return names;
}

QList<int> valuesOf(const QStringList& names)
{
    QList<int> colors;
    colors.reserve(names.size());
    for (const QString& name : names)
        colors.append(Util::instance()->colorNameToRgba(name));
    return colors;
}

FileDataPtr fileOf(AccountBase* account, const im::Photo& photo)
{
    FileManager* files = account ? account->fileManager() : nullptr;
    if (!files || photo.file_id().empty())
        return {};
    im::content::FileInfo info;
    info.set_file_id(photo.file_id());
    info.set_aes_key(photo.aes_key());
    info.set_md5(photo.md5());
    info.set_size(photo.size());
    return files->createFileData(info, WallpaperItem::kFileType, WallpaperItem::kSourceType);
}

void writePhoto(const FileDataPtr& file, im::Photo* photo)
{
    photo->set_file_id(file->fileId().toStdString());
    photo->set_aes_key(file->aesKey().toStdString());
    photo->set_md5(file->fileMd5().toStdString());
    photo->set_size(int(file->size()));
}

void appendId(QStringList& ids, const FileDataPtr& file)
{
    if (file && !file->fileId().isEmpty())
        ids.append(file->fileId());
}

void appendOnce(QStringList& ids, const FileDataPtr& file)
{
    if (file && !ids.contains(file->fileId()))
        appendId(ids, file);
}

} // namespace

WallpaperItem::WallpaperItem(const QVariantMap& map, QObject* parent) : QObject(parent)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    m_isOwner = true;
    m_isPreset = true;
    m_bgColorNames = map.value(kBg).toStringList();
    m_bgColors = valuesOf(m_bgColorNames);
    if (map.contains(kFileId)) {
        m_hasPattern = true;
        setPatternFile(map.value(kFileId).toString(), map.value(kPattern).toString());
        m_wallpaperId = m_loPhoto->fileId();
    }
}

WallpaperItem::WallpaperItem(AccountBase* account, const im::WallPaper& message, QObject* parent,
                             std::optional<bool> presetDark)
    : QObject(parent),
      m_account(account),
      m_message(message)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    m_wallpaperId = idOf(message);
    m_thumbBytes = QByteArray::fromStdString(message.thumbnail());
    m_lastUpdated = message.update_time();
    m_deleted = message.deleted();
    m_isOwner = message.is_owner();
    m_isPreset = message.is_preset();
    m_hasPattern = message.has_pattern();
    m_isDark = m_sortDark = message.is_dark();

    const QString patternId = QString::fromStdString(message.pattern_id());
    if (!patternId.isEmpty()) {
        setPatternFile(patternId, settingmodel::presetPatternPath(patternId));
    } else if (message.has_photo_set()) {
        if (message.photo_set().has_lo_res())
            m_loPhoto = fileOf(account, message.photo_set().lo_res());
        if (message.photo_set().has_hi_res())
            m_hiPhoto = fileOf(account, message.photo_set().hi_res());
    }
    // A preset shows as dark by its picture; the order keeps the server's flag.
    if (!presetDark)
        presetDark = presetDarkOf(message);
    if (presetDark)
        m_isDark = *presetDark;

    if (message.has_setting()) {
        const im::WallPaperSetting& setting = message.setting();
        m_bgColors = QList<int>(setting.bg_colors().begin(), setting.bg_colors().end());
        m_bgColorNames = namesOf(m_bgColors);
        m_rotation = setting.rotation();
        m_blur = setting.blur();
        m_isMotion = setting.motion();
        m_intensity = setting.intensity();
        m_scale = setting.scale();
        m_fillType = setting.fill_type();
    }
}

WallpaperItem::WallpaperItem(AccountBase* account, bool isOwner, QObject* parent)
    : QObject(parent),
      m_account(account),
      m_isOwner(isOwner)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

WallpaperItem::WallpaperItem(const WallpaperItem* other, QObject* parent) : QObject(parent)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    if (other)
        *this = *other;
}

WallpaperItem::~WallpaperItem()
{
    emit startDestroy();
}

WallpaperItem& WallpaperItem::operator=(const WallpaperItem& other)
{
    if (this == &other)
        return *this;
    m_account = other.m_account;
    m_message = other.m_message;
    m_wallpaperId = other.m_wallpaperId;
    m_thumbBytes = other.m_thumbBytes;
    m_lastUpdated = other.m_lastUpdated;
    m_loPhoto = other.m_loPhoto;
    m_hiPhoto = other.m_hiPhoto;
    m_isOwner = other.m_isOwner;
    m_isPreset = other.m_isPreset;
    m_hasPattern = other.m_hasPattern;
    m_isDark = other.m_isDark;
    m_sortDark = other.m_sortDark;
    m_deleted = other.m_deleted;
    m_bgColors = other.m_bgColors;
    m_bgColorNames = other.m_bgColorNames;
    m_rotation = other.m_rotation;
    m_blur = other.m_blur;
    m_isMotion = other.m_isMotion;
    m_intensity = other.m_intensity;
    m_scale = other.m_scale;
    m_fillType = other.m_fillType;
    m_internalPattern = other.m_internalPattern;
    return *this;
}

void WallpaperItem::setPatternFile(const QString& fileId, const QString& path)
{
    m_internalPattern = true;
    auto* file = new InnerFileData;
    file->setFileId(fileId);
    file->setFilePath(path);
    file->setFileType(kFileType);
    file->setModelSourceType(kSourceType);
    // Items may be built on a worker; their files are read by the interface.
    if (QCoreApplication::instance())
        file->moveToThread(QCoreApplication::instance()->thread());
    m_loPhoto = m_hiPhoto = FileDataPtr(file, &deleteOnOwnThread<FileData>);
}

template <class T> void WallpaperItem::assign(T& field, const T& value, void (WallpaperItem::*changed)())
{
    if (field == value)
        return;
    field = value;
    emit(this->*changed)();
}

void WallpaperItem::setLoPhoto(const FileDataPtr& file)
{
    assign(m_loPhoto, file, &WallpaperItem::loPhotoChanged);
}

void WallpaperItem::setHiPhoto(const FileDataPtr& file)
{
    assign(m_hiPhoto, file, &WallpaperItem::hiPhotoChanged);
}

void WallpaperItem::setHasPattern(bool hasPattern)
{
    assign(m_hasPattern, hasPattern, &WallpaperItem::hasPatternChanged);
}

void WallpaperItem::setIsDark(bool dark)
{
    m_sortDark = dark;
    assign(m_isDark, dark, &WallpaperItem::isDarkChanged);
}

void WallpaperItem::setBgColors(const QStringList& names)
{
    if (names == m_bgColorNames || !settingmodel::acceptColorNames(names, "background colours"))
        return;
    m_bgColorNames = names;
    m_bgColors = valuesOf(names);
    emit bgColorsChanged();
}

void WallpaperItem::setBgColors(const QList<int>& colors)
{
    if (colors == m_bgColors)
        return;
    m_bgColors = colors;
    m_bgColorNames = namesOf(colors);
    emit bgColorsChanged();
}

void WallpaperItem::setRotation(int rotation)
{
    assign(m_rotation, rotation, &WallpaperItem::rotationChanged);
}

void WallpaperItem::setBlur(int blur)
{
    assign(m_blur, blur, &WallpaperItem::blurChanged);
}

void WallpaperItem::setIsMotion(bool motion)
{
    assign(m_isMotion, motion, &WallpaperItem::isMotionChanged);
}

void WallpaperItem::setIntensity(int intensity)
{
    assign(m_intensity, intensity, &WallpaperItem::intensityChanged);
}

void WallpaperItem::setScale(int scale)
{
    assign(m_scale, scale, &WallpaperItem::scaleChanged);
}

void WallpaperItem::setFillType(int fillType)
{
    assign(m_fillType, fillType, &WallpaperItem::fillTypeChanged);
}

void WallpaperItem::setUploadFailed(bool failed)
{
    assign(m_uploadFailed, failed, &WallpaperItem::uploadFailedChanged);
}

void WallpaperItem::setUnsynced(bool unsynced)
{
    assign(m_unsynced, unsynced, &WallpaperItem::unsyncedChanged);
}

bool WallpaperItem::sameWallpaper(WallpaperItem* other) const
{
    if (!other)
        return false;
    if (m_isOwner && other->m_isOwner)
        return m_wallpaperId == other->m_wallpaperId;
    if (m_bgColorNames != other->m_bgColorNames)
        return false;
    if (m_hiPhoto == other->m_hiPhoto)
        return true;
    return m_hiPhoto && other->m_hiPhoto && m_hiPhoto->fileId() == other->m_hiPhoto->fileId();
}

void WallpaperItem::serialize(im::WallPaper* target, bool forSave)
{
    if (!target)
        return;
    if (forSave)
        m_message.set_local_id(m_wallpaperId.toStdString());
    else
        m_message.set_id(m_wallpaperId.toStdString());
    m_message.set_update_time(m_lastUpdated);
    m_message.set_thumbnail(m_thumbBytes.toStdString());
    if (m_internalPattern) {
        m_message.clear_photo_set();
        m_message.set_pattern_id(m_loPhoto ? m_loPhoto->fileId().toStdString() : std::string());
    } else {
        m_message.clear_pattern_id();
        im::PhotoSet* photos = m_message.mutable_photo_set();
        if (const FileDataPtr lo = m_loPhoto ? m_loPhoto : m_hiPhoto)
            writePhoto(lo, photos->mutable_lo_res());
        else
            photos->clear_lo_res();
        if (m_hiPhoto)
            writePhoto(m_hiPhoto, photos->mutable_hi_res());
        else
            photos->clear_hi_res();
    }
    m_message.set_is_owner(m_isOwner);
    m_message.set_is_preset(m_isPreset);
    m_message.set_has_pattern(m_hasPattern);
    m_message.set_is_dark(m_isDark);
    m_message.set_deleted(m_deleted);
    im::WallPaperSetting* setting = m_message.mutable_setting();
    setting->Clear();
    for (int color : std::as_const(m_bgColors))
        setting->add_bg_colors(color);
    setting->set_rotation(m_rotation);
    setting->set_blur(m_blur);
    setting->set_motion(m_isMotion);
    setting->set_intensity(m_intensity);
    setting->set_scale(m_scale);
    setting->set_fill_type(m_fillType);
    *target = m_message;
}

bool WallpaperItem::operator>(const WallpaperItem& other) const
{
    return greater(*this, other, AppSettingModel::instance()->darkMode());
}

QString WallpaperItem::idOf(const im::WallPaper& message)
{
    // A pattern listed without an id of its own is known by its pattern's.
    const std::string& id = message.id().empty() ? message.pattern_id() : message.id();
    return QString::fromStdString(id);
}

std::optional<bool> WallpaperItem::presetDarkOf(const im::WallPaper& message)
{
    if (!message.is_preset() || message.thumbnail().empty())
        return std::nullopt;
    return Util::instance()->bright(QByteArray::fromStdString(message.thumbnail())) < 128;
}

WallpaperItem::SortKey WallpaperItem::sortKeyOf(AccountBase* account, const im::WallPaper& message)
{
    // As the constructor reads the message: a preset pattern is its own hi-res file; a photo's
    // is made when the account can make files and the photo names one.
    const bool hiPhoto =
        !message.pattern_id().empty() ||
        (message.has_photo_set() && message.photo_set().has_hi_res() &&
         !message.photo_set().hi_res().file_id().empty() && account && account->fileManager());
    return {idOf(message), message.update_time(), message.has_pattern(),
            hiPhoto,       message.is_dark(),     message.is_owner()};
}

namespace {

// The wallpaper order over what an item or a key holds; each side reads through the same calls.
template <class View> bool greaterOf(const View& a, const View& b, bool darkMode)
{
    // Only one wallpaper is pinned at a time; two pinned ones fall back to the other rules, so
    // that the order stays an order.
    if (a.themePlace() != b.themePlace())
        return a.themePlace();
    if (a.hasPattern() != b.hasPattern())
        return a.hasPattern();
    const auto newer = [&a, &b] { return a.time() != b.time() ? a.time() > b.time() : a.id() > b.id(); };
    if (a.hasPattern()) {
        if (a.hiPhoto() != b.hiPhoto())
            return a.hiPhoto();
        return newer();
    }
    if (darkMode) {
        if (a.sortDark() != b.sortDark())
            return a.sortDark();
        if (a.isOwner() != b.isOwner())
            return a.isOwner();
        return newer();
    }
    if (a.isOwner() != b.isOwner())
        return a.isOwner();
    if (a.isOwner())
        return a.time() > b.time();
    if (a.sortDark() != b.sortDark())
        return !a.sortDark();
    return newer();
}

struct KeyView {
    const WallpaperItem::SortKey& key;
    bool themePlace() const { return false; }
    bool hasPattern() const { return key.hasPattern; }
    bool hiPhoto() const { return key.hiPhoto; }
    qint64 time() const { return key.time; }
    const QString& id() const { return key.id; }
    bool sortDark() const { return key.sortDark; }
    bool isOwner() const { return key.isOwner; }
};

} // namespace

bool WallpaperItem::greater(const SortKey& a, const SortKey& b, bool darkMode)
{
    return greaterOf(KeyView{a}, KeyView{b}, darkMode);
}

struct WallpaperItem::ItemView {
    const WallpaperItem& item;
    bool themePlace() const { return item.m_themePlace; }
    bool hasPattern() const { return item.m_hasPattern; }
    bool hiPhoto() const { return bool(item.m_hiPhoto); }
    qint64 time() const { return item.m_lastUpdated; }
    const QString& id() const { return item.m_wallpaperId; }
    bool sortDark() const { return item.m_sortDark; }
    bool isOwner() const { return item.m_isOwner; }
};

bool WallpaperItem::greater(const WallpaperItem& a, const WallpaperItem& b, bool darkMode)
{
    return greaterOf(ItemView{a}, ItemView{b}, darkMode);
}

void WallpaperItem::getFileIds(QStringList& ids) const
{
    if (m_internalPattern)
        return;
    appendOnce(ids, m_loPhoto);
    appendOnce(ids, m_hiPhoto);
}

void WallpaperItem::downloadFileIds(QStringList& ids) const
{
    if (m_internalPattern)
        return;
    for (const FileDataPtr& file : {m_loPhoto, m_hiPhoto}) {
        if (file && !file->fileExist())
            appendId(ids, file);
    }
}

void WallpaperItem::filePlaces(QList<FilePlace>& places) const
{
    if (m_internalPattern)
        return;
    for (const FileDataPtr& file : {m_loPhoto, m_hiPhoto}) {
        if (file && !file->fileId().isEmpty())
            places.append({file->fileId(), file->cacheFilePath(), file->filePath()});
    }
}

void WallpaperItem::downloadFile(AccountBase* account) const
{
    QStringList ids;
    downloadFileIds(ids);
    ids.removeDuplicates();
    FileManager* files = account ? account->fileManager() : nullptr;
    if (!ids.isEmpty() && files)
        files->downloadFileMgr()->downloads(ids, false, false, true);
}

void WallpaperItem::deleteFile(const QSet<QString>& keep) const
{
    if (m_internalPattern)
        return;
    FileManager* files = m_account ? m_account->fileManager() : nullptr;
    for (const FileDataPtr& file : {m_loPhoto, m_hiPhoto}) {
        if (!file || keep.contains(file->cacheFilePath()))
            continue;
        // The record goes with the copy: nothing lists the file any more.
        if (files && !file->fileId().isEmpty())
            files->fileDataMgr()->deleteFileByRef(file, true);
        else
            Util::instance()->deleteFile(file->cacheFilePath());
    }
}

void WallpaperItem::cachedFilePaths(QSet<QString>& paths) const
{
    if (m_internalPattern)
        return;
    for (const FileDataPtr& file : {m_loPhoto, m_hiPhoto}) {
        if (file && !file->cacheFilePath().isEmpty())
            paths.insert(file->cacheFilePath());
    }
}

void WallpaperItem::duplicatedFiles(AccountBase* account, const QHash<QString, QString>& oldToNew,
                                    QList<FileDataPtr>& replaced)
{
    FileManager* files = account ? account->fileManager() : nullptr;
    if (m_internalPattern || !files)
        return;
    const bool shared = m_loPhoto && m_loPhoto == m_hiPhoto;
    if (m_loPhoto && oldToNew.contains(m_loPhoto->fileId())) {
        const FileDataPtr old = m_loPhoto;
        replaced.append(old);
        setLoPhoto(files->fileDataMgr()->duplicateFile(old, oldToNew.value(old->fileId())));
        if (shared) {
            setHiPhoto(m_loPhoto);
            return;
        }
    }
    if (m_hiPhoto && oldToNew.contains(m_hiPhoto->fileId())) {
        const FileDataPtr old = m_hiPhoto;
        replaced.append(old);
        setHiPhoto(files->fileDataMgr()->duplicateFile(old, oldToNew.value(old->fileId())));
    }
}

void WallpaperItem::clearPattern()
{
    m_internalPattern = false;
    setHasPattern(false);
    setLoPhoto({});
    setHiPhoto({});
}

void WallpaperItem::updatePatternInfo(const WallpaperItem* other)
{
    if (!other)
        return;
    setLoPhoto(other->m_loPhoto);
    setHiPhoto(other->m_hiPhoto);
    setHasPattern(other->m_hasPattern);
    setIsDark(other->m_isDark);
    m_isOwner = other->m_isOwner;
    m_isPreset = other->m_isPreset;
    setBlur(other->m_blur);
    m_internalPattern = other->m_internalPattern;
    m_thumbBytes = other->m_thumbBytes;
    m_wallpaperId = other->m_wallpaperId;
}
