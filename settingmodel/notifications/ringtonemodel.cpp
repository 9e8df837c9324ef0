#include "notifications/ringtonemodel.h"

#include "logging.h"

#include "host/accountbase.h"
#include "host/jsonutil.h"

#include <QJSEngine>

#include <algorithm>

namespace {

const QString kType = QStringLiteral("type");
const QString kTimestamp = QStringLiteral("timestamp");
const QString kFileId = QStringLiteral("fileId");
const QString kName = QStringLiteral("name");
const QString kAesKey = QStringLiteral("aesKey");

bool isNumber(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double: return true;
    default: return false;
    }
}

bool sortsBefore(const CustomRingtoneItem* a, const CustomRingtoneItem* b)
{
    return a->timestamp != b->timestamp ? a->timestamp < b->timestamp : a->fileId() < b->fileId();
}

} // namespace

QVariantMap CustomRingtoneItem::toMap() const
{
    QVariantMap out = map;
    out.insert(kName, file ? file->fileName() : QString());
    out.insert(kFileId, fileId());
    out.insert(kAesKey, file ? QString::fromLatin1(file->aesKey().toBase64()) : QString());
    out.insert(kType, type);
    out.insert(kTimestamp, timestamp);
    return out;
}

CustomRingtoneItem* CustomRingtoneItem::fromMap(const QVariantMap& entry, AccountBase* account)
{
    const QVariant id = entry.value(kFileId);
    const QVariant key = entry.value(kAesKey);
    const int type = entry.value(kType).toInt();
    if (id.typeId() != QMetaType::QString || id.toString().isEmpty() || key.typeId() != QMetaType::QString ||
        !isNumber(entry.value(kType)) || (type != 1 && type != 2) || !isNumber(entry.value(kTimestamp)) ||
        (entry.contains(kName) && entry.value(kName).typeId() != QMetaType::QString))
        return nullptr;
    FileManager* files = account ? account->fileManager() : nullptr;
    if (!files)
        return nullptr;
    const QString name = type == 1 ? QStringLiteral("Cloud Tone") : entry.value(kName).toString();
    const FileDataPtr file =
        files->createFileData(QVariantMap{{kFileId, id}, {QStringLiteral("fileName"), name}, {kAesKey, key}},
                              kFileType, false, kSourceType);
    if (!file)
        return nullptr;
    return new CustomRingtoneItem{file, entry.value(kTimestamp).toLongLong(), type, entry};
}

RingtoneModel::RingtoneModel(AccountBase* account) : QAbstractListModel(account), m_account(account)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

RingtoneModel::~RingtoneModel()
{
    qDeleteAll(m_items);
}

int RingtoneModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant RingtoneModel::data(const QModelIndex& index, int role) const
{
    if (role != ItemRole ||
        !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    return QVariant::fromValue(static_cast<QObject*>(m_items.at(index.row())->file.data()));
}

QHash<int, QByteArray> RingtoneModel::roleNames() const
{
    return {{ItemRole, "itemModel"}};
}

QList<CustomRingtoneItem*> RingtoneModel::parse(const QByteArray& json, AccountBase* account, bool* ok)
{
    QList<CustomRingtoneItem*> items;
    const QVariant list = json.trimmed().isEmpty() ? QVariant(QVariantList()) : jsonToVariant(json);
    if (ok)
        *ok = list.typeId() == QMetaType::QVariantList;
    QSet<QString> seen;
    const QVariantList entries = list.toList();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (items.size() == kMaxItems) {
            DroppedInput::note("custom ringtones past the limit of 20", QString::number(entries.size() - i));
            break;
        }
        const QVariantMap map = entries.at(i).toMap();
        CustomRingtoneItem* item = CustomRingtoneItem::fromMap(map, account);
        if (item && !seen.contains(item->fileId())) {
            seen.insert(item->fileId());
            items.append(item);
            continue;
        }
        DroppedInput::note(item ? "a custom ringtone listed twice"
                                : "a custom ringtone entry that does not read",
                           map.value(QStringLiteral("fileId")).toString());
        delete item;
    }
    return items;
}

void RingtoneModel::setItems(const QList<CustomRingtoneItem*>& items)
{
    if (items.isEmpty()) {
        clear();
        return;
    }
    if (!m_items.isEmpty()) {
        replaceItems(items);
        return;
    }
    QList<CustomRingtoneItem*> unique;
    for (CustomRingtoneItem* item : items) {
        if (m_byId.contains(item->fileId())) {
            delete item;
            continue;
        }
        m_byId.insert(item->fileId(), item);
        unique.append(item);
    }
    beginInsertRows({}, 0, int(unique.size()) - 1);
    m_items = unique;
    endInsertRows();
    emit countChanged();
}

void RingtoneModel::insertItem(CustomRingtoneItem* item)
{
    if (!item)
        return;
    if (m_byId.contains(item->fileId())) {
        delete item;
        return;
    }
    const auto at = std::upper_bound(m_items.cbegin(), m_items.cend(), item, sortsBefore);
    const int row = int(at - m_items.cbegin());
    beginInsertRows({}, row, row);
    m_items.insert(row, item);
    m_byId.insert(item->fileId(), item);
    endInsertRows();
    emit countChanged();
}

void RingtoneModel::removeItem(const QString& fileId)
{
    CustomRingtoneItem* item = m_byId.value(fileId);
    if (!item)
        return;
    const int row = int(m_items.indexOf(item));
    beginRemoveRows({}, row, row);
    m_items.removeAt(row);
    m_byId.remove(fileId);
    endRemoveRows();
    delete item;
    emit countChanged();
}

void RingtoneModel::replaceItems(const QList<CustomRingtoneItem*>& items)
{
    mergeItems(items, QSet<QString>());
}

void RingtoneModel::mergeItems(const QList<CustomRingtoneItem*>& items, const QString& keepId)
{
    mergeItems(items, keepId.isEmpty() ? QSet<QString>() : QSet<QString>{keepId});
}

void RingtoneModel::mergeItems(const QList<CustomRingtoneItem*>& items, const QSet<QString>& keep)
{
    QSet<QString> listed;
    for (CustomRingtoneItem* item : items) {
        listed.insert(item->fileId());
        insertItem(item);
    }
    const QList<CustomRingtoneItem*> current = m_items;
    for (const CustomRingtoneItem* item : current) {
        const QString id = item->fileId();
        if (!listed.contains(id) && !keep.contains(id))
            removeItem(id);
    }
}

CustomRingtoneItem* RingtoneModel::findItem(const QString& fileId) const
{
    return fileId.isEmpty() ? nullptr : m_byId.value(fileId);
}

QByteArray RingtoneModel::toJson(const QString& excludeId) const
{
    QVariantList list;
    for (const CustomRingtoneItem* item : m_items) {
        if (excludeId.isEmpty() || item->fileId() != excludeId)
            list.append(item->toMap());
    }
    return listToJson(list);
}

QStringList RingtoneModel::missingFileIds() const
{
    QStringList ids;
    for (const CustomRingtoneItem* item : m_items) {
        if (item->file && !item->file->fileExist())
            ids.append(item->fileId());
    }
    return ids;
}

void RingtoneModel::clear()
{
    if (m_items.isEmpty())
        return;
    beginResetModel();
    const QList<CustomRingtoneItem*> old = m_items;
    m_items.clear();
    m_byId.clear();
    endResetModel();
    qDeleteAll(old);
    emit countChanged();
}
