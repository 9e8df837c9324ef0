#include "host/appsettingmodel.h"

#include <QSettings>

namespace {
const QString kDarkMode = QStringLiteral("appearance/darkMode");
}

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
