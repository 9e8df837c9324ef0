#pragma once

#include "host/files.h"
#include "settingmodel_global.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QSet>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

class AccountBase;

// One custom ringtone: its file (type 9), when it was added, its kind (1 shows as "Cloud Tone")
// and the list entry it was read from, whose unknown keys survive a rewrite.
struct SETTINGMODEL_EXPORT CustomRingtoneItem {
    static constexpr int kFileType = 9;
    static constexpr int kSourceType = 32;

    FileDataPtr file;
    qint64 timestamp = 0;
    int type = 2;
    QVariantMap map;

    QString fileId() const { return file ? file->fileId() : QString(); }
    // The entry as the list stores it.
    QVariantMap toMap() const;
    // An entry of the stored list; null when a key is missing or of the wrong kind.
    static CustomRingtoneItem* fromMap(const QVariantMap& entry, AccountBase* account);
};

// The user's custom ringtones in order of addition (by time, then file id), as QML lists them.
// Only the ringtone manager changes it.
class SETTINGMODEL_EXPORT RingtoneModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("RingtoneModel is made by the module")
    Q_PROPERTY(int count READ count NOTIFY countChanged)
public:
    enum Role { ItemRole = Qt::UserRole + 1 };
    // The most a list holds.
    static constexpr int kMaxItems = 20;

    explicit RingtoneModel(AccountBase* account);
    ~RingtoneModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    int count() const { return int(m_items.size()); }

    // The entries of a stored list, at most kMaxItems, invalid ones skipped. ok turns false when
    // the value is not a list at all (an empty value is an empty list).
    static QList<CustomRingtoneItem*> parse(const QByteArray& json, AccountBase* account, bool* ok = nullptr);

    // The model takes every item it is given.
    void setItems(const QList<CustomRingtoneItem*>& items);
    void insertItem(CustomRingtoneItem* item);
    void removeItem(const QString& fileId);
    void replaceItems(const QList<CustomRingtoneItem*>& items);
    void mergeItems(const QList<CustomRingtoneItem*>& items, const QString& keepId);
    // Like replaceItems, keeping the items of these ids.
    void mergeItems(const QList<CustomRingtoneItem*>& items, const QSet<QString>& keep);
    CustomRingtoneItem* findItem(const QString& fileId) const;
    bool containsItem(const QString& fileId) const { return findItem(fileId); }
    QList<CustomRingtoneItem*> items() const { return m_items; }
    QByteArray toJson(const QString& excludeId) const;
    QStringList missingFileIds() const;
    void clear();

signals:
    void countChanged();

private:
    AccountBase* m_account;
    QList<CustomRingtoneItem*> m_items;
    QHash<QString, CustomRingtoneItem*> m_byId;
};
