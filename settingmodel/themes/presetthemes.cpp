#include "themes/presetthemes.h"

#include <QHash>
#include <QStringList>

namespace settingmodel {

namespace {

struct Pattern {
    const char* fileId;
    const char* path;
    QStringList bg;
};

const Pattern& pattern(int index)
{
    static const Pattern patterns[] = {
        {"a65e7ceea9c244438a99310f0f20ad93",
         "qrc:/resource/image/background/home.png",
         {"#95BDA5", "#BEDA90", "#D3D98F", "#ABC688"}},
        {"0e6f7034601248928de04f9516cd86dc",
         "qrc:/resource/image/background/person.png",
         {"#B7C481", "#72C9E4", "#72A7E4", "#83C481"}},
        {"0e1adfd2c6154fb08054b1b400638f5b",
         "qrc:/resource/image/background/snow.png",
         {"#ACD1EE", "#85A7EE", "#B7DBD3", "#BDC3EB"}},
        {"c3b339e4d96b415cbac223931dcb5bd5",
         "qrc:/resource/image/background/game.png",
         {"#827BEA", "#D371B2", "#F3CF6D", "#5CC0F0"}},
    };
    return patterns[index];
}

struct Preset {
    const char* uuid;
    const char32_t* name;
    QStringList lightTheme;
    QStringList lightMessage;
    QStringList darkTheme;
    QStringList darkMessage;
};

QVariantMap component(int index, const QStringList& theme, const QStringList& message)
{
    const Pattern& shipped = pattern(index);
    return {{QStringLiteral("theme"), theme},
            {QStringLiteral("message"), message},
            {QStringLiteral("bg"), shipped.bg},
            {QStringLiteral("fileId"), QStringList{QString::fromLatin1(shipped.fileId)}},
            {QStringLiteral("pattern"), QStringList{QString::fromLatin1(shipped.path)}}};
}

} // namespace

QVariantMap presetThemeData(int index)
{
    static const Preset presets[] = {
        {"0ca8574aaf934804a3bac940e242ceaa",
         U"\U0001F3E0",
         {"#33A854"},
         {"#EFF3E1", "#E5F7D4", "#F3F1E1"},
         {"#33A854"},
         {"#499147", "#6E9147", "#918E47"}},
        {"963a15e52b3e4f98b95a245ce73d7f8e",
         U"\U0001F9D1\U0000200D\U0001F3EB",
         {"#3393A8"},
         {"#F2F8FF", "#E4F6F9", "#F8FCE5"},
         {"#3393A8"},
         {"#497C91", "#418783", "#499B65"}},
        {"0c9a543864814aada0db0d5a502a4674",
         U"\U000026C4\U0000FE0F",
         {"#6681DE"},
         {"#DBE7FF", "#DBDBFF", "#DBF4FF"},
         {"#6681DE"},
         {"#434C9D", "#49649B", "#478A93"}},
        {"110a64f382c4468188cbe7f1b13a48e5",
         U"\U0001F3AE",
         {"#FF8058"},
         {"#FFEAEA", "#FFEAF8", "#FFF7EA", "#FDFFEA"},
         {"#33A854"},
         {"#753C3C", "#7C4369", "#997B4F", "#7F9346"}},
    };
    if (index >= 0 && index < kPlainPresetIndex) {
        const Preset& preset = presets[index];
        return {{QStringLiteral("emoji"), QString::fromUcs4(preset.name)},
                {QStringLiteral("uuid"), QString::fromLatin1(preset.uuid)},
                {QStringLiteral("light"), component(index, preset.lightTheme, preset.lightMessage)},
                {QStringLiteral("dark"), component(index, preset.darkTheme, preset.darkMessage)}};
    }
    if (index != kPlainPresetIndex)
        return {};
    const QVariantMap light{{QStringLiteral("theme"), QStringLiteral("#26B36D")},
                            {QStringLiteral("bg"), QStringLiteral("#F2F2F2")},
                            {QStringLiteral("message"), QStringLiteral("#C6E7CF")}};
    QVariantMap dark = light;
    dark.insert(QStringLiteral("bg"), QStringList{QStringLiteral("#000000")});
    dark.insert(QStringLiteral("message"), QStringLiteral("#24763B"));
    return {{QStringLiteral("emoji"), QString::fromUcs4(U"\U00002716\U0000FE0F")},
            {QStringLiteral("uuid"), QStringLiteral("830c1eb313fa4553a1641e685a9d41cf")},
            {QStringLiteral("light"), light},
            {QStringLiteral("dark"), dark}};
}

qint64 presetThemeCreateTime(int index)
{
    return 10 - index;
}

QString presetThemeId(int index)
{
    return presetThemeData(index).value(QStringLiteral("uuid")).toString();
}

QString presetPatternPath(const QString& fileId)
{
    // Built once, on first use, by whichever thread asks first.
    static const QHash<QString, QString> paths = [] {
        QHash<QString, QString> out;
        for (int i = 0; i < kPlainPresetIndex; ++i)
            out.insert(QString::fromLatin1(pattern(i).fileId), QString::fromLatin1(pattern(i).path));
        return out;
    }();
    return paths.value(fileId);
}

} // namespace settingmodel
