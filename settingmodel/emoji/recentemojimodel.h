#pragma once

#include "host/modelbase.h"
#include "settingmodel_global.h"

#include <QAbstractListModel>
#include <QList>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

class AccountBase;

// The recently used emoji (or, in its second type, reactions), most recent first, as the picker
// shows them: at most maxCount are kept, the view sees the first viewLoadCount. An entry is a plain
// emoji, or a custom emoji or sticker of a pack (pack id and emoji id).
class SETTINGMODEL_EXPORT RecentEmojiModel : public QAbstractListModel, public ModelBase {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("RecentEmojiModel is made by the module")
    Q_PROPERTY(QString name READ name NOTIFY nameChanged)
    Q_PROPERTY(int maxCount READ maxCount NOTIFY maxCountChanged)
    Q_PROPERTY(int viewLoadCount READ viewLoadCount WRITE setViewLoadCount NOTIFY viewLoadCountChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)
public:
    enum EmojiType { Emoji = 0, Reaction = 1 };
    Q_ENUM(EmojiType)
    enum Role { EmojiRole = Qt::UserRole + 1, PackIdRole, EmojiIdRole };

    RecentEmojiModel(AccountBase* account, EmojiType type);
    ~RecentEmojiModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    QString name() const { return m_name; }
    void setName(const QString& name);
    int maxCount() const { return m_maxCount; }
    void setMaxCount(int count);
    int viewLoadCount() const { return m_viewLoadCount; }
    void setViewLoadCount(int count);
    int count() const { return int(m_entries.size()); }
    int emojiType() const { return m_type; }
    void setEmojiType(int type) { m_type = type; }

    Q_INVOKABLE void emojiUsed(const QString& emoji, int packId, int emojiId);
    Q_INVOKABLE void remove(const QString& emoji, int packId, int emojiId);
    Q_INVOKABLE void clearRecent();
    Q_INVOKABLE QString get(int index) const;
    // Stored entries ("emoji", and "packId" and "emojiId" when they have them), after the listed.
    Q_INVOKABLE void append(const QVariantList& infos);

    void initData() override;
    bool loadLocalData(bool alreadyLoaded) override;
    bool prepareToClearData(bool force) override;
    bool clearData(bool force) override;

signals:
    void nameChanged(const QString& name);
    void maxCountChanged();
    void countChanged();
    void viewLoadCountChanged();
    void modelChanged();
    void startDestroy();

private:
    struct EmojiData {
        QString emoji;
        int packId = -1;
        int emojiId = -1;
        bool operator==(const EmojiData& o) const
        {
            return emoji == o.emoji && packId == o.packId && emojiId == o.emojiId;
        }
    };
    void save() const;
    // Drops the entries past maxCount, announcing the visible ones first.
    void trim();
    // Empties the list; false when it was empty.
    bool resetEntries();
    // Shows the rows the window now holds and hides those it no longer does, at its end.
    void fitWindow();

    AccountBase* m_account;
    QString m_name;
    QList<EmojiData> m_entries;
    int m_type;
    int m_maxCount = 30;
    int m_viewLoadCount = 27;
    // The rows the view sees: the first entries, at most viewLoadCount.
    int m_shown = 0;
};
