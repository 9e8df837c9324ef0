#include "commands/settingservicecmd.h"
#include "host/accountmanager.h"
#include "host/accountsettingmodel.h"
#include "host/contacts.h"
#include "im/user.pb.h"
#include "privacy/privacymodel.h"
#include "protohelpers.h"
#include "refcontacts.h"
#include "secretwatch.h"
#include "testaccount.h"

#include <QAbstractItemModelTester>
#include <QMetaProperty>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using im::user::UpdatePrivacySettingReq;
using im::user::UserRange;
using Edit = std::function<void(PrivacyItem*)>;
Q_DECLARE_METATYPE(Edit)
Q_DECLARE_METATYPE(UserRange)

namespace {

QVariantMap tag(const char* id, const char* name)
{
    return {{QStringLiteral("id"), QString::fromLatin1(id)},
            {QStringLiteral("name"), QString::fromLatin1(name)}};
}

void addTag(google::protobuf::RepeatedPtrField<im::DialogTag>* tags, const char* id, const char* name)
{
    auto* t = tags->Add();
    t->set_id(id);
    t->set_name(name);
}

// The rule every edit starts from.
UserRange startRange()
{
    UserRange r;
    r.set_rule(PrivacyItem::CONTACTS);
    for (int id : {11, 12})
        r.add_blacklist(id);
    r.add_whitelist(21);
    r.add_group_blacklist(101);
    r.add_group_whitelist(201);
    r.add_special_list(31);
    addTag(r.mutable_tag_blacklist(), "t1", "A");
    addTag(r.mutable_tag_blacklist(), "t1", "A again");
    addTag(r.mutable_tag_whitelist(), "t2", "B");
    return r;
}

// What the edit should send: the start range with the given lists replaced.
UserRange expect(std::function<void(UserRange&)> change)
{
    UserRange r = startRange();
    change(r);
    r.set_complete(true);
    return r;
}

template <class Field> void setIds(Field* field, std::initializer_list<int> ids)
{
    field->Clear();
    for (int id : ids)
        field->Add(id);
}

const UserRange* rangeOf(const UpdatePrivacySettingReq& req, int kind)
{
    switch (kind) {
    case 1: return req.has_lastseen() ? &req.lastseen() : nullptr;
    case 8: return req.has_call() ? &req.call() : nullptr;
    case 9: return req.has_show_real_photo() ? &req.show_real_photo() : nullptr;
    case 11: return req.has_forward_my_message() ? &req.forward_my_message() : nullptr;
    case 12: return req.has_show_user_status() ? &req.show_user_status() : nullptr;
    default: return nullptr;
    }
}

} // namespace

class TestPrivacy : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<TestAccount> m_t;

    PrivacyModel* model() const { return m_t->privacy; }
    ScriptedTransport* transport() const { return m_t->transport; }

    void answer(int code)
    {
        QVERIFY2(transport()->answerNext(122, code), "no privacy update pending");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    }

    UpdatePrivacySettingReq lastUpdate() const
    {
        const auto request = transport()->last(122);
        return request ? parsed<UpdatePrivacySettingReq>(request->body) : UpdatePrivacySettingReq();
    }

    // Applies a list holding the start range on every rule, as the server's answer would.
    void applyStart()
    {
        im::user::ListPrivacySettingsResp resp;
        *resp.mutable_lastseen() = startRange();
        *resp.mutable_call() = startRange();
        *resp.mutable_show_real_photo() = startRange();
        *resp.mutable_forward_my_message() = startRange();
        *resp.mutable_show_user_status() = startRange();
        model()->setPrivacySettings(resp, false);
    }

