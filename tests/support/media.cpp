#include "media.h"

#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtEndian>

#include <cmath>

namespace media {

QString writeImage(const QString& path, QSize size, QColor color, int quality)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = color.lighter(100 + (x + y) % 60).rgb();
    }
    QImageWriter writer(path);
    writer.setQuality(quality);
    return writer.write(image) ? path : QString();
}

QString writeHugeJpeg(const QString& path)
{
    QImage image(20000, 20000, QImage::Format_Grayscale8);
    image.fill(90);
    QImageWriter writer(path, "jpeg");
    writer.setQuality(1);
    return writer.write(image) ? path : QString();
}

namespace {
QString writeSamples(const QString& path, int samples, int sampleRate, double pitch);
}

QString writeWav(const QString& path, int durationMs, int sampleRate, double pitch)
{
    return writeSamples(path, int(qint64(sampleRate) * durationMs / 1000), sampleRate, pitch);
}

QString writeWavOfSize(const QString& path, qint64 bytes, int sampleRate)
{
    return writeSamples(path, int((bytes - 44) / 2), sampleRate, 440.0);
}

namespace {
QString writeSamples(const QString& path, int samples, int sampleRate, double pitch)
{
    QByteArray data(samples * 2, Qt::Uninitialized);
    for (int i = 0; i < samples; ++i) {
        const auto value = qint16(8000 * std::sin(2 * M_PI * pitch * i / sampleRate));
        qToLittleEndian(value, data.data() + 2 * i);
    }
    QByteArray header;
    const auto put32 = [&header](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        header.append(b, 4);
    };
    const auto put16 = [&header](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        header.append(b, 2);
    };
    header.append("RIFF");
    put32(quint32(36 + data.size()));
    header.append("WAVEfmt ");
    put32(16);
    put16(1); // PCM
    put16(1); // mono
    put32(quint32(sampleRate));
    put32(quint32(sampleRate * 2));
    put16(2);
    put16(16);
    header.append("data");
    put32(quint32(data.size()));
    return writeBytes(path, header + data);
}
} // namespace

bool haveEncoder()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
}

QString encode(const QString& wavPath, const QString& path)
{
    if (!haveEncoder())
        return {};
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"),
                                            QStringLiteral("-y"), QStringLiteral("-i"), wavPath, path});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
        return {};
    return path;
}

QByteArray noise(qint64 size, quint32 seed)
{
    QList<quint32> words((size + 3) / 4);
    QRandomGenerator(seed).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char*>(words.constData()), size);
}

QString writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? path : QString();
}

QString truncated(const QString& from, const QString& path, qint64 keep)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        return {};
    return writeBytes(path, source.read(keep));
}

} // namespace media
