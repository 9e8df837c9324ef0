#include "host/files.h"

#include <QFile>
#include <QImageReader>

#include <memory>

#include <taglib/flacfile.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/tfilestream.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>

namespace {

using TagLib::AudioProperties;

// The formats a ringtone may have, recognised by TagLib from the content: a stream's name
// would let its extension decide. MPEG goes last, as frame syncs turn up inside other data.
std::unique_ptr<TagLib::File> openAudio(TagLib::IOStream* stream, QString& format)
{
    const auto style = AudioProperties::Accurate;
    if (TagLib::RIFF::WAV::File::isSupported(stream)) {
        format = QStringLiteral("wav");
        return std::make_unique<TagLib::RIFF::WAV::File>(stream, true, style);
    }
    if (TagLib::Ogg::Vorbis::File::isSupported(stream)) {
        format = QStringLiteral("ogg");
        return std::make_unique<TagLib::Ogg::Vorbis::File>(stream, true, style);
    }
    if (TagLib::Ogg::Opus::File::isSupported(stream)) {
        format = QStringLiteral("opus");
        return std::make_unique<TagLib::Ogg::Opus::File>(stream, true, style);
    }
    if (TagLib::FLAC::File::isSupported(stream)) {
        format = QStringLiteral("flac");
        return std::make_unique<TagLib::FLAC::File>(stream, TagLib::ID3v2::FrameFactory::instance(), true,
                                                    style);
    }
    if (TagLib::MP4::File::isSupported(stream)) {
        format = QStringLiteral("m4a");
        return std::make_unique<TagLib::MP4::File>(stream, true, style);
    }
    if (TagLib::MPEG::File::isSupported(stream)) {
        format = QStringLiteral("mp3");
        return std::make_unique<TagLib::MPEG::File>(stream, TagLib::ID3v2::FrameFactory::instance(), true,
                                                    style);
    }
    return nullptr;
}

} // namespace

bool FileUtil::audioFormat(const QString& path, qint64& durationMs, QString& format)
{
    durationMs = 0;
    format.clear();
    if (path.isEmpty() || !QFile::exists(path))
        return false;
    TagLib::FileStream stream(QFile::encodeName(path).constData(), true);
    if (!stream.isOpen())
        return false;
    QString found;
    const std::unique_ptr<TagLib::File> file = openAudio(&stream, found);
    if (!file || !file->isValid() || !file->audioProperties())
        return false;
    const AudioProperties* properties = file->audioProperties();
    // Bytes that are not audio can still pass the first look: they have no length or rate.
    if (properties->lengthInMilliseconds() <= 0 || properties->sampleRate() <= 0)
        return false;
    durationMs = properties->lengthInMilliseconds();
    format = found;
    return true;
}

QStringList ModelBaseUtil::wallpaperFormat()
{
    static const QStringList formats = [] {
        QStringList accepted;
        const auto supported = QImageReader::supportedImageFormats();
        for (const char* name : {"jpeg", "jpg", "png", "bmp", "webp"}) {
            if (supported.contains(name))
                accepted.append(QString::fromLatin1(name));
        }
        return accepted;
    }();
    return formats;
}
