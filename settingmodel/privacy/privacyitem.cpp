#include "privacy/privacyitem.h"

#include "commands/settingservicecmd.h"
#include "host/accountbase.h"
#include "host/accountmanager.h"
#include "host/contacts.h"
#include "im/user.pb.h"
#include "logging.h"
#include "reports.h"

#include <QJSEngine>
#include <QSet>

#include <limits>

namespace {

// Ids in the order they were added, each once.
class IdSet {
public:
    explicit IdSet(const QVariantList& ids = {})
    {
        for (const QVariant& id : ids)
            add(id.toLongLong());
    }
    void add(qint64 id)
    {
        if (!m_members.contains(id)) {
            m_members.insert(id);
            m_order.append(id);
        }
    }
    void remove(qint64 id)
    {
        if (m_members.remove(id))
            m_order.removeOne(id);
    }
    void clear()
    {
        m_members.clear();
        m_order.clear();
    }
    const QList<qint64>& ids() const { return m_order; }

private:
    QSet<qint64> m_members;
    QList<qint64> m_order;
};

bool fitsRangeList(qint64 id)
{
    return id >= std::numeric_limits<qint32>::min() && id <= std::numeric_limits<qint32>::max();
}

void appendIds(google::protobuf::RepeatedField<google::protobuf::int32>* field, const IdSet& set)
{
    for (qint64 id : set.ids())
        field->Add(qint32(id));
}

void appendTags(google::protobuf::RepeatedPtrField<im::DialogTag>* field, const QVariantList& tags)
{
    for (const QVariant& tag : tags) {
        const QVariantMap map = tag.toMap();
        im::DialogTag* entry = field->Add();
        entry->set_id(map.value(QStringLiteral("id")).toString().toStdString());
        entry->set_name(map.value(QStringLiteral("name")).toString().toStdString());
    }
}

QVariantList tagsOf(const google::protobuf::RepeatedPtrField<im::DialogTag>& tags)
{
    QVariantList list;
    list.reserve(tags.size());
    for (const im::DialogTag& tag : tags)
        list.append(QVariantMap{{QStringLiteral("id"), QString::fromStdString(tag.id())},
                                {QStringLiteral("name"), QString::fromStdString(tag.name())}});
    return list;
}

// Removes the first entry whose "id" equals the tag's "id".
void removeFirstWithId(QVariantList& tags, const QVariant& tag)
{
    const QVariant id = tag.toMap().value(QStringLiteral("id"));
    for (qsizetype i = 0; i < tags.size(); ++i) {
        if (tags.at(i).toMap().value(QStringLiteral("id")) == id) {
            tags.removeAt(i);
            return;
        }
    }
}

void removeAllWithId(QVariantList& tags, const QString& tagId)
{
    tags.removeIf([&tagId](const QVariant& tag) {
        return tag.toMap().value(QStringLiteral("id")).toString() == tagId;
    });
}

im::user::UserRange* rangeOfKind(im::user::UpdatePrivacySettingReq& req, int kind)
{
    switch (kind) {
    case 1: return req.mutable_lastseen();
    case 8: return req.mutable_call();
    case 9: return req.mutable_show_real_photo();
    case 10: return req.mutable_show_alternative_photo();
    case 11: return req.mutable_forward_my_message();
    case 12: return req.mutable_show_user_status();
    default: return nullptr;
    }
}

} // namespace

struct PrivacyItem::WorkingSets {
    IdSet blackUsers;
    IdSet blackGroups;
    IdSet whiteUsers;
    IdSet whiteGroups;
    IdSet specialUsers;
    QVariantList blackTags;
    QVariantList whiteTags;
};

PrivacyItem::PrivacyItem(int kind, AccountBase* account)
    : QObject(account),
      m_kind(kind),
      m_range(std::make_unique<im::user::UserRange>()),
      m_blacklist(new ItemModel(this)),
      m_whitelist(new ItemModel(this)),
      m_groupBlacklist(new ItemModel(this)),
      m_groupWhitelist(new ItemModel(this)),
      m_specialList(new ItemModel(this))
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

PrivacyItem::~PrivacyItem()
{
    m_range.reset();
    emit startDestroy();
}

AccountBase* PrivacyItem::account() const
{
    return qobject_cast<AccountBase*>(parent());
}

