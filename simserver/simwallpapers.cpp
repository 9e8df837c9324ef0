#include "simwallpapers.h"

#include "simstate.pb.h"

#include "host/constants.h"
#include "host/cryptoaes.h"
#include "im/wallpaper.pb.h"
#include "simfilestore.h"

#include <QBuffer>
#include <QColor>
#include <QCryptographicHash>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QUuid>

#include <algorithm>

namespace {

constexpr int kNotFound = 404;
constexpr int kBadRequest = 400;
constexpr int kConflict = 409;
constexpr int kUnprocessable = 422;

template <class Message> bool parse(Message& message, const QByteArray& body)
{
    return message.ParseFromArray(body.constData(), int(body.size()));
}

template <class Message> QByteArray bytesOf(const Message& message)
{
    return QByteArray::fromStdString(message.SerializeAsString());
}

int rgba(const QColor& color)
{
    return int((quint32(color.red()) << 24) | (quint32(color.green()) << 16) | (quint32(color.blue()) << 8) |
               quint32(color.alpha()));
}

QByteArray encoded(const QImage& image, const char* format, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

QImage gradient(const QColor& from, const QColor& to, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient fill(0, 0, size.width(), size.height());
    fill.setColorAt(0, from);
    fill.setColorAt(1, to);
    painter.fillRect(image.rect(), fill);
    return image;
}

// A pattern drawn over the wallpaper's colours: dots or waves, dark strokes on transparency.
QImage pattern(bool waves, QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0, 0, 0, 90), 3));
    painter.setBrush(waves ? Qt::NoBrush : QBrush(QColor(0, 0, 0, 60)));
    const int step = size.width() / 9;
    for (int y = step / 2; y < size.height(); y += step) {
        if (waves) {
            QPainterPath path(QPointF(0, y));
            for (int x = 0; x < size.width(); x += step)
                path.quadTo(x + step / 2.0, y + ((x / step) % 2 ? step / 3.0 : -step / 3.0), x + step, y);
            painter.drawPath(path);
        } else {
            for (int x = step / 2 + ((y / step) % 2) * step / 2; x < size.width(); x += step)
                painter.drawEllipse(QPointF(x, y), step / 6.0, step / 6.0);
        }
    }
    return image;
}

struct DefaultWallpaper {
    const char* id;
    QColor from;
    QColor to;
    int pattern; // 0 none, 1 dots, 2 waves
};

// The images of the default set, drawn once per process: plain bytes of the full image and of
// its thumbnail.
struct DrawnImages {
    QByteArray full;
    QByteArray thumb;
};

const QList<DefaultWallpaper>& defaults()
{
    static const QList<DefaultWallpaper> list{
        {"preset-dawn", QColor(0xF6, 0xD3, 0x65), QColor(0xFD, 0xA0, 0x85), 0},
        {"preset-sea", QColor(0x84, 0xFA, 0xB0), QColor(0x8F, 0xD3, 0xF4), 0},
        {"preset-night", QColor(0x14, 0x1E, 0x30), QColor(0x24, 0x3B, 0x55), 0},
        {"pattern-dots", QColor(0x95, 0xBD, 0xA5), QColor(0xBE, 0xDA, 0x90), 1},
        {"pattern-waves", QColor(0xAC, 0xD1, 0xEE), QColor(0x85, 0xA7, 0xEE), 2},
    };
    return list;
}

DrawnImages draw(const DefaultWallpaper& wallpaper)
{
    static QHash<QString, DrawnImages> drawn;
    const QString id = QString::fromLatin1(wallpaper.id);
    if (const auto it = drawn.constFind(id); it != drawn.cend())
        return *it;
    const QSize size(360, 640);
    const QImage background = gradient(wallpaper.from, wallpaper.to, size);
    DrawnImages images;
    if (wallpaper.pattern) {
        const QImage over = pattern(wallpaper.pattern == 2, size);
        images.full = encoded(over, "PNG", -1);
        QImage shown = background;
        QPainter(&shown).drawImage(0, 0, over);
        images.thumb =
            encoded(shown.scaled(90, 160, Qt::KeepAspectRatio, Qt::SmoothTransformation), "JPG", 80);
    } else {
        images.full = encoded(background, "JPG", 90);
        images.thumb =
            encoded(background.scaled(90, 160, Qt::KeepAspectRatio, Qt::SmoothTransformation), "JPG", 80);
    }
    drawn.insert(id, images);
    return images;
}

