#pragma once

#include <QColor>
#include <QSize>
#include <QString>

// Test media made on the spot: images through QImage, a WAV tone by hand, the other audio
// formats encoded from it with ffmpeg.
namespace media {

// An image with a gradient over the colour, in the format the suffix names.
QString writeImage(const QString& path, QSize size, QColor color = QColor(0x33, 0xa8, 0x54),
                   int quality = 90);
// A 20000 x 20000 JPEG.
QString writeHugeJpeg(const QString& path);
// A mono 16-bit sine tone.
QString writeWav(const QString& path, int durationMs, int sampleRate = 8000, double pitch = 440.0);
// A mono 16-bit tone of exactly this many bytes (even, at least 44).
QString writeWavOfSize(const QString& path, qint64 bytes, int sampleRate);
// The tone of a WAV file re-encoded by ffmpeg into the format the suffix names; empty when
// ffmpeg is missing or fails.
QString encode(const QString& wavPath, const QString& path);
bool haveEncoder();
// Bytes of a given size, the same for the same seed.
QByteArray noise(qint64 size, quint32 seed = 1);
QString writeBytes(const QString& path, const QByteArray& bytes);
// The file's first bytes only.
QString truncated(const QString& from, const QString& path, qint64 keep);

} // namespace media
