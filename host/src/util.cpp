#include "host/util.h"

#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QUuid>

namespace {

constexpr int kDecodeLimitMb = 128;

QByteArray formatOf(const QString& path)
{
    return QFileInfo(path).suffix().toLower().toLatin1();
}

bool writeImage(const QImage& image, const QString& path, int quality)
{
    QImageWriter writer(path, formatOf(path));
    writer.setQuality(quality);
    return writer.write(image);
}

} // namespace

Util* Util::instance()
{
    static Util util;
    return &util;
}

QString Util::uuid() const
{
    return QUuid::createUuid().toString(QUuid::Id128);
}

bool Util::deleteFile(const QString& path) const
{
    return !path.isEmpty() && QFile::remove(path);
}

bool Util::scaleImage(const QString& source, QSize& size, QSize& thumbSize, QString& imagePath,
                      QString& thumbPath, QByteArray& thumbBytes, bool crop, int maxSide, int thumbSide,
                      int quality) const
{
    QImageReader reader(source);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    // Nothing is decoded above this: a huge image is scaled while it is read (JPEG), or
    // refused when its format can only be decoded whole.
    reader.setAllocationLimit(kDecodeLimitMb);
    const QSize full = reader.size();
    const bool tooLarge = full.isValid() && (full.width() > maxSide || full.height() > maxSide);
    if (tooLarge)
        reader.setScaledSize(full.scaled(maxSide, maxSide, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull()) {
        imagePath.clear();
        thumbPath.clear();
        thumbBytes.clear();
        return false;
    }
    if (tooLarge) {
        if (!writeImage(image, imagePath, 100))
            imagePath.clear();
    } else {
        imagePath.clear();
    }
    size = image.size();

    QImage thumb =
        image.scaled(thumbSide, thumbSide, crop ? Qt::KeepAspectRatioByExpanding : Qt::KeepAspectRatio,
                     Qt::SmoothTransformation);
    if (crop)
        thumb = thumb.copy((thumb.width() - thumbSide) / 2, (thumb.height() - thumbSide) / 2, thumbSide,
                           thumbSide);
    thumbSize = thumb.size();
    QBuffer buffer(&thumbBytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter bytesWriter(&buffer, formatOf(thumbPath).isEmpty() ? "jpg" : formatOf(thumbPath));
    bytesWriter.setQuality(quality);
    if (!bytesWriter.write(thumb))
        thumbBytes.clear();
    if (!writeImage(thumb, thumbPath, quality))
        thumbPath.clear();
    return true;
}

int Util::bright(const QByteArray& imageBytes) const
{
    QImage image = QImage::fromData(imageBytes);
    if (image.isNull())
        return 255;
    // A small copy is enough for a mean and keeps large images cheap.
    image = image.scaled(64, 64, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                .convertToFormat(QImage::Format_RGB32);
    qint64 sum = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            sum += qGray(line[x]);
    }
    return int(sum / (qint64(image.width()) * image.height()));
}

int Util::colorNameToRgba(const QString& name) const
{
    const QColor color = QColor::fromString(name);
    if (!color.isValid())
        return 0;
    const quint32 rgba = (quint32(color.red()) << 24) | (quint32(color.green()) << 16) |
                         (quint32(color.blue()) << 8) | quint32(color.alpha());
    return int(rgba);
}

QString Util::rgbaToColorName(int rgba, int format) const
{
    const quint32 v = quint32(rgba);
    const QColor color(int(v >> 24), int((v >> 16) & 0xff), int((v >> 8) & 0xff), int(v & 0xff));
    const bool opaque = color.alpha() == 255;
    return color.name(format == 0 && opaque ? QColor::HexRgb : QColor::HexArgb).toUpper();
}

QString Util::blendColor(const QString& color, const QString& overlay, int weight) const
{
    const QColor base = QColor::fromString(color);
    const QColor top = QColor::fromString(overlay);
    if (!base.isValid())
        return top.isValid() ? top.name(QColor::HexArgb).toUpper() : QString();
    if (!top.isValid())
        return base.name(QColor::HexArgb).toUpper();
    // The overlay's own alpha scales its share.
    const double share = qBound(0, weight, 100) / 100.0 * top.alphaF();
    auto mix = [share](int a, int b) { return qRound(a * (1.0 - share) + b * share); };
    const QColor out(mix(base.red(), top.red()), mix(base.green(), top.green()), mix(base.blue(), top.blue()),
                     base.alpha());
    return out.name(out.alpha() == 255 ? QColor::HexRgb : QColor::HexArgb).toUpper();
}
