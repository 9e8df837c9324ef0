#include "logging.h"

#include <QJsonArray>
#include <QJsonDocument>

Q_LOGGING_CATEGORY(lcSettingModel, "im.settingmodel")

QVariantList readStoredList(const QByteArray& json, const char* what)
{
    if (json.trimmed().isEmpty())
        return {};
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) {
        qCWarning(lcSettingModel).nospace()
            << "stored " << what << " is not a JSON list (" << json.size() << " bytes); dropped";
        return {};
    }
    return document.array().toVariantList();
}