// The same key for the same file on every server of the process: servers may share a store.
QByteArray keyFor(const QString& fileId)
{
    return QCryptographicHash::hash("default wallpaper " + fileId.toUtf8(), QCryptographicHash::Sha256);
}

void publish(SimFileStore* files, const QString& fileId, const QByteArray& plain, im::Photo* photo)
{
    const QByteArray key = keyFor(fileId);
    if (!files->contains(fileId))
        files->publish(fileId, CryptoAES::encrypt(plain, key));
    photo->set_file_id(fileId.toStdString());
    photo->set_aes_key(key.toStdString());
    photo->set_md5(QCryptographicHash::hash(plain, QCryptographicHash::Md5).toHex().toStdString());
    photo->set_size(int(plain.size()));
}

} // namespace

SimWallpapers::SimWallpapers(std::function<qint64()> clock, SimFileStore* files, qint64 userId)
    : m_clock(std::move(clock)),
      m_files(files),
      m_userId(userId)
{
}

void SimWallpapers::setFileStore(SimFileStore* files, qint64 userId)
{
    m_files = files;
    m_userId = userId;
}

void SimWallpapers::seedDefaults()
{
    for (const DefaultWallpaper& def : defaults()) {
        const auto it = m_wallpapers.constFind(QString::fromLatin1(def.id));
        if (it != m_wallpapers.cend() && !it->wallpaper.deleted())
            continue;
        const DrawnImages images = draw(def);
        const QString id = QString::fromLatin1(def.id);
        im::WallPaper wallpaper;
        wallpaper.set_id(def.id);
        wallpaper.set_is_preset(true);
        wallpaper.set_has_pattern(def.pattern != 0);
        wallpaper.set_is_dark(def.from.lightness() < 128);
        wallpaper.set_thumbnail(images.thumb.toStdString());
        publish(m_files, id + QStringLiteral("-lo"), images.thumb,
                wallpaper.mutable_photo_set()->mutable_lo_res());
        publish(m_files, id + QStringLiteral("-hi"), images.full,
                wallpaper.mutable_photo_set()->mutable_hi_res());
        im::WallPaperSetting* setting = wallpaper.mutable_setting();
        setting->add_bg_colors(rgba(def.from));
        setting->add_bg_colors(rgba(def.to));
        setting->set_intensity(def.pattern ? 40 : 0);
        setting->set_fill_type(1);
        store(wallpaper);
    }
    m_seeded = true;
}

const im::WallPaper& SimWallpapers::store(im::WallPaper wallpaper)
{
    wallpaper.set_update_time(m_clock());
    Stored& stored = m_wallpapers[QString::fromStdString(wallpaper.id())];
    stored.wallpaper = std::move(wallpaper);
    stored.sequence = ++m_sequence;
    return stored.wallpaper;
}

im::WallPaper SimWallpapers::tombstone(const im::WallPaper& wallpaper)
{
    im::WallPaper gone;
    gone.set_id(wallpaper.id());
    gone.set_deleted(true);
    gone.set_is_owner(wallpaper.is_owner());
    gone.set_is_preset(wallpaper.is_preset());
    return store(gone);
}

QStringList SimWallpapers::fileIdsOf(const im::WallPaper& wallpaper) const
{
    QStringList ids;
    for (const im::Photo* photo : {&wallpaper.photo_set().lo_res(), &wallpaper.photo_set().hi_res()}) {
        if (!photo->file_id().empty())
            ids.append(QString::fromStdString(photo->file_id()));
    }
    return ids;
}

bool SimWallpapers::filesReadable(const im::WallPaper& wallpaper) const
{
    const QStringList ids = fileIdsOf(wallpaper);
    return std::all_of(ids.cbegin(), ids.cend(),
                       [this](const QString& id) { return m_files->readable(m_userId, id); });
}

