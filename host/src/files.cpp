#include "host/files.h"

#include <QFileInfo>

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

bool FileData::fileExist() const
{
    const QString path = cacheFilePath();
    return !path.isEmpty() && QFileInfo(path).isFile();
}

PhotoData::PhotoData(const QString& path, QObject* parent) : FileData(parent)
{
    setFilePath(path);
    setFileName(QFileInfo(path).fileName());
}
