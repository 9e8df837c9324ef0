// Writes the test sound the audio settings play: a short tone, mono, 16-bit.
#include "media.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: makesound <file.wav>\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(QFileInfo(path).absolutePath());
    return media::writeWav(path, 600, 44100).isEmpty() ? 1 : 0;
}
