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
