#include "themes/presetpatterns.h"

#include <QHash>

namespace settingmodel {

QString presetPatternPath(const QString& fileId)
{
    // Built once, on first use, by whichever thread asks first.
    static const QHash<QString, QString> paths{
        {QStringLiteral("a65e7ceea9c244438a99310f0f20ad93"),
         QStringLiteral("qrc:/resource/image/background/home.png")},
        {QStringLiteral("0e6f7034601248928de04f9516cd86dc"),
         QStringLiteral("qrc:/resource/image/background/person.png")},
        {QStringLiteral("0e1adfd2c6154fb08054b1b400638f5b"),
         QStringLiteral("qrc:/resource/image/background/snow.png")},
        {QStringLiteral("c3b339e4d96b415cbac223931dcb5bd5"),
         QStringLiteral("qrc:/resource/image/background/game.png")},
    };
    return paths.value(fileId);
}

} // namespace settingmodel
