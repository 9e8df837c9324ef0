#include "host/appsettingmodel.h"

#include <QSettings>

namespace {
const QString kDarkMode = QStringLiteral("appearance/darkMode");
const QString kThemeColor = QStringLiteral("appearance/themeColor");
const QString kGradientStartColor = QStringLiteral("appearance/gradientStartColor");
const QString kGradientColor = QStringLiteral("appearance/gradientColor");
const QString kChatBackgroundMode = QStringLiteral("appearance/chatBackgroundMode");
} // namespace

AppSettingModel* AppSettingModel::instance()
{
    static AppSettingModel model;
    return &model;
}

AppSettingModel::AppSettingModel() : m_settings(std::make_unique<QSettings>())
{
    m_darkMode = m_settings->value(kDarkMode, false).toBool();
}

AppSettingModel::~AppSettingModel() = default;

void AppSettingModel::setDarkMode(bool on)
{
    if (darkMode() == on)
        return;
    m_darkMode = on;
    m_settings->setValue(kDarkMode, on);
    emit darkModeChanged(on);
}

QVariant AppSettingModel::value(const QString& key, const QVariant& fallback) const
{
    return m_settings->value(key, fallback);
}

void AppSettingModel::setValue(const QString& key, const QVariant& value)
{
    m_settings->setValue(key, value);
}

bool AppSettingModel::containsCustomThemeInfo() const
{
    return m_settings->contains(kThemeColor) || m_settings->contains(kGradientStartColor) ||
           m_settings->contains(kGradientColor) || m_settings->contains(kChatBackgroundMode);
}

QString AppSettingModel::themeColor() const
{
    return m_settings->value(kThemeColor).toString();
}

QString AppSettingModel::gradientStartColor() const
{
    return m_settings->value(kGradientStartColor).toString();
}

QString AppSettingModel::gradientColor() const
{
    return m_settings->value(kGradientColor).toString();
}

int AppSettingModel::chatBackgroundMode() const
{
    return m_settings->value(kChatBackgroundMode, 1).toInt();
}
