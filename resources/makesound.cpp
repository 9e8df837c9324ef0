// Writes the preset tones (the first is also the audio settings' test sound) into a folder: short
// tones of their own pitch, mono, 16-bit.
#include "media.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: makesound <folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(folder.absolutePath());
    const std::pair<const char*, double> tones[] = {
        {"system_ringtone", 440.0}, {"chime", 660.0}, {"bell", 880.0}, {"pulse", 330.0}};
    for (const auto& [name, pitch] : tones) {
        const QString path = folder.filePath(QString::fromLatin1(name) + QStringLiteral(".wav"));
        if (media::writeWav(path, 600, 44100, pitch).isEmpty())
            return 1;
    }
    return 0;
}
