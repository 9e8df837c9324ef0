#include "commands/settingservicecmd.h"
#include "host/accountmanager.h"
#include "host/contacts.h"
#include "im/account.pb.h"
#include "im/chat.pb.h"
#include "im/common.pb.h"
#include "im/feature.pb.h"
#include "im/misc.pb.h"
#include "im/user.pb.h"
#include "logcapture.h"
#include "privacy/privacymodel.h"
#include "protohelpers.h"
#include "refcontacts.h"
#include "refstores.h"
#include "secretwatch.h"
#include "testaccount.h"

#include <QDateTime>
#include <QLocale>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <memory>

using google::protobuf::Message;
using Call = std::function<void(SettingServiceCmd*)>;
Q_DECLARE_METATYPE(Call)
Q_DECLARE_METATYPE(std::shared_ptr<Message>)

namespace {

// Only the two message templates that take a date; every other id stays as it is, so the
// tests still see the ids themselves.
class DateTemplates : public QTranslator {
public:
    bool isEmpty() const override { return false; }
    QString translate(const char*, const char* id, const char*, int) const override
    {
        if (qstrcmp(id, "pwd_error_tip") == 0)
            return QStringLiteral("Locked until %1");
        if (qstrcmp(id, "setting_password_reset_failed_content") == 0)
            return QStringLiteral("Reset pending until %1");
        return {};
    }
};

QByteArray lockBody(qint64 until)
{
    im::PasswordLockedErrorData data;
    data.set_lock_until(until);
    return bytesOf(data);
}

QString lockText(qint64 until)
{
    const QLocale locale(QLocale::system().language());
    return QStringLiteral("Locked until ") +
           locale.toString(QDateTime::fromMSecsSinceEpoch(until).toLocalTime(), QLocale::ShortFormat);
}

const QByteArray kGarbage("\xff\xff\xff\xff", 4);
constexpr qint64 kLockUntil = 1'760'000'000'000;

template <class M> std::shared_ptr<Message> msg(const M& m)
{
    return std::make_shared<M>(m);
}

} // namespace

class TestSettingServiceCmd : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<TestAccount> m_t;
    DateTemplates m_translator;

    SettingServiceCmd* cmd() const { return m_t->cmd; }
    ScriptedTransport* transport() const { return m_t->transport; }
    QList<AccountManager::Error> errors() const { return AccountManager::getInstance()->errors(); }

    // Answers the oldest pending request of a command and runs its queued callback.
    void answer(int command, int code, const QByteArray& body = {})
    {
        QVERIFY2(transport()->answerNext(command, code, body), "nothing pending");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    }