SimWallpapers::Result SimWallpapers::list(const QByteArray& body)
{
    im::wallpaper::ListWallPapersReq req;
    if (!parse(req, body) || req.offset() < 0)
        return {kBadRequest, {}, {}};
    if (!m_seeded)
        seedDefaults();
    QList<const Stored*> newer;
    for (const Stored& stored : std::as_const(m_wallpapers)) {
        if (stored.sequence > req.offset())
            newer.append(&stored);
    }
    std::sort(newer.begin(), newer.end(), [](auto* a, auto* b) { return a->sequence < b->sequence; });
    im::wallpaper::ListWallPapersResp resp;
    qint64 next = req.offset();
    int taken = 0;
    int examined = 0;
    for (const Stored* stored : std::as_const(newer)) {
        if (taken == m_pageSize)
            break;
        ++examined;
        next = stored->sequence;
        // A device that starts from nothing has nothing to delete.
        if (req.offset() == 0 && stored->wallpaper.deleted())
            continue;
        *resp.add_wallpapers() = stored->wallpaper;
        ++taken;
    }
    resp.set_next_offset(next);
    resp.set_has_more(examined < newer.size());
    return {0, bytesOf(resp), {}};
}

SimWallpapers::Result SimWallpapers::save(const QByteArray& body)
{
    im::wallpaper::SaveWallPaperReq req;
    if (!parse(req, body) || !req.has_wallpaper())
        return {kBadRequest, {}, {}};
    if (!m_seeded)
        seedDefaults();
    im::WallPaper wallpaper = req.wallpaper();
    const QString localId = QString::fromStdString(wallpaper.local_id());
    if (localId.isEmpty())
        return {kBadRequest, {}, {}};
    // A wallpaper the server knows is saved again under its id; anything else is new.
    QString id = QString::fromStdString(wallpaper.id());
    if (id.isEmpty() && m_wallpapers.contains(localId))
        id = localId;
    if (id.isEmpty()) {
        // The same save sent again (its answer was lost) is answered with what it saved.
        for (const Stored& stored : std::as_const(m_wallpapers)) {
            if (!stored.wallpaper.deleted() && stored.wallpaper.local_id() == wallpaper.local_id()) {
                im::wallpaper::SaveWallPaperResp resp;
                *resp.mutable_wallpaper() = stored.wallpaper;
                return {0, bytesOf(resp), {}};
            }
        }
    }
    const auto known = m_wallpapers.constFind(id);
    const bool isNew = id.isEmpty() || known == m_wallpapers.cend() || known->wallpaper.deleted();
    if (!filesReadable(wallpaper))
        return {kUnprocessable, {}, {}};
    if (isNew && ownCount() >= OWNER_WALLPAPER_LIMIT)
        return {kConflict, {}, {}};
    if (id.isEmpty())
        id = QUuid::createUuid().toString(QUuid::Id128);
    wallpaper.set_id(id.toStdString());
    wallpaper.set_is_owner(true);
    wallpaper.set_is_preset(false);
    wallpaper.set_deleted(false);
    const im::WallPaper& saved = store(wallpaper);
    im::wallpaper::SaveWallPaperResp resp;
    *resp.mutable_wallpaper() = saved;
    return {0, bytesOf(resp), {saved}};
}

SimWallpapers::Result SimWallpapers::remove(const QByteArray& body)
{
    im::wallpaper::DeleteWallPaperReq req;
    if (!parse(req, body))
        return {kBadRequest, {}, {}};
    QStringList ids;
    if (!req.wallpaper_id().empty())
        ids.append(QString::fromStdString(req.wallpaper_id()));
    for (const std::string& id : req.wallpaper_ids())
        ids.append(QString::fromStdString(id));
    if (ids.isEmpty())
        return {kBadRequest, {}, {}};
    Result result{0, bytesOf(req), {}};
    for (const QString& asked : std::as_const(ids)) {
        // A device whose save answer was lost knows the wallpaper only by its local id.
        QString id = asked;
        if (!m_wallpapers.contains(id)) {
            for (const Stored& stored : std::as_const(m_wallpapers)) {
                if (!stored.wallpaper.deleted() && stored.wallpaper.local_id() == asked.toStdString())
                    id = QString::fromStdString(stored.wallpaper.id());
            }
        }
        const auto it = m_wallpapers.constFind(id);
        if (it == m_wallpapers.cend() || it->wallpaper.deleted())
            continue;
        // The user's own images go with the wallpaper; the defaults' stay for everyone.
        m_files->remove(m_userId, fileIdsOf(it->wallpaper));
        result.changed.append(tombstone(it->wallpaper));
    }
    return result;
}

