#pragma once

#include "host/hostglobal.h"

#include <QByteArray>
#include <QObject>
#include <QSize>
#include <QString>
#include <QThread>

class HOST_EXPORT Util {
public:
    static Util* instance();

    // A new id: 32 lower-case hexadecimal digits.
    QString uuid() const;
    bool deleteFile(const QString& path) const;

    // Writes a copy of source scaled to at most maxSide (into imagePath, which is cleared when
    // no scaling was needed) and a thumbnail of at most thumbSide (into thumbPath, also
    // returned as thumbBytes at the given quality). The format follows each path's suffix.
    // With crop the thumbnail is cut to a square. A large source is scaled while it is read;
    // nothing above 128 MB is ever decoded. False when the source cannot be read that way.
    bool scaleImage(const QString& source, QSize& size, QSize& thumbSize, QString& imagePath,
                    QString& thumbPath, QByteArray& thumbBytes, bool crop, int maxSide, int thumbSide,
                    int quality) const;
    // Mean luminance 0..255 of an encoded image; 255 when the bytes are not an image.
    int bright(const QByteArray& imageBytes) const;

    // "#RRGGBB" or "#AARRGGBB" to a packed 0xRRGGBBAA value; 0 for a name that is not a colour.
    int colorNameToRgba(const QString& name) const;
    // format 0: "#RRGGBB" when opaque, else "#AARRGGBB"; any other format: always "#AARRGGBB".
    // Upper-case digits.
    QString rgbaToColorName(int rgba, int format) const;
    // Mixes overlay over color; weight 0..100 is the overlay's share in percent.
    QString blendColor(const QString& color, const QString& overlay, int weight) const;

private:
    Util() = default;
};

// The deleter of a shared object that may be made on one thread and let go on another: it is
// deleted on its own thread.
template <class T> void deleteOnOwnThread(T* object)
{
    if (object->thread() == QThread::currentThread())
        delete object;
    else
        object->deleteLater();
}
