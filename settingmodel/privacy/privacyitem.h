#pragma once

#include "privacy/itemmodel.h"
#include "settingmodel_global.h"

#include <QObject>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <memory>

class AccountBase;
namespace im::user {
class UserRange;
}

// One privacy rule: who may see one kind of personal information. Edits are sent to the
// server as a whole new range; the rule shows them only once the server's answer is applied
// through setUserRange.
class SETTINGMODEL_EXPORT PrivacyItem : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("PrivacyItemis uncreatable")
    Q_PROPERTY(int rule READ rule NOTIFY ruleChanged)
    Q_PROPERTY(ItemModel* blacklist READ blacklist NOTIFY blacklistChanged)
    Q_PROPERTY(ItemModel* whitelist READ whitelist NOTIFY whitelistChanged)
    Q_PROPERTY(ItemModel* groupBlacklist READ groupBlacklist NOTIFY groupBlacklistChanged)
    Q_PROPERTY(ItemModel* groupWhitelist READ groupWhitelist NOTIFY groupWhitelistChanged)
    Q_PROPERTY(ItemModel* specialList READ specialList NOTIFY specialListChanged)
    Q_PROPERTY(QVariantList dialogWhiteTags READ dialogWhiteTags NOTIFY dialogWhiteTagsChanged)
    Q_PROPERTY(QVariantList dialogBlackTags READ dialogBlackTags NOTIFY dialogBlackTagsChanged)
public:
    enum Rule { EVERYBODY = 0, CONTACTS = 1, NOBODY = 2, GROUPS_AND_CONTACTS = 3, NON_CONTACTS = 4 };
    Q_ENUM(Rule)

    // kind is the setting number of the privacy update that carries this rule's range.
    PrivacyItem(int kind, AccountBase* account);
    ~PrivacyItem() override;

    int kind() const { return m_kind; }
    int rule() const { return m_rule; }
    ItemModel* blacklist() const { return m_blacklist; }
    ItemModel* whitelist() const { return m_whitelist; }
    ItemModel* groupBlacklist() const { return m_groupBlacklist; }
    ItemModel* groupWhitelist() const { return m_groupWhitelist; }
    ItemModel* specialList() const { return m_specialList; }
    QVariantList dialogWhiteTags() const { return m_dialogWhiteTags; }
    QVariantList dialogBlackTags() const { return m_dialogBlackTags; }
    // The last range the server sent, whole.
    const im::user::UserRange& range() const { return *m_range; }

    // Applies a range from the server.
    void setUserRange(const im::user::UserRange& range);

    Q_INVOKABLE void changeRule(int rule);
    Q_INVOKABLE void addBlacks(const QVariantList& userIds, const QVariantList& groupIds,
                               const QVariantList& tagMsgs);
    Q_INVOKABLE void removeBlacks(const QVariantList& userIds, const QVariantList& groupIds,
                                  const QVariantList& tagMsgs);
    Q_INVOKABLE void removeBlack(qlonglong id, bool isGroup);
    Q_INVOKABLE void removeTagBlack(const QString& tagId);
    Q_INVOKABLE void addWhites(const QVariantList& userIds, const QVariantList& groupIds,
                               const QVariantList& tagMsgs);
    Q_INVOKABLE void removeWhites(const QVariantList& userIds, const QVariantList& groupIds,
                                  const QVariantList& tagMsgs);
    Q_INVOKABLE void removeWhite(qlonglong id, bool isGroup);
    Q_INVOKABLE void removeTagWhite(const QString& tagId);
    Q_INVOKABLE void addSpecials(const QVariantList& userIds);
    Q_INVOKABLE void removeSpecials(const QVariantList& userIds);

signals:
    void ruleChanged(int rule);
    void blacklistChanged(const QVariantList& list);
    void whitelistChanged(const QVariantList& list);
    void groupBlacklistChanged(const QVariantList& list);
    void groupWhitelistChanged(const QVariantList& list);
    void specialListChanged(const QVariantList& list);
    void dialogWhiteTagsChanged(const QVariantList& tags);
    void dialogBlackTagsChanged(const QVariantList& tags);
    void startDestroy();

private:
    struct WorkingSets;

    WorkingSets readSets() const;
    void updateRange(int rule, const WorkingSets& sets);
    AccountBase* account() const;

    const int m_kind;
    int m_rule = EVERYBODY;
    std::unique_ptr<im::user::UserRange> m_range;
    ItemModel* m_blacklist;
    ItemModel* m_whitelist;
    ItemModel* m_groupBlacklist;
    ItemModel* m_groupWhitelist;
    ItemModel* m_specialList;
    QVariantList m_dialogWhiteTags;
    QVariantList m_dialogBlackTags;
};
