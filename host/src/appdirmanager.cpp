#include "host/appdirmanager.h"

#include <QDir>
#include <QStandardPaths>

QString AppDirManager::tempDir()
{
    const QString dir =
        QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/settingmodel/");
    QDir().mkpath(dir);
    return dir;
}