SimWallpapers::Result SimWallpapers::get(const QByteArray& body)
{
    im::wallpaper::GetWallPaperReq req;
    if (!parse(req, body))
        return {kBadRequest, {}, {}};
    if (!m_seeded)
        seedDefaults();
    const auto it = m_wallpapers.constFind(QString::fromStdString(req.id()));
    if (it == m_wallpapers.cend() || it->wallpaper.deleted())
        return {kNotFound, {}, {}};
    im::wallpaper::GetWallPaperResp resp;
    *resp.mutable_wallpaper() = it->wallpaper;
    return {0, bytesOf(resp), {}};
}

SimWallpapers::Result SimWallpapers::reset()
{
    QList<im::WallPaper> changed;
    const QList<Stored> all = m_wallpapers.values();
    for (const Stored& stored : all) {
        if (stored.wallpaper.is_owner() && !stored.wallpaper.deleted()) {
            m_files->remove(m_userId, fileIdsOf(stored.wallpaper));
            changed.append(tombstone(stored.wallpaper));
        }
    }
    const qint64 before = m_sequence;
    seedDefaults();
    im::wallpaper::ResetWallPapersResp resp;
    for (const Stored& stored : std::as_const(m_wallpapers)) {
        if (!stored.wallpaper.is_owner() && !stored.wallpaper.deleted()) {
            *resp.add_wallpapers() = stored.wallpaper;
            if (stored.sequence > before)
                changed.append(stored.wallpaper);
        }
    }
    for (const im::WallPaper& gone : std::as_const(changed)) {
        if (gone.deleted())
            *resp.add_wallpapers() = gone;
    }
    resp.set_offset(m_sequence);
    return {0, bytesOf(resp), changed};
}

int SimWallpapers::count() const
{
    return int(std::count_if(m_wallpapers.cbegin(), m_wallpapers.cend(),
                             [](const Stored& s) { return !s.wallpaper.deleted(); }));
}

int SimWallpapers::ownCount() const
{
    return int(std::count_if(m_wallpapers.cbegin(), m_wallpapers.cend(), [](const Stored& s) {
        return s.wallpaper.is_owner() && !s.wallpaper.deleted();
    }));
}

std::optional<im::WallPaper> SimWallpapers::wallpaper(const QString& id) const
{
    const auto it = m_wallpapers.constFind(id);
    if (it == m_wallpapers.cend() || it->wallpaper.deleted())
        return std::nullopt;
    return it->wallpaper;
}

QByteArray SimWallpapers::liveBytes() const
{
    QByteArray bytes;
    for (const Stored& stored : m_wallpapers) {
        if (!stored.wallpaper.deleted())
            bytes += bytesOf(stored.wallpaper);
    }
    return bytes;
}

QStringList SimWallpapers::ids() const
{
    QList<const Stored*> live;
    for (const Stored& stored : m_wallpapers) {
        if (!stored.wallpaper.deleted())
            live.append(&stored);
    }
    std::sort(live.begin(), live.end(), [](auto* a, auto* b) { return a->sequence < b->sequence; });
    QStringList out;
    for (const Stored* stored : std::as_const(live))
        out.append(QString::fromStdString(stored->wallpaper.id()));
    return out;
}

void SimWallpapers::saveState(im::server::UserState* state) const
{
    for (const Stored& stored : m_wallpapers) {
        im::server::UserState::Wallpaper* saved = state->add_wallpapers();
        *saved->mutable_wallpaper() = stored.wallpaper;
        saved->set_sequence(stored.sequence);
    }
    state->set_wallpaper_sequence(m_sequence);
    state->set_wallpapers_seeded(m_seeded);
}

void SimWallpapers::restoreState(const im::server::UserState& state)
{
    m_wallpapers.clear();
    for (const im::server::UserState::Wallpaper& saved : state.wallpapers())
        m_wallpapers.insert(QString::fromStdString(saved.wallpaper().id()),
                            {saved.wallpaper(), saved.sequence()});
    m_sequence = state.wallpaper_sequence();
    m_seeded = state.wallpapers_seeded();
}