private slots:
    void init()
    {
        m_t = std::make_unique<TestAccount>(m_dir.path(), QString::fromLatin1(QTest::currentTestFunction()));
        AccountManager::getInstance()->clearRecords();
        RefUserManager* users = m_t->account->refUserManager();
        for (int id : {11, 12, 13, 21, 31, 32})
            users->addUser(id, QStringLiteral("user %1").arg(id));
        m_t->account->refGroupModelMgr()->addGroup(101, QStringLiteral("g101"));
    }

    void cleanup() { m_t.reset(); }

    void edits_data()
    {
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<UserRange>("sent");

        QTest::newRow("addBlacks moves from white, ignores ids below 1") << Edit([](PrivacyItem* i) {
            i->addBlacks({21, 0, -5, 13}, {201, 0}, {tag("t2", "B"), tag("t9", "N")});
        }) << expect([](UserRange& r) {
            setIds(r.mutable_blacklist(), {11, 12, 21, 13});
            setIds(r.mutable_whitelist(), {});
            setIds(r.mutable_group_blacklist(), {101, 201});
            setIds(r.mutable_group_whitelist(), {});
            addTag(r.mutable_tag_blacklist(), "t2", "B");
            addTag(r.mutable_tag_blacklist(), "t9", "N");
            r.clear_tag_whitelist();
        });
        QTest::newRow("addBlacks with id 0 sends the lists unchanged")
            << Edit([](PrivacyItem* i) { i->addBlacks({0}, {}, {}); }) << expect([](UserRange&) {});
        QTest::newRow("addWhites takes every id, moves from black, first tag with the id only")
            << Edit([](PrivacyItem* i) {
                   i->addWhites({11, 0}, {101}, {tag("t1", "other name")});
               })
            << expect([](UserRange& r) {
                   setIds(r.mutable_blacklist(), {12});
                   setIds(r.mutable_whitelist(), {21, 11, 0});
                   setIds(r.mutable_group_blacklist(), {});
                   setIds(r.mutable_group_whitelist(), {201, 101});
                   r.mutable_tag_blacklist()->DeleteSubrange(0, 1);
                   addTag(r.mutable_tag_whitelist(), "t1", "other name");
               });
        QTest::newRow("removeBlacks removes a tag only when the whole map matches")
            << Edit([](PrivacyItem* i) {
                   i->removeBlacks({11, 99}, {101}, {tag("t1", "A"), tag("t1", "no such name")});
               })
            << expect([](UserRange& r) {
                   setIds(r.mutable_blacklist(), {12});
                   setIds(r.mutable_group_blacklist(), {});
                   r.mutable_tag_blacklist()->DeleteSubrange(0, 1);
               });
        QTest::newRow("removeWhites")
            << Edit([](PrivacyItem* i) { i->removeWhites({21}, {201}, {tag("t2", "B")}); })
            << expect([](UserRange& r) {
                   setIds(r.mutable_whitelist(), {});
                   setIds(r.mutable_group_whitelist(), {});
                   r.clear_tag_whitelist();
               });
        QTest::newRow("removeBlack user")
            << Edit([](PrivacyItem* i) { i->removeBlack(12, false); })
            << expect([](UserRange& r) { setIds(r.mutable_blacklist(), {11}); });
        QTest::newRow("removeBlack group")
            << Edit([](PrivacyItem* i) { i->removeBlack(101, true); })
            << expect([](UserRange& r) { setIds(r.mutable_group_blacklist(), {}); });
        QTest::newRow("removeWhite user") << Edit([](PrivacyItem* i) { i->removeWhite(21, false); })
                                          << expect([](UserRange& r) { setIds(r.mutable_whitelist(), {}); });
        QTest::newRow("removeWhite group")
            << Edit([](PrivacyItem* i) { i->removeWhite(201, true); })
            << expect([](UserRange& r) { setIds(r.mutable_group_whitelist(), {}); });
        QTest::newRow("removeTagBlack removes every entry with the id")
            << Edit([](PrivacyItem* i) { i->removeTagBlack(QStringLiteral("t1")); })
            << expect([](UserRange& r) { r.clear_tag_blacklist(); });
        QTest::newRow("removeTagWhite is case-sensitive")
            << Edit([](PrivacyItem* i) { i->removeTagWhite(QStringLiteral("T2")); })
            << expect([](UserRange&) {});
        QTest::newRow("addSpecials") << Edit([](PrivacyItem* i) {
            i->addSpecials({32, 31});
        }) << expect([](UserRange& r) {
            setIds(r.mutable_special_list(), {31, 32});
        });
        QTest::newRow("removeSpecials") << Edit([](PrivacyItem* i) { i->removeSpecials({31}); })
                                        << expect([](UserRange& r) { setIds(r.mutable_special_list(), {}); });
        QTest::newRow("nobody empties the black lists")
            << Edit([](PrivacyItem* i) { i->changeRule(PrivacyItem::NOBODY); }) << expect([](UserRange& r) {
                   r.set_rule(PrivacyItem::NOBODY);
                   setIds(r.mutable_blacklist(), {});
                   setIds(r.mutable_group_blacklist(), {});
               });
        for (int rule : {int(PrivacyItem::EVERYBODY), int(PrivacyItem::GROUPS_AND_CONTACTS)})
            QTest::addRow("rule %d empties the white lists", rule)
                << Edit([rule](PrivacyItem* i) { i->changeRule(rule); }) << expect([rule](UserRange& r) {
                       r.set_rule(rule);
                       setIds(r.mutable_whitelist(), {});
                       setIds(r.mutable_group_whitelist(), {});
                   });
        QTest::newRow("non-contacts keeps every list")
            << Edit([](PrivacyItem* i) { i->changeRule(PrivacyItem::NON_CONTACTS); })
            << expect([](UserRange& r) { r.set_rule(PrivacyItem::NON_CONTACTS); });
    }

    // Every rule sends its own setting; what it sends is the edited copy of the lists, while
    // the lists shown stay as they were until the server answers.
    void edits()
    {
        QFETCH(Edit, edit);
        QFETCH(UserRange, sent);
        applyStart();
        const std::pair<int, PrivacyItem*> rules[] = {{1, model()->lastseen()},
                                                      {8, model()->calls()},
                                                      {9, model()->showRealPhoto()},
                                                      {11, model()->forwardMyMessage()},
                                                      {12, model()->status()}};
        for (const auto& [kind, item] : rules) {
            transport()->clearRecords();
            edit(item);
            QCOMPARE(transport()->count(122), 1);
            const UpdatePrivacySettingReq req = lastUpdate();
            QCOMPARE(int(req.setting_case()), kind);
            const UserRange* range = rangeOf(req, kind);
            QVERIFY(range);
            QVERIFY(sameMessage(*range, sent));
            QCOMPARE(item->blacklist()->userIds(), (QVariantList{11, 12}));
            QCOMPARE(item->rule(), int(PrivacyItem::CONTACTS));
            answer(0);
        }
    }

    void changeRuleToTheCurrentOneSendsNothing()
    {
        applyStart();
        model()->lastseen()->changeRule(PrivacyItem::CONTACTS);
        QCOMPARE(transport()->count(122), 0);
    }

    void idsBeyond32BitsAreNeverSent()
    {
        applyStart();
        model()->calls()->addBlacks({qint64(1) << 32 | 11}, {}, {});
        model()->calls()->addSpecials({-(qint64(1) << 40)});
        QCOMPARE(transport()->count(122), 0);
        const auto errors = AccountManager::getInstance()->errors();
        QCOMPARE(errors.size(), 2);
        QCOMPARE(errors.at(0).text, QStringLiteral("general_fail"));
        QCOMPARE(errors.at(0).command, 122);
        // The largest id that fits still goes out as itself.
        model()->calls()->addWhites({2147483647}, {}, {});
        QCOMPARE(lastUpdate().call().whitelist(1), 2147483647);
    }

    void applyingARange()
    {
        PrivacyItem* item = model()->lastseen();
        const QList<ItemModel*> lists{item->blacklist(), item->whitelist(), item->groupBlacklist(),
                                      item->groupWhitelist(), item->specialList()};
        std::vector<std::unique_ptr<QAbstractItemModelTester>> testers;
        for (ItemModel* list : lists)
            testers.push_back(std::make_unique<QAbstractItemModelTester>(
                list, QAbstractItemModelTester::FailureReportingMode::QtTest));
        QSignalSpy ruleSpy(item, &PrivacyItem::ruleChanged);
        QSignalSpy blackTags(item, &PrivacyItem::dialogBlackTagsChanged);
        QSignalSpy countSpy(item->blacklist(), &ItemModel::countChanged);

        m_t->account->refUserManager()->setUserDeleted(12, true);
        UserRange range = startRange();
        range.add_blacklist(777); // unknown to the directory: shown as a placeholder
        item->setUserRange(range);
        QCOMPARE(ruleSpy.count(), 1);
        QCOMPARE(item->blacklist()->userIds(), (QVariantList{11, 777})); // the deleted user is left out
        QVERIFY(sameMessage(item->range(), range));                      // but kept in the range
        QCOMPARE(item->whitelist()->userIds(), QVariantList{21});
        QCOMPARE(item->groupBlacklist()->groupIds(), QVariantList{101});
        QCOMPARE(item->groupWhitelist()->groupIds(), QVariantList{201});
        QCOMPARE(item->specialList()->userIds(), QVariantList{31});
        QCOMPARE(item->dialogBlackTags(), (QVariantList{tag("t1", "A"), tag("t1", "A again")}));
        QCOMPARE(item->dialogWhiteTags(), QVariantList{tag("t2", "B")});
        QCOMPARE(blackTags.count(), 1);
        QCOMPARE(countSpy.count(), 1);

        ItemModel* black = item->blacklist();
        QCOMPARE(black->rowCount(), 2);
        QCOMPARE(black->rowCount(black->index(0)), 0); // a list has no children
        auto* contact = qvariant_cast<ContactItem*>(black->data(black->index(1), ItemModel::ItemRole));
        QVERIFY(contact);
        QCOMPARE(contact->userId(), 777);
        QVERIFY(!black->data(black->index(0), Qt::DisplayRole).isValid());
        QCOMPARE(black->roleNames().value(ItemModel::ItemRole), QByteArray("itemModel"));
        QCOMPARE(black->targetIdByPos(0, false), 11);
        QCOMPARE(black->targetIdByPos(-1, false), -1);
        QCOMPARE(black->targetIdByPos(black->count(), false), -1);
        QCOMPARE(black->targetIdByPos(0, true), -1); // a contact row has no group id
        QCOMPARE(item->groupBlacklist()->targetIdByPos(0, true), 101);

        // The same rule again: no rule signal; a later deletion drops him from edits.
        item->setUserRange(range);
        QCOMPARE(ruleSpy.count(), 1);
        m_t->account->refUserManager()->setUserDeleted(777, true);
        item->removeBlack(11, false);
        QVERIFY(lastUpdate().lastseen().blacklist().empty());
    }

    void scalarSettings_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<int>("setting");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("findMeByPhone") << QByteArray("findMeByPhone") << 3 << QVariant(true);
        QTest::newRow("findMeById") << QByteArray("findMeById") << 4 << QVariant(true);
        QTest::newRow("enableStrangerChat") << QByteArray("enableStrangerChat") << 5 << QVariant(true);
        QTest::newRow("deleteInactiveAccountMonth")
            << QByteArray("deleteInactiveAccountMonth") << 6 << QVariant(6);
        QTest::newRow("enableSecurityNotif") << QByteArray("enableSecurityNotif") << 7 << QVariant(true);
        QTest::newRow("autoUnarchiveDialog") << QByteArray("autoUnarchiveDialog") << 13 << QVariant(true);
        QTest::newRow("autoAcceptContact") << QByteArray("autoAcceptContact") << 14 << QVariant(true);
        QTest::newRow("newChatSelfDestructTime")
            << QByteArray("newChatSelfDestructTime") << 15 << QVariant(86400);
        QTest::newRow("autoUnarchiveMutedDialog")
            << QByteArray("autoUnarchiveMutedDialog") << 17 << QVariant(true);
        QTest::newRow("autoUnarchiveDialogInFolder")
            << QByteArray("autoUnarchiveDialogInFolder") << 18 << QVariant(true);
    }

    // A write from QML sends one update holding only that setting and changes nothing until
    // the server acknowledges it.
    void scalarSettings()
    {
        QFETCH(QByteArray, property);
        QFETCH(int, setting);
        QFETCH(QVariant, value);
        const QMetaProperty meta =
            model()->metaObject()->property(model()->metaObject()->indexOfProperty(property));
        QVERIFY(meta.isValid() && meta.hasNotifySignal());
        QSignalSpy changed(model(), meta.notifySignal());
        QSignalSpy sending(model(), &PrivacyModel::atSendingChanged);
        const QVariant before = meta.read(model());

        QVERIFY(meta.write(model(), before)); // the current value: nothing to send
        QCOMPARE(transport()->count(122), 0);

        QVERIFY(meta.write(model(), value));
        QCOMPARE(transport()->count(122), 1);
        const UpdatePrivacySettingReq req = lastUpdate();
        QCOMPARE(int(req.setting_case()), setting);
        const auto* field = req.GetDescriptor()->FindFieldByNumber(setting);
        QVERIFY(field);
        const auto* reflection = req.GetReflection();
        switch (field->cpp_type()) {
        case google::protobuf::FieldDescriptor::CPPTYPE_BOOL:
            QCOMPARE(reflection->GetBool(req, field), value.toBool());
            break;
        case google::protobuf::FieldDescriptor::CPPTYPE_ENUM:
            QCOMPARE(reflection->GetEnumValue(req, field), value.toInt());
            break;
        default: QCOMPARE(reflection->GetInt32(req, field), value.toInt());
        }
        QVERIFY(model()->atSending());
        QCOMPARE(meta.read(model()), before);
        QCOMPARE(changed.count(), 0);

        answer(0);
        QCOMPARE(meta.read(model()), value);
        QCOMPARE(changed.count(), 1);
        QVERIFY(!model()->atSending());
        QCOMPARE(sending.count(), 2);

        // An acknowledgement of the value already held emits nothing.
        model()->updatePrivacySettingResp(req, 0);
        QCOMPARE(changed.count(), 1);
        // Acknowledged values are not written to the local copy; only server lists are.
        QVERIFY(m_t->account->accountSettingModel()->privacySettings().isEmpty());
    }

    void oneUpdateInFlight()
    {
        QSignalSpy phone(model(), &PrivacyModel::findMeByPhoneChanged);
        QSignalSpy stranger(model(), &PrivacyModel::enableStrangerChatChanged);
        model()->setFindMeByPhone(true);
        model()->setEnableStrangerChat(true); // dropped: the first is still in flight
        model()->setMessageLimit(5, 2);
        QCOMPARE(transport()->count(122), 1);
        answer(0);
        QVERIFY(model()->findMeByPhone());
        QVERIFY(!model()->enableStrangerChat());
        QCOMPARE(phone.count(), 1);
        QCOMPARE(stranger.count(), 0);

        // A rejected update reports and keeps the old value.
        model()->setEnableStrangerChat(true);
        answer(500);
        QVERIFY(!model()->enableStrangerChat());
        const auto errors = AccountManager::getInstance()->errors();
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.at(0).code, 500);
        QCOMPARE(errors.at(0).text, QStringLiteral("general_fail"));
        QCOMPARE(errors.at(0).command, 122);
        QVERIFY(!model()->atSending());

        // A rule's own update clears the flag too, and its range applies on success.
        model()->lastseen()->addBlacks({13}, {}, {});
        model()->setFindMeById(true); // goes out as its own command while 122 is pending: dropped there
        QVERIFY(model()->atSending());
        answer(0);
        QVERIFY(!model()->atSending());
        QCOMPARE(model()->lastseen()->blacklist()->userIds(), QVariantList{13});
        QVERIFY(!model()->findMeById());
    }

    void messageLimit()
    {
        QSignalSpy count(model(), &PrivacyModel::messageCountLimitChanged);
        QSignalSpy days(model(), &PrivacyModel::messageDaysLimitChanged);
        model()->setMessageLimit(0, 0);
        QCOMPARE(transport()->count(122), 0);
        model()->setMessageLimit(10, 3);
        const auto req = lastUpdate();
        QCOMPARE(req.new_chat_message_limit().count(), 10);
        QCOMPARE(req.new_chat_message_limit().days(), 3);
        answer(0);
        QCOMPARE(model()->messageCountLimit(), 10);
        QCOMPARE(model()->messageDaysLimit(), 3);
        QCOMPARE(count.count(), 1);
        QCOMPARE(days.count(), 1);
        model()->setMessageLimit(10, 4, false); // a local apply: both signals, nothing sent
        QCOMPARE(count.count(), 2);
        QCOMPARE(days.count(), 2);
        QCOMPARE(transport()->count(122), 1);
    }

    void settingsListAndLocalCopy()
    {
        im::user::ListPrivacySettingsResp resp;
        resp.set_find_me_by_phone(true);
        resp.set_deletetimer(im::user::DELETE_TIMER_6_MONTHS);
        resp.set_new_chat_self_destruct_time(60);
        resp.mutable_new_chat_message_limit()->set_count(7);
        resp.mutable_new_chat_message_limit()->set_days(1);
        *resp.mutable_call() = startRange();
        QSignalSpy phone(model(), &PrivacyModel::findMeByPhoneChanged);
        QSignalSpy id(model(), &PrivacyModel::findMeByIdChanged);
        model()->setPrivacySettings(resp, true);
        QCOMPARE(phone.count(), 1);
        QCOMPARE(id.count(), 0);

        // A restart on the same database loads the same state.
        const QString accountId = m_t->account->accountId();
        m_t.reset();
        m_t = std::make_unique<TestAccount>(m_dir.path(), accountId);
        QVERIFY(!model()->findMeByPhone());
        model()->loadLocalData(true);
        QVERIFY(!model()->findMeByPhone());
        model()->loadLocalData(false);
        QVERIFY(model()->findMeByPhone());
        QCOMPARE(model()->deleteInactiveAccountMonth(), 6);
        QCOMPARE(model()->newChatSelfDestructTime(), 60);
        QCOMPARE(model()->messageCountLimit(), 7);
        QCOMPARE(model()->calls()->rule(), int(PrivacyItem::CONTACTS));
        QCOMPARE(model()->calls()->whitelist()->userIds(), QVariantList{21});

        QSignalSpy cleared(model(), &PrivacyModel::findMeByPhoneChanged);
        QSignalSpy rule(model()->calls(), &PrivacyItem::ruleChanged);
        QSignalSpy days(model(), &PrivacyModel::messageDaysLimitChanged);
        QSignalSpy stranger(model(), &PrivacyModel::enableStrangerChatChanged);
        model()->clearData(false);
        QVERIFY(!model()->findMeByPhone());
        QCOMPARE(model()->deleteInactiveAccountMonth(), 0);
        QCOMPARE(model()->messageCountLimit(), 0);
        QCOMPARE(model()->messageDaysLimit(), 0);
        QCOMPARE(model()->calls()->rule(), int(PrivacyItem::EVERYBODY));
        QCOMPARE(model()->calls()->whitelist()->count(), 0);
        QCOMPARE(model()->calls()->dialogBlackTags().size(), 0);
        QCOMPARE(cleared.count(), 1);
        QCOMPARE(rule.count(), 1);
        QCOMPARE(days.count(), 1);
        QCOMPARE(stranger.count(), 0);
    }

    // The interface hears startDestroy while the model and its rules can still be read, so it can
    // let go of them in order; each rule says so too.
    void destructionIsAnnouncedFirst()
    {
        bool rulesAlive = false;
        int ruleAnnouncements = 0;
        PrivacyModel* privacy = model();
        QObject::connect(privacy, &PrivacyModel::startDestroy, [&] {
            rulesAlive = privacy->lastseen() && privacy->lastseen()->blacklist()->count() == 0 &&
                         privacy->forwardMyMessage() && privacy->forwardMyMessage()->rule() == 0;
        });
        for (PrivacyItem* rule : {privacy->lastseen(), privacy->status(), privacy->calls(),
                                  privacy->showRealPhoto(), privacy->forwardMyMessage()})
            QObject::connect(rule, &PrivacyItem::startDestroy, [&] { ++ruleAnnouncements; });
        delete privacy;
        QVERIFY(rulesAlive);
        QCOMPARE(ruleAnnouncements, 5);
        QVERIFY(!m_t->account->privacyModel()); // the account no longer hands it out
    }

    void damagedLocalCopyDoesNotCrash()
    {
        m_t->account->accountSettingModel()->savePrivacySettings(QByteArray("\x0a\xff\xff\xff", 4));
        model()->loadLocalData(false);
        QVERIFY(!model()->findMeByPhone());
    }
};

SETTINGMODEL_TEST_GUILESS_MAIN(TestPrivacy)
#include "tst_privacy.moc"
