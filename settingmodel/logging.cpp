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

namespace {
thread_local DroppedInput* t_current = nullptr;
constexpr int kItemsNamed = 5;
} // namespace

DroppedInput::DroppedInput(const char* answer) : m_answer(answer), m_outer(t_current)
{
    t_current = this;
}

DroppedInput::~DroppedInput()
{
    t_current = m_outer;
    if (m_reasons.empty())
        return;
    QStringList parts;
    for (const auto& [reason, dropped] : m_reasons) {
        QString part = QStringLiteral("%1 x%2 (%3%4)")
                           .arg(QString::fromUtf8(reason))
                           .arg(dropped.count)
                           .arg(dropped.items.join(QLatin1String(", ")))
                           .arg(dropped.count > dropped.items.size() ? QStringLiteral(", ...") : QString());
        parts.append(part);
    }
    qCWarning(lcSettingModel).noquote()
        << "dropped from" << m_answer << ":" << parts.join(QLatin1String("; "));
}

void DroppedInput::note(const char* reason, const QString& item)
{
    if (!t_current) {
        qCWarning(lcSettingModel).noquote() << "dropped:" << reason << item;
        return;
    }
    Reason& dropped = t_current->m_reasons[QByteArray(reason)];
    if (++dropped.count <= kItemsNamed)
        dropped.items.append(item);
}