PrivacyItem::WorkingSets PrivacyItem::readSets() const
{
    return {IdSet(m_blacklist->userIds()),
            IdSet(m_groupBlacklist->groupIds()),
            IdSet(m_whitelist->userIds()),
            IdSet(m_groupWhitelist->groupIds()),
            IdSet(m_specialList->userIds()),
            m_dialogBlackTags,
            m_dialogWhiteTags};
}

void PrivacyItem::updateRange(int rule, const WorkingSets& sets)
{
    im::user::UpdatePrivacySettingReq req;
    im::user::UserRange* range = rangeOfKind(req, m_kind);
    AccountBase* acc = account();
    if (!range || !acc)
        return;
    // The range lists carry 32-bit ids. An id beyond them would arrive as someone else, so
    // the whole edit is refused instead.
    for (const IdSet* set :
         {&sets.blackUsers, &sets.whiteUsers, &sets.blackGroups, &sets.whiteGroups, &sets.specialUsers}) {
        for (qint64 id : set->ids()) {
            if (!fitsRangeList(id)) {
                qCWarning(lcSettingModel) << "privacy edit refused: id" << id << "does not fit a range list";
                settingmodel::reportFailure(acc, 0, qtTrId("general_fail"),
                                            SettingServiceCmd::UpdatePrivacySetting);
                return;
            }
        }
    }
    range->set_rule(rule);
    appendIds(range->mutable_blacklist(), sets.blackUsers);
    appendIds(range->mutable_whitelist(), sets.whiteUsers);
    appendIds(range->mutable_group_blacklist(), sets.blackGroups);
    appendIds(range->mutable_group_whitelist(), sets.whiteGroups);
    appendIds(range->mutable_special_list(), sets.specialUsers);
    appendTags(range->mutable_tag_blacklist(), sets.blackTags);
    appendTags(range->mutable_tag_whitelist(), sets.whiteTags);
    range->set_complete(true);
    if (SettingServiceCmd* cmd = acc->settingServiceCmd())
        cmd->updatePrivacySetting(req);
}

void PrivacyItem::setUserRange(const im::user::UserRange& range)
{
    *m_range = range;
    if (range.rule() != m_rule) {
        m_rule = range.rule();
        emit ruleChanged(m_rule);
    }
    AccountBase* acc = account();
    UserManager* users = acc ? acc->userManager() : nullptr;
    GroupModelMgr* groups = acc ? acc->groupModelMgr() : nullptr;
    auto usersOf = [users](const google::protobuf::RepeatedField<google::protobuf::int32>& ids) {
        QList<QSharedPointer<QObject>> list;
        for (qint64 id : ids) {
            if (!users || users->deletedUser(id))
                continue;
            if (auto contact = users->getUserPointer(id, true, QString(), true))
                list.append(contact);
        }
        return list;
    };
    auto groupsOf = [groups](const google::protobuf::RepeatedField<google::protobuf::int32>& ids) {
        QList<QSharedPointer<QObject>> list;
        for (qint64 id : ids) {
            if (auto group = groups ? groups->getSharedGroup(id, true, -1) : nullptr)
                list.append(group);
        }
        return list;
    };
    const auto blackUsers = usersOf(range.blacklist());
    const auto whiteUsers = usersOf(range.whitelist());
    const auto specialUsers = usersOf(range.special_list());
    const auto blackGroups = groupsOf(range.group_blacklist());
    const auto whiteGroups = groupsOf(range.group_whitelist());

    m_dialogBlackTags = tagsOf(range.tag_blacklist());
    emit dialogBlackTagsChanged(m_dialogBlackTags);
    m_dialogWhiteTags = tagsOf(range.tag_whitelist());
    emit dialogWhiteTagsChanged(m_dialogWhiteTags);

    m_blacklist->setItems(blackUsers);
    m_whitelist->setItems(whiteUsers);
    m_groupBlacklist->setItems(blackGroups);
    m_groupWhitelist->setItems(whiteGroups);
    m_specialList->setItems(specialUsers);
}

