#pragma once

#include "host/hostglobal.h"

#include <QObject>
#include <QVariant>

#include <atomic>
#include <memory>

class QSettings;

// Application-wide settings, shared by every account.
class HOST_EXPORT AppSettingModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool darkMode READ darkMode WRITE setDarkMode NOTIFY darkModeChanged)
public:
    static AppSettingModel* instance();
    ~AppSettingModel() override;

    // Readable from any thread: list orders read it wherever they sort.
    bool darkMode() const { return m_darkMode.load(std::memory_order_acquire); }
    // On the application's thread.
    void setDarkMode(bool on);

    // The chat appearance of versions before themes ("appearance/themeColor", ...), read once to
    // make a theme of it.
    bool containsCustomThemeInfo() const;
    QString themeColor() const;
    QString gradientStartColor() const;
    QString gradientColor() const;
    int chatBackgroundMode() const;

    QVariant value(const QString& key, const QVariant& fallback = {}) const;
    void setValue(const QString& key, const QVariant& value);

signals:
    void darkModeChanged(bool darkMode);

private:
    AppSettingModel();
    std::unique_ptr<QSettings> m_settings;
    std::atomic<bool> m_darkMode{false};
};
