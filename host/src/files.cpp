#include "host/files.h"

#include "host/util.h"

#include <QFileInfo>

namespace {

bool readable(const QString& path)
{
    if (path.isEmpty())
        return false;
    if (path.startsWith(QLatin1String("qrc:")))
        return QFileInfo::exists(path.mid(3));
    return QFileInfo(path).isFile();
}

} // namespace

void BaseFile::setFileId(const QString& id)
{
    if (m_fileId == id)
        return;
    m_fileId = id;
    emit fileIdChanged();
}

void BaseFile::setFilePath(const QString& path)
{
    if (m_filePath == path)
        return;
    m_filePath = path;
    emit filePathChanged();
}

void BaseFile::setCacheFilePath(const QString& path)
{
    if (m_cacheFilePath == path)
        return;
    m_cacheFilePath = path;
    emit cacheFilePathChanged();
}

void BaseFile::setTransfer(int state, qreal progress)
{
    progress = qBound<qreal>(0, progress, 1);
    if (m_transferState != state) {
        m_transferState = state;
        emit transferStateChanged();
    }
    if (!qFuzzyCompare(m_progress + 1, progress + 1)) {
        m_progress = progress;
        emit progressChanged();
    }
}

bool FileData::fileExist() const
{
    return existsAt(cacheFilePath(), filePath());
}

bool FileData::existsAt(const QString& cacheFilePath, const QString& filePath)
{
    return readable(cacheFilePath) || readable(filePath);
}

PhotoData::PhotoData(const QString& path, QObject* parent) : FileData(parent)
{
    setFilePath(path);
    setFileName(QFileInfo(path).fileName());
    if (!path.isEmpty())
        setFileId(Util::instance()->uuid());
}