void PrivacyItem::changeRule(int rule)
{
    if (rule == m_rule)
        return;
    WorkingSets sets = readSets();
    if (rule == NOBODY) {
        sets.blackUsers.clear();
        sets.blackGroups.clear();
    } else if (rule == EVERYBODY || rule == GROUPS_AND_CONTACTS) {
        sets.whiteUsers.clear();
        sets.whiteGroups.clear();
    }
    updateRange(rule, sets);
}

void PrivacyItem::addBlacks(const QVariantList& userIds, const QVariantList& groupIds,
                            const QVariantList& tagMsgs)
{
    WorkingSets sets = readSets();
    for (const QVariant& v : userIds) {
        const qint64 id = v.toLongLong();
        if (id < 1)
            continue;
        sets.blackUsers.add(id);
        sets.whiteUsers.remove(id);
    }
    for (const QVariant& v : groupIds) {
        const qint64 id = v.toLongLong();
        if (id < 1)
            continue;
        sets.blackGroups.add(id);
        sets.whiteGroups.remove(id);
    }
    for (const QVariant& tag : tagMsgs) {
        sets.blackTags.append(tag.toMap());
        removeFirstWithId(sets.whiteTags, tag);
    }
    updateRange(m_rule, sets);
}

void PrivacyItem::addWhites(const QVariantList& userIds, const QVariantList& groupIds,
                            const QVariantList& tagMsgs)
{
    WorkingSets sets = readSets();
    for (const QVariant& v : userIds) {
        sets.whiteUsers.add(v.toLongLong());
        sets.blackUsers.remove(v.toLongLong());
    }
    for (const QVariant& v : groupIds) {
        sets.whiteGroups.add(v.toLongLong());
        sets.blackGroups.remove(v.toLongLong());
    }
    for (const QVariant& tag : tagMsgs) {
        sets.whiteTags.append(tag.toMap());
        removeFirstWithId(sets.blackTags, tag);
    }
    updateRange(m_rule, sets);
}

void PrivacyItem::removeBlacks(const QVariantList& userIds, const QVariantList& groupIds,
                               const QVariantList& tagMsgs)
{
    WorkingSets sets = readSets();
    for (const QVariant& v : userIds)
        sets.blackUsers.remove(v.toLongLong());
    for (const QVariant& v : groupIds)
        sets.blackGroups.remove(v.toLongLong());
    for (const QVariant& tag : tagMsgs)
        sets.blackTags.removeOne(QVariant(tag.toMap()));
    updateRange(m_rule, sets);
}

void PrivacyItem::removeWhites(const QVariantList& userIds, const QVariantList& groupIds,
                               const QVariantList& tagMsgs)
{
    WorkingSets sets = readSets();
    for (const QVariant& v : userIds)
        sets.whiteUsers.remove(v.toLongLong());
    for (const QVariant& v : groupIds)
        sets.whiteGroups.remove(v.toLongLong());
    for (const QVariant& tag : tagMsgs)
        sets.whiteTags.removeOne(QVariant(tag.toMap()));
    updateRange(m_rule, sets);
}

void PrivacyItem::removeBlack(qlonglong id, bool isGroup)
{
    WorkingSets sets = readSets();
    (isGroup ? sets.blackGroups : sets.blackUsers).remove(id);
    updateRange(m_rule, sets);
}

void PrivacyItem::removeWhite(qlonglong id, bool isGroup)
{
    WorkingSets sets = readSets();
    (isGroup ? sets.whiteGroups : sets.whiteUsers).remove(id);
    updateRange(m_rule, sets);
}

void PrivacyItem::removeTagBlack(const QString& tagId)
{
    WorkingSets sets = readSets();
    removeAllWithId(sets.blackTags, tagId);
    updateRange(m_rule, sets);
}

void PrivacyItem::removeTagWhite(const QString& tagId)
{
    WorkingSets sets = readSets();
    removeAllWithId(sets.whiteTags, tagId);
    updateRange(m_rule, sets);
}

void PrivacyItem::addSpecials(const QVariantList& userIds)
{
    WorkingSets sets = readSets();
    for (const QVariant& v : userIds)
        sets.specialUsers.add(v.toLongLong());
    updateRange(m_rule, sets);
}

void PrivacyItem::removeSpecials(const QVariantList& userIds)
{
    WorkingSets sets = readSets();
    for (const QVariant& v : userIds)
        sets.specialUsers.remove(v.toLongLong());
    updateRange(m_rule, sets);
}
