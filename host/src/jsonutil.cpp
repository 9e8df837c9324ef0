#include "host/jsonutil.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
QJsonDocument parse(const QByteArray& json)
{
    QJsonParseError error{};
    QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    return error.error == QJsonParseError::NoError ? doc : QJsonDocument();
}
} // namespace

QVariantMap jsonToMap(const QByteArray& json)
{
    const QJsonDocument doc = parse(json);
    return doc.isObject() ? doc.object().toVariantMap() : QVariantMap();
}

QByteArray mapToJson(const QVariantMap& map)
{
    return QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(QJsonDocument::Compact);
}

QVariantList jsonToList(const QByteArray& json)
{
    const QJsonDocument doc = parse(json);
    return doc.isArray() ? doc.array().toVariantList() : QVariantList();
}

QByteArray listToJson(const QVariantList& list)
{
    return QJsonDocument(QJsonArray::fromVariantList(list)).toJson(QJsonDocument::Compact);
}

QVariant jsonToVariant(const QByteArray& json)
{
    const QJsonDocument doc = parse(json);
    if (doc.isObject())
        return doc.object().toVariantMap();
    if (doc.isArray())
        return doc.array().toVariantList();
    return {};
}