private slots:
    void initTestCase() { QCoreApplication::installTranslator(&m_translator); }

    void init()
    {
        m_t = std::make_unique<TestAccount>(m_dir.path(), QString::fromLatin1(QTest::currentTestFunction()));
        AccountManager::getInstance()->clearRecords();
    }

    void cleanup() { m_t.reset(); }

    void requestsOnTheWire_data()
    {
        QTest::addColumn<Call>("call");
        QTest::addColumn<int>("command");
        QTest::addColumn<std::shared_ptr<Message>>("expected"); // null: an empty body
        QTest::addColumn<bool>("flag");

        QTest::newRow("listDevices") << Call([](SettingServiceCmd* c) { c->listDevices(); }) << 46
                                     << std::shared_ptr<Message>() << false;
        im::user::UnlinkDevicesReq unlink;
        unlink.add_device_ids(3);
        unlink.add_device_ids(5);
        unlink.set_password("pw");
        QTest::newRow("unlinkDevices") << Call([](SettingServiceCmd* c) {
            c->unlinkDevices({3, QStringLiteral("5")}, QStringLiteral("pw"));
        }) << 47 << msg(unlink) << false;
        QTest::newRow("unlinkDevices none") << Call([](SettingServiceCmd* c) { c->unlinkDevices({}); }) << 47
                                            << msg(im::user::UnlinkDevicesReq()) << false;
        QTest::newRow("listPrivacySettings") << Call([](SettingServiceCmd* c) { c->listPrivacySettings(); })
                                             << 121 << std::shared_ptr<Message>() << false;
        im::user::UpdatePrivacySettingReq privacy;
        privacy.mutable_call()->set_rule(2);
        privacy.mutable_call()->add_whitelist(77);
        QTest::newRow("updatePrivacySetting")
            << Call([privacy](SettingServiceCmd* c) { c->updatePrivacySetting(privacy); }) << 122
            << msg(privacy) << false;
        im::account::ResetVerificationReq reset;
        reset.set_cancel(true);
        QTest::newRow("resetVerification")
            << Call([](SettingServiceCmd* c) { c->resetVerification(true); }) << 139 << msg(reset) << false;
        QTest::newRow("getVerificationSetting")
            << Call([](SettingServiceCmd* c) { c->getVerificationSetting(); }) << 151
            << std::shared_ptr<Message>() << false;
        im::user::VerifyEmailReq email;
        email.set_email("ä@example.org");
        QTest::newRow("verifyEmail") << Call([](SettingServiceCmd* c) {
            c->verifyEmail(QStringLiteral("ä@example.org"));
        }) << 152 << msg(email) << false;
        im::user::VerifyPasswordReq password;
        password.set_password("secret");
        QTest::newRow("verifyPassword")
            << Call([](SettingServiceCmd* c) { c->verifyPassword(QStringLiteral("secret")); }) << 153
            << msg(password) << false;
        im::user::UpdateVerificationSettingReq update;
        update.set_action(3);
        update.set_password("pw");
        update.set_email("e@x.org");
        update.set_verify_code("123456");
        update.set_new_password("npw");
        QTest::newRow("updateVerificationSetting") << Call([](SettingServiceCmd* c) {
            c->updateVerificationSetting(3, QStringLiteral("pw"), QStringLiteral("e@x.org"),
                                         QStringLiteral("123456"), QStringLiteral("npw"));
        }) << 154 << msg(update) << false;
        im::user::VerifyEmailByPhoneReq byPhone;
        byPhone.set_phone("+4912345");
        byPhone.set_code("999");
        QTest::newRow("verifyEmailByPhone") << Call([](SettingServiceCmd* c) {
            c->verifyEmailByPhone(QStringLiteral("+4912345"), QStringLiteral("999"));
        }) << 155 << msg(byPhone) << false;
        im::user::EvalPrivacySettingReq eval;
        eval.set_user_id(1234567890123);
        eval.set_override_role(2);
        QTest::newRow("evalPrivacySetting")
            << Call([](SettingServiceCmd* c) { c->evalPrivacySetting(1234567890123, 2); }) << 156 << msg(eval)
            << false;
        im::user::UpdatePrivacyForUserReq perUser;
        perUser.set_user_id(42);
        perUser.mutable_permissions()->set_bits(5);
        perUser.mutable_permissions()->set_length(8);
        QTest::newRow("updateUserPrivacy")
            << Call([](SettingServiceCmd* c) { c->updateUserPrivacy(42, 5, 8); }) << 157 << msg(perUser)
            << false;
        im::feature::EnableFeatureReq enable;
        enable.set_feature_id(7);
        QTest::newRow("enableFeature")
            << Call([](SettingServiceCmd* c) { c->enableFeature(7); }) << 172 << msg(enable) << false;
        im::feature::DisableFeatureReq disable;
        disable.set_feature_id(7);
        QTest::newRow("disableFeature")
            << Call([](SettingServiceCmd* c) { c->disableFeature(7); }) << 173 << msg(disable) << false;
        QTest::newRow("listFeatures") << Call([](SettingServiceCmd* c) { c->listFeatures(); }) << 174
                                      << std::shared_ptr<Message>() << false;
        im::misc::ListSharedPreferencesReq list;
        list.set_offset(1'700'000'000'123);
        QTest::newRow("listSharedPreferences")
            << Call([](SettingServiceCmd* c) { c->listSharedPreferences(1'700'000'000'123); }) << 178
            << msg(list) << false;
        im::misc::UpdateSharedPreferencesV2Req encrypted;
        auto* entry = encrypted.add_preferences();
        entry->set_key("remark_9");
        entry->set_value("välue");
        entry->set_type(12);
        entry->set_version(77);
        entry->set_value_key("the key");
        entry->set_encrypted(true);
        QTest::newRow("updateSharedPreference encrypted") << Call([](SettingServiceCmd* c) {
            c->updateSharedPreference(QStringLiteral("remark_9"), QStringLiteral("välue"), 12, 77, {}, true,
                                      QByteArray("the key"));
        }) << 180 << msg(encrypted) << true;
        im::misc::UpdateSharedPreferencesV2Req plain = encrypted;
        plain.mutable_preferences(0)->clear_value_key();
        plain.mutable_preferences(0)->set_encrypted(false);
        QTest::newRow("updateSharedPreference plain") << Call([](SettingServiceCmd* c) {
            c->updateSharedPreference(QStringLiteral("remark_9"), QStringLiteral("välue"), 12, 77, {}, false,
                                      {});
        }) << 180 << msg(plain) << false;
        im::user::UpdateDeviceDeleteTimerReq timer;
        timer.set_timer_type(2);
        QTest::newRow("updateDeviceDeleteTimer")
            << Call([](SettingServiceCmd* c) { c->updateDeviceDeleteTimer(2); }) << 274 << msg(timer)
            << false;
        im::chat::UpdateThemeReq theme;
        theme.set_dialog_id("d1");
        theme.mutable_theme()->set_id("t1");
        theme.set_both_sides(true);
        QTest::newRow("updateThemeReq") << Call([theme](SettingServiceCmd* c) {
            c->updateThemeReq(theme, [](int, const QByteArray&) {});
        }) << 373 << msg(theme) << false;
    }

    void requestsOnTheWire()
    {
        QFETCH(Call, call);
        QFETCH(int, command);
        QFETCH(std::shared_ptr<Message>, expected);
        QFETCH(bool, flag);
        call(cmd());
        QCOMPARE(transport()->requests().size(), 1);
        const auto request = transport()->requests().constFirst();
        QCOMPARE(request.command, command);
        QCOMPARE(request.flag, flag);
        if (!expected) {
            QVERIFY(request.body.isEmpty());
            return;
        }
        std::unique_ptr<Message> actual(expected->New());
        QVERIFY(actual->ParseFromArray(request.body.constData(), int(request.body.size())));
        QVERIFY(sameMessage(*actual, *expected));
    }

    void deduplicatedCommandsWaitForTheirAnswer_data()
    {
        QTest::addColumn<Call>("call");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("code");
        const QList<QPair<int, Call>> commands{
            {46, [](SettingServiceCmd* c) { c->listDevices(); }},
            {121, [](SettingServiceCmd* c) { c->listPrivacySettings(); }},
            {122, [](SettingServiceCmd* c) { c->updatePrivacySetting(im::user::UpdatePrivacySettingReq()); }},
            {139, [](SettingServiceCmd* c) { c->resetVerification(false); }},
            {151, [](SettingServiceCmd* c) { c->getVerificationSetting(); }},
            {174, [](SettingServiceCmd* c) { c->listFeatures(); }},
            {178, [](SettingServiceCmd* c) { c->listSharedPreferences(0); }},
        };
        for (const auto& [command, call] : commands) {
            QTest::addRow("%d answered ok", command) << call << command << 0;
            QTest::addRow("%d answered with an error", command) << call << command << 500;
        }
    }

    void deduplicatedCommandsWaitForTheirAnswer()
    {
        QFETCH(Call, call);
        QFETCH(int, command);
        QFETCH(int, code);
        call(cmd());
        call(cmd());
        QCOMPARE(transport()->count(command), 1);
        QVERIFY(cmd()->isInFlight(quint16(command)));
        // Unanswered, it stays blocked however long we wait.
        QCoreApplication::processEvents();
        call(cmd());
        QCOMPARE(transport()->count(command), 1);

        answer(command, code);
        QVERIFY(!cmd()->isInFlight(quint16(command)));
        call(cmd());
        QCOMPARE(transport()->count(command), 2);
    }

    void aDroppedCommandBlocksOnlyItself()
    {
        cmd()->listDevices();
        cmd()->listFeatures();
        answer(174, 0);
        cmd()->listFeatures();
        cmd()->listDevices();
        QCOMPARE(transport()->count(174), 2);
        QCOMPARE(transport()->count(46), 1);
    }

    void otherCommandsAlwaysSend_data()
    {
        QTest::addColumn<Call>("call");
        QTest::addColumn<int>("command");
        QTest::newRow("47") << Call([](SettingServiceCmd* c) { c->unlinkDevices({1}); }) << 47;
        QTest::newRow("152") << Call([](SettingServiceCmd* c) { c->verifyEmail({}); }) << 152;
        QTest::newRow("153") << Call([](SettingServiceCmd* c) { c->verifyPassword({}); }) << 153;
        QTest::newRow("154") << Call([](SettingServiceCmd* c) {
            c->updateVerificationSetting(0, {}, {}, {}, {});
        }) << 154;
        QTest::newRow("155") << Call([](SettingServiceCmd* c) { c->verifyEmailByPhone({}, {}); }) << 155;
        QTest::newRow("156") << Call([](SettingServiceCmd* c) { c->evalPrivacySetting(1, 0); }) << 156;
        QTest::newRow("157") << Call([](SettingServiceCmd* c) { c->updateUserPrivacy(1, 0, 0); }) << 157;
        QTest::newRow("172") << Call([](SettingServiceCmd* c) { c->enableFeature(1); }) << 172;
        QTest::newRow("173") << Call([](SettingServiceCmd* c) { c->disableFeature(1); }) << 173;
        QTest::newRow("180") << Call([](SettingServiceCmd* c) { c->updateSharedPreferences({}, false, {}); })
                             << 180;
        QTest::newRow("274") << Call([](SettingServiceCmd* c) { c->updateDeviceDeleteTimer(1); }) << 274;
        QTest::newRow("373") << Call([](SettingServiceCmd* c) { c->updateThemeReq({}, {}); }) << 373;
    }

    void otherCommandsAlwaysSend()
    {
        QFETCH(Call, call);
        QFETCH(int, command);
        call(cmd());
        call(cmd());
        QCOMPARE(transport()->count(command), 2);
    }

    void verifyEmailTips_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("succ");
        QTest::addColumn<QString>("tip");
        QTest::newRow("sent") << 0 << QByteArray() << true << "cre_email_sent";
        QTest::newRow("network") << -1 << QByteArray() << false << "cre_network_error";
        QTest::newRow("locked") << 2119 << lockBody(kLockUntil) << false << lockText(kLockUntil);
        QTest::newRow("locked, body unreadable") << 2119 << kGarbage << false << "general_fail";
        QTest::newRow("too frequent") << 429 << QByteArray() << false << "main_tip_operation_frequent";
        QTest::newRow("invalid e-mail") << 15201 << QByteArray() << false << "login_invalid_email";
        QTest::newRow("other") << 3 << kGarbage << false << "general_fail";
    }

    void verifyEmailTips()
    {
        QFETCH(int, code);
        QFETCH(QByteArray, body);
        QFETCH(bool, succ);
        QFETCH(QString, tip);
        QSignalSpy spy(cmd(), &SettingServiceCmd::verifyEmailFinished);
        cmd()->verifyEmail(QStringLiteral("a@b.c"));
        answer(152, code, body);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0), (QVariantList{code, succ, tip}));
        QVERIFY(errors().isEmpty());
    }

    void verifyPasswordResults_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("error");
        im::user::VerifyPasswordResp ok;
        ok.set_valid(true);
        QTest::newRow("valid") << 0 << bytesOf(ok) << true << "";
        QTest::newRow("invalid") << 0 << bytesOf(im::user::VerifyPasswordResp()) << false
                                 << "eslp_enter_again";
        QTest::newRow("answer unreadable") << 0 << kGarbage << false << "eslp_enter_again";
        QTest::newRow("locked") << 2119 << lockBody(kLockUntil) << false << lockText(kLockUntil);
        QTest::newRow("too frequent") << 429 << QByteArray() << false << "main_tip_operation_frequent";
        QTest::newRow("unauthorized") << 401 << QByteArray() << false << "login_unauthorized_tip";
        QTest::newRow("other positive") << 7 << QByteArray() << false << "eslp_enter_again";
        QTest::newRow("network") << -3 << QByteArray() << false << "cre_network_error";
    }

    void verifyPasswordResults()
    {
        QFETCH(int, code);
        QFETCH(QByteArray, body);
        QFETCH(bool, valid);
        QFETCH(QString, error);
        QSignalSpy spy(cmd(), &SettingServiceCmd::verifyPasswordFinished);
        cmd()->verifyPassword(QStringLiteral("pw"));
        answer(153, code, body);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0), (QVariantList{code, code == 0, valid, error}));
    }

    void updateVerificationSetting_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("email");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<qint64>("resetAt");
        QTest::addColumn<QString>("notice");
        QTest::newRow("enable") << 0 << 0 << QByteArray() << ""
                                << "new@x.org" << true << qint64(5) << "";
        QTest::newRow("disable") << 1 << 0 << QByteArray() << ""
                                 << "" << false << qint64(0) << "";
        QTest::newRow("password changed") << 2 << 0 << QByteArray() << ""
                                          << "old@x.org" << true << qint64(5) << "ab_password_update_ok";
        QTest::newRow("e-mail changed") << 3 << 0 << QByteArray() << ""
                                        << "new@x.org" << true << qint64(5) << "";
        QTest::newRow("unknown action") << 9 << 0 << QByteArray() << ""
                                        << "old@x.org" << true << qint64(5) << "";
        QTest::newRow("locked") << 0 << 2119 << lockBody(kLockUntil) << lockText(kLockUntil) << "old@x.org"
                                << true << qint64(5) << "";
        QTest::newRow("too frequent") << 1 << 429 << QByteArray() << "msgsync_try_again"
                                      << "old@x.org" << true << qint64(5) << "";
        QTest::newRow("wrong code") << 3 << 2102 << QByteArray() << "cre_code_error"
                                    << "old@x.org" << true << qint64(5) << "";
        QTest::newRow("expired code") << 3 << 2103 << QByteArray() << "cre_code_error"
                                      << "old@x.org" << true << qint64(5) << "";
        QTest::newRow("other") << 1 << 500 << kGarbage << "ab_verification_update_fail"
                               << "old@x.org" << true << qint64(5) << "";
    }

    void updateVerificationSetting()
    {
        QFETCH(int, action);
        QFETCH(int, code);
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        QFETCH(QString, email);
        QFETCH(bool, enabled);
        QFETCH(qint64, resetAt);
        QFETCH(QString, notice);
        RefAccount* account = m_t->account;
        account->setVerificationEmail(QStringLiteral("old@x.org"));
        account->setVerificationEnabled(true);
        account->setVerificationResetAt(5);
        QSignalSpy spy(cmd(), &SettingServiceCmd::updateVerificationSettingFinished);
        cmd()->updateVerificationSetting(action, QStringLiteral("pw"), QStringLiteral("new@x.org"),
                                         QStringLiteral("1234"), QStringLiteral("npw"));
        answer(154, code, body);
        QCOMPARE(spy.count(), 1);
        const QVariantMap params = spy.at(0).at(1).toMap();
        QCOMPARE(params.value(QStringLiteral("action")).toInt(), action);
        QCOMPARE(params.value(QStringLiteral("verifyCode")).toString(), QStringLiteral("1234"));
        QCOMPARE(params.value(QStringLiteral("newPassword")).toString(), QStringLiteral("npw"));
        QCOMPARE(spy.at(0).at(2).toString(), error);
        QCOMPARE(account->verificationEmail(), email);
        QCOMPARE(account->verificationEnabled(), enabled);
        QCOMPARE(account->verificationResetAt(), resetAt);
        if (notice.isEmpty()) {
            QVERIFY(errors().isEmpty());
        } else {
            QCOMPARE(errors().size(), 1);
            QCOMPARE(errors().at(0).code, 0);
            QCOMPARE(errors().at(0).text, notice);
            QCOMPARE(errors().at(0).command, 154);
        }
    }

    void resetVerification_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<qint64>("resetAt");
        QTest::addColumn<QString>("reported");
        im::account::ResetVerificationResp resp;
        resp.set_reset_at(1'765'000'000'000);
        const QString pendingText =
            QStringLiteral("Reset pending until ") + QDateTime::fromMSecsSinceEpoch(resp.reset_at())
                                                         .toLocalTime()
                                                         .toString(QStringLiteral("dd/MM/yyyy hh:mm"));
        QTest::newRow("scheduled") << 0 << bytesOf(resp) << qint64(resp.reset_at()) << "";
        QTest::newRow("answer unreadable") << 0 << kGarbage << qint64(0) << "setting_password_reset_failed";
        QTest::newRow("already pending") << 13901 << bytesOf(resp) << qint64(0) << pendingText;
        QTest::newRow("already pending, unreadable")
            << 13901 << kGarbage << qint64(0) << "setting_password_reset_failed";
        QTest::newRow("failed") << 500 << QByteArray() << qint64(0) << "setting_password_reset_failed";
    }

    void resetVerification()
    {
        QFETCH(int, code);
        QFETCH(QByteArray, body);
        QFETCH(qint64, resetAt);
        QFETCH(QString, reported);
        cmd()->resetVerification(false);
        answer(139, code, body);
        QVERIFY(!cmd()->isInFlight(139));
        QCOMPARE(m_t->account->verificationResetAt(), resetAt);
        if (reported.isEmpty()) {
            QVERIFY(errors().isEmpty());
            return;
        }
        QCOMPARE(errors().size(), 1);
        QCOMPARE(errors().at(0).code, code);
        QCOMPARE(errors().at(0).text, reported);
        QCOMPARE(errors().at(0).command, 139);
    }

    void getVerificationSetting()
    {
        im::user::GetVerificationSettingResp resp;
        resp.set_email("me@x.org");
        resp.set_enabled(true);
        resp.set_reset_at(99);
        cmd()->getVerificationSetting();
        answer(151, 0, bytesOf(resp));
        QCOMPARE(m_t->account->verificationEmail(), QStringLiteral("me@x.org"));
        QVERIFY(m_t->account->verificationEnabled());
        QCOMPARE(m_t->account->verificationResetAt(), 99);

        for (const auto& [code, body] : {qMakePair(8, QByteArray()), qMakePair(0, kGarbage)}) {
            AccountManager::getInstance()->clearRecords();
            cmd()->getVerificationSetting();
            answer(151, code, body);
            QVERIFY(!cmd()->isInFlight(151));
            QCOMPARE(errors().size(), 1);
            QCOMPARE(errors().at(0).text, QStringLiteral("ab_verification_get_fail"));
            QCOMPARE(errors().at(0).command, 151);
            QCOMPARE(m_t->account->verificationEmail(), QStringLiteral("me@x.org"));
        }
    }

    void devices()
    {
        auto* devices = m_t->account->refDeviceModel();
        QSignalSpy listed(cmd(), &SettingServiceCmd::listDevicesFinished);
        QSignalSpy unlinked(cmd(), &SettingServiceCmd::unlinkDeviceFinished);
        im::user::ListDevicesResp resp;
        for (int id : {1, 2, 3})
            resp.add_devices()->set_id(id);
        resp.set_max_device_count(5);
        cmd()->listDevices();
        answer(46, 0, bytesOf(resp));
        QCOMPARE(devices->count(), 3);
        QCOMPARE(m_t->account->maxDeviceCount(), 5);
        QCOMPARE(listed.takeFirst().at(0).toBool(), true);

        // A failure or an unreadable list keeps what is shown.
        resp.set_max_device_count(0);
        resp.clear_devices();
        for (const auto& [code, body] : {qMakePair(500, bytesOf(resp)), qMakePair(0, kGarbage)}) {
            cmd()->listDevices();
            answer(46, code, body);
            QCOMPARE(listed.takeFirst().at(0).toBool(), false);
            QCOMPARE(devices->count(), 3);
        }
        cmd()->listDevices();
        answer(46, 0, bytesOf(resp));
        QCOMPARE(m_t->account->maxDeviceCount(), 5); // 0 means the server did not say
        QCOMPARE(devices->count(), 0);

        resp.Clear();
        for (int id : {1, 2, 3})
            resp.add_devices()->set_id(id);
        cmd()->listDevices();
        answer(46, 0, bytesOf(resp));
        cmd()->unlinkDevices({2});
        answer(47, 403);
        QCOMPARE(unlinked.takeFirst().at(0).toInt(), 403);
        QCOMPARE(devices->count(), 3);
        cmd()->unlinkDevices({2, 3});
        answer(47, 0);
        QCOMPARE(unlinked.takeFirst().at(0).toInt(), 0);
        QCOMPARE(devices->count(), 1);

        cmd()->updateDeviceDeleteTimer(3);
        answer(274, 500);
        QCOMPARE(devices->deleteTimer(), 0);
        cmd()->updateDeviceDeleteTimer(3);
        answer(274, 0);
        QCOMPARE(devices->deleteTimer(), 3);
        QVERIFY(errors().isEmpty());
    }

    void unlinkLogsTheDeviceIds()
    {
        LogCapture log;
        cmd()->unlinkDevices({4, 11});
        QCOMPARE(log.messages(), QStringList{QStringLiteral("UserServiceCmd::unlinkDevices 4 11")});
    }

    void features()
    {
        RefAccount* account = m_t->account;
        QSignalSpy changed(account, &RefAccount::featuresChanged);
        im::feature::ListFeaturesResp resp;
        for (auto [id, state] : {std::pair{1, 1}, {2, 2}, {1, 2}}) {
            auto* f = resp.add_features();
            f->set_feature_id(id);
            f->set_state(state);
        }
        cmd()->listFeatures();
        answer(174, 0, bytesOf(resp));
        QCOMPARE(account->features(), (QMap<int, int>{{1, 2}, {2, 2}})); // the later entry wins

        cmd()->listFeatures();
        answer(174, 0, kGarbage);
        cmd()->listFeatures();
        answer(174, 503);
        QCOMPARE(account->features().size(), 2);

        changed.clear();
        cmd()->listFeatures();
        answer(174, 0, {});
        QCOMPARE(changed.count(), 1);
        QVERIFY(account->features().isEmpty());

        cmd()->enableFeature(5);
        answer(172, 0);
        cmd()->enableFeature(6);
        answer(172, 9);
        cmd()->disableFeature(5);
        answer(173, 0);
        cmd()->disableFeature(6);
        answer(173, 9);
        const auto updates = account->featureUpdates();
        QCOMPARE(updates.size(), 4);
        const QList<QList<int>> expected{{2, 0, 5, 1}, {2, 9, 6, 2}, {3, 0, 5, 2}, {3, 9, 6, 1}};
        for (int i = 0; i < 4; ++i)
            QCOMPARE((QList<int>{updates[i].action, updates[i].code, updates[i].featureId, updates[i].state}),
                     expected[i]);
        QVERIFY(errors().isEmpty());
    }

    void perUserPrivacy()
    {
        auto contact = m_t->account->refUserManager()->addUser(31, QStringLiteral("Ann"));
        im::user::EvalPrivacySettingResp resp;
        resp.mutable_permissions()->set_bits(0b1011);
        cmd()->evalPrivacySetting(31, 1);
        answer(156, 0, bytesOf(resp));
        QCOMPARE(contact->privacyPermissions(), 0b1011);
        QVERIFY(errors().isEmpty());

        cmd()->evalPrivacySetting(31, 1);
        answer(156, 0, kGarbage);
        cmd()->evalPrivacySetting(31, 1);
        answer(156, 77);
        cmd()->updateUserPrivacy(31, 1, 4);
        answer(157, 0);
        cmd()->updateUserPrivacy(31, 1, 4);
        answer(157, 78);
        QCOMPARE(contact->privacyPermissions(), 0b1011);
        QCOMPARE(errors().size(), 3);
        QCOMPARE(errors().at(0).code, 0);
        QCOMPARE(errors().at(1).code, 77);
        QCOMPARE(errors().at(1).command, 156);
        QCOMPARE(errors().at(2).code, 78);
        QCOMPARE(errors().at(2).command, 157);
        for (const auto& e : errors())
            QCOMPARE(e.text, QStringLiteral("general_fail"));
    }

    void privacyListReachesTheModel()
    {
        im::user::ListPrivacySettingsResp resp;
        resp.set_find_me_by_id(true);
        cmd()->listPrivacySettings();
        answer(121, 0, bytesOf(resp));
        QVERIFY(m_t->privacy->findMeById());
        for (const auto& [code, body] : {qMakePair(500, QByteArray()), qMakePair(0, kGarbage)}) {
            cmd()->listPrivacySettings();
            answer(121, code, body);
        }
        QVERIFY(m_t->privacy->findMeById());
        QCOMPARE(errors().size(), 2);
        QCOMPARE(errors().at(0).text, QStringLiteral("ab_privacy_settings_get_fail"));
        QCOMPARE(errors().at(0).code, 500);
        QCOMPARE(errors().at(1).command, 121);
    }

    void sharedPreferenceCommandsWithoutAStore()
    {
        // No preference store is registered: answers are taken and dropped.
        const QVariantMap context{{QStringLiteral("k"), 5}};
        const qint64 id = cmd()->updateSharedPreferences({}, true, context);
        const auto sent = transport()->last(180);
        QVERIFY(sent);
        QCOMPARE(sent->id, id);
        QCOMPARE(sent->context, context);
        QVERIFY(sent->flag);
        answer(180, 0, kGarbage);
        cmd()->listSharedPreferences(3);
        answer(178, 0, kGarbage);
        QVERIFY(!cmd()->isInFlight(178));
        QVERIFY(errors().isEmpty());
    }

    void themeAnswerGoesToTheCaller()
    {
        int code = -1;
        QByteArray body;
        cmd()->updateThemeReq({}, [&](int c, const QByteArray& b) {
            code = c;
            body = b;
        });
        answer(373, 12, "why");
        QCOMPARE(code, 12);
        QCOMPARE(body, QByteArray("why"));

        // The caller hears the answer even when the command object is gone by then.
        cmd()->updateThemeReq({}, [&](int c, const QByteArray&) { code = c; });
        delete m_t->cmd;
        QVERIFY(transport()->answerNext(373, 0));
        QVERIFY(QTest::qWaitFor([&] { return code == 0; }));
    }

    void noAnswerReachesADeletedSender()
    {
        cmd()->listDevices();
        QSignalSpy spy(cmd(), &SettingServiceCmd::listDevicesFinished);
        delete m_t->cmd;
        QVERIFY(transport()->answerNext(46, 0));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        QCOMPARE(spy.count(), 0);
    }
};

SETTINGMODEL_TEST_GUILESS_MAIN(TestSettingServiceCmd)
#include "tst_settingservicecmd.moc"
