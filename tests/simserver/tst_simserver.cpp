// The simulated server's own rules, observed through a device's transport.
#include "host/constants.h"
#include "host/cryptoaes.h"
#include "im/account.pb.h"
#include "im/misc.pb.h"
#include "im/notif.pb.h"
#include "im/wallpaper.pb.h"
#include "protohelpers.h"
#include "secretwatch.h"
#include "simserver.h"

#include <QSignalSpy>
#include <QTest>

namespace {

struct Client {
    std::unique_ptr<Transport> transport;
    QList<QByteArray> pushes;
    QList<qint64> serverTimes;

    Client(SimServer& server, int deviceId)
        : transport(server.connectDevice(deviceId, QStringLiteral("d"), QStringLiteral("p")))
    {
        transport->setPushHandler([this](int, const QByteArray& body) { pushes.append(body); });
        transport->setServerTimeHandler([this](qint64 t) { serverTimes.append(t); });
    }

    // Sends and lets the server's zero-latency answer arrive; nullopt when none comes.
    std::optional<std::pair<int, QByteArray>> call(int command, const QByteArray& body = {})
    {
        std::optional<std::pair<int, QByteArray>> answer;
        transport->send(command, body,
                        [&answer](int code, const QByteArray& reply) {
                            answer = {code, reply};
                        },
                        false, {});
        QCoreApplication::processEvents();
        return answer;
    }
};

im::misc::UpdateSharedPreferencesV2Req write(const char* key, const char* value, qint64 version)
{
    im::misc::UpdateSharedPreferencesV2Req req;
    auto* r = req.add_preferences();
    r->set_key(key);
    r->set_value(value);
    r->set_type(11);
    r->set_version(version);
    return req;
}

} // namespace

class TestSimServer : public QObject {
    Q_OBJECT

    qint64 m_now = 1'000'000;
    std::unique_ptr<SimServer> m_server;

private slots:

    void init()
    {
        m_server = std::make_unique<SimServer>();
        m_server->setClock([this] { return m_now; });
    }
    void cleanup() { m_server.reset(); }

    void greaterVersionWinsAndIsPushedToTheOthers()
    {
        Client a(*m_server, 1), b(*m_server, 2), c(*m_server, 3);
        m_server->setDeviceOnline(3, false);
        auto answer = a.call(180, bytesOf(write("k", "first", 10)));
        QVERIFY(answer && answer->first == 0);
        QCOMPARE(parsed<im::misc::UpdateSharedPreferencesV2Resp>(answer->second).preferences(0).value(),
                 std::string("first"));
        // An older or equal version loses; the answer carries what the server keeps.
        for (qint64 version : {9, 10}) {
            answer = b.call(180, bytesOf(write("k", "loser", version)));
            QCOMPARE(parsed<im::misc::UpdateSharedPreferencesV2Resp>(answer->second).preferences(0).value(),
                     std::string("first"));
        }
        answer = b.call(180, bytesOf(write("k", "newer", 11)));
        QCOMPARE(parsed<im::misc::UpdateSharedPreferencesV2Resp>(answer->second).preferences(0).value(),
                 std::string("newer"));
        QVERIFY(QTest::qWaitFor([&] { return a.pushes.size() == 1; }));
        QCOMPARE(b.pushes.size(), 1); // A's write; never its own, nor writes that lost
        QVERIFY(c.pushes.isEmpty());  // offline
        QCOMPARE(parsed<im::notif::SharedPreferenceUpdatedNotif>(a.pushes.last()).preferences(0).value(),
                 std::string("newer"));
        QCOMPARE(a.serverTimes.last(), m_now);
    }

    void listsPageByTheLastChangeSeen()
    {
        Client a(*m_server, 1);
        m_server->setPreferencePageSize(2);
        for (int i = 0; i < 5; ++i)
            a.call(180, bytesOf(write(qPrintable(QStringLiteral("k%1").arg(i)), "v", 1)));
        a.call(180, bytesOf(write("k0", "changed", 2))); // moves k0 to the end
        QStringList keys;
        qint64 offset = 0;
        bool more = true;
        while (more) {
            im::misc::ListSharedPreferencesReq req;
            req.set_offset(offset);
            const auto page = parsed<im::misc::ListSharedPreferencesResp>(a.call(178, bytesOf(req))->second);
            for (const auto& r : page.preferences())
                keys.append(QString::fromStdString(r.key()));
            offset = page.next_offset();
            more = page.has_more();
        }
        QCOMPARE(keys, (QStringList{"k1", "k2", "k3", "k4", "k0"}));
        im::misc::ListSharedPreferencesReq last;
        last.set_offset(offset);
        const auto empty = parsed<im::misc::ListSharedPreferencesResp>(a.call(178, bytesOf(last))->second);
        QCOMPARE(empty.preferences_size(), 0);
        QCOMPARE(empty.next_offset(), offset);
    }

    void wrongPasswordsLockVerification()
    {
        Client a(*m_server, 1);
        m_server->setPassword(QStringLiteral("right"));
        im::user::VerifyPasswordReq wrong;
        wrong.set_password("wrong");
        for (int i = 1; i < SimServer::kPasswordAttempts; ++i) {
            const auto answer = a.call(153, bytesOf(wrong));
            QCOMPARE(answer->first, 0);
            QVERIFY(!parsed<im::user::VerifyPasswordResp>(answer->second).valid());
        }
        auto answer = a.call(153, bytesOf(wrong));
        QCOMPARE(answer->first, SimServer::kPasswordLocked);
        QCOMPARE(parsed<im::PasswordLockedErrorData>(answer->second).lock_until(),
                 m_now + SimServer::kLockMs);
        im::user::VerifyPasswordReq right;
        right.set_password("right");
        QCOMPARE(a.call(153, bytesOf(right))->first, SimServer::kPasswordLocked); // even the right one
        m_now += SimServer::kLockMs + 1;
        answer = a.call(153, bytesOf(right));
        QCOMPARE(answer->first, 0);
        QVERIFY(parsed<im::user::VerifyPasswordResp>(answer->second).valid());
    }

    void emailsAndCodes()
    {
        Client a(*m_server, 1);
        im::user::VerifyEmailReq email;
        email.set_email("nobody");
        QCOMPARE(a.call(152, bytesOf(email))->first, SimServer::kInvalidEmail);
        email.set_email("me@example.org");
        for (int i = 0; i < SimServer::kEmailsPerMinute; ++i)
            QCOMPARE(a.call(152, bytesOf(email))->first, 0);
        QCOMPARE(a.call(152, bytesOf(email))->first, SimServer::kTooFrequent);

        im::user::UpdateVerificationSettingReq enable;
        enable.set_action(0);
        enable.set_password("pw");
        enable.set_email("me@example.org");
        enable.set_verify_code("000000");
        QCOMPARE(a.call(154, bytesOf(enable))->first, SimServer::kWrongCode);
        enable.set_verify_code(SimServer::kVerificationCode);
        m_now += SimServer::kCodeLifetimeMs + 1;
        QCOMPARE(a.call(154, bytesOf(enable))->first, SimServer::kCodeExpired);
        m_now += 60 * 1000;
        QCOMPARE(a.call(152, bytesOf(email))->first, 0);
        QCOMPARE(a.call(154, bytesOf(enable))->first, 0);
        QVERIFY(m_server->verificationEnabled());

        im::account::ResetVerificationReq reset;
        auto answer = a.call(139, bytesOf(reset));
        QCOMPARE(answer->first, 0);
        const qint64 resetAt = parsed<im::account::ResetVerificationResp>(answer->second).reset_at();
        QCOMPARE(resetAt, m_now + SimServer::kResetDelayMs);
        answer = a.call(139, bytesOf(reset));
        QCOMPARE(answer->first, SimServer::kResetPending);
        QCOMPARE(parsed<im::account::ResetVerificationResp>(answer->second).reset_at(), resetAt);
    }

    void devicesFaultsAndValidation()
    {
        Client a(*m_server, 1), b(*m_server, 2);
        im::user::UnlinkDevicesReq unlink;
        unlink.add_device_ids(2);
        QCOMPARE(a.call(47, bytesOf(unlink))->first, 0);
        QCOMPARE(b.call(174)->first, SimServer::kUnauthorized);
        m_server->setDeviceOnline(1, false);
        const auto offline = a.call(174);
        QCOMPARE(offline->first, SimServer::kNetworkError);
        m_server->setDeviceOnline(1, true);

        m_server->failCommand(174, 503, 1);
        QCOMPARE(a.call(174)->first, 503);
        QCOMPARE(a.call(174)->first, 0);
        m_server->dropCommand(174, 1);
        QVERIFY(!a.call(174));
        QCOMPARE(a.call(174)->first, 0);

        im::user::UpdatePrivacySettingReq bad;
        bad.mutable_lastseen()->set_rule(7);
        QCOMPARE(a.call(122, bytesOf(bad))->first, SimServer::kBadRequest);
        QCOMPARE(a.call(122, "\xff\xff")->first, SimServer::kBadRequest);
        im::user::UpdatePrivacySettingReq nobody;
        nobody.mutable_lastseen()->set_rule(2);
        nobody.mutable_lastseen()->add_whitelist(5);
        QCOMPARE(a.call(122, bytesOf(nobody))->first, 0);
        im::user::EvalPrivacySettingReq eval;
        eval.set_user_id(5);
        auto bits =
            parsed<im::user::EvalPrivacySettingResp>(a.call(156, bytesOf(eval))->second).permissions().bits();
        QCOMPARE(bits & 1, 1); // whitelisted despite NOBODY
        eval.set_user_id(6);
        bits =
            parsed<im::user::EvalPrivacySettingResp>(a.call(156, bytesOf(eval))->second).permissions().bits();
        QCOMPARE(bits & 1, 0);
    }

    void wallpapersPageKeepTombstonesAndGuardTheirFiles()
    {
        Client a(*m_server, 1), b(*m_server, 2);
        m_server->setWallpaperPageSize(2);
        const auto list = [&a](qint64 offset) {
            im::wallpaper::ListWallPapersReq req;
            req.set_offset(offset);
            return parsed<im::wallpaper::ListWallPapersResp>(a.call(241, bytesOf(req))->second);
        };
        // A new user has the default set; its images decrypt with the keys the list gives.
        QStringList ids;
        qint64 offset = 0;
        for (bool more = true; more;) {
            const auto page = list(offset);
            for (const auto& wallpaper : page.wallpapers())
                ids.append(QString::fromStdString(wallpaper.id()));
            offset = page.next_offset();
            more = page.has_more();
        }
        QCOMPARE(ids.size(), m_server->wallpaperCount());
        const auto preset = *m_server->wallpapers()->wallpaper(ids.first());
        const auto* stored =
            m_server->fileStore()->readable(7, QString::fromStdString(preset.photo_set().hi_res().file_id()));
        QVERIFY(stored);
        bool ok = false;
        QVERIFY(!CryptoAES::decrypt(stored->bytes,
                                    QByteArray::fromStdString(preset.photo_set().hi_res().aes_key()), &ok)
                     .isEmpty() &&
                ok);

        // A save must name files the user may read.
        im::wallpaper::SaveWallPaperReq save;
        save.mutable_wallpaper()->set_local_id("local");
        save.mutable_wallpaper()->mutable_photo_set()->mutable_hi_res()->set_file_id("not uploaded");
        QCOMPARE(a.call(242, bytesOf(save))->first, SimServer::kUnprocessable);
        save.mutable_wallpaper()->clear_photo_set();
        auto answer = a.call(242, bytesOf(save));
        QCOMPARE(answer->first, 0);
        const auto saved = parsed<im::wallpaper::SaveWallPaperResp>(answer->second).wallpaper();
        QCOMPARE(saved.local_id(), std::string("local"));
        QVERIFY(!saved.id().empty() && saved.is_owner());
        QCOMPARE(b.pushes.size(), 1);

        // A deletion reaches a device paging from its offset, not one starting from nothing.
        im::wallpaper::DeleteWallPaperReq remove;
        remove.add_wallpaper_ids(saved.id());
        QCOMPARE(a.call(243, bytesOf(remove))->first, 0);
        const auto later = list(offset);
        QCOMPARE(later.wallpapers_size(), 1);
        QVERIFY(later.wallpapers(0).deleted());
        const auto fresh = list(0);
        for (const auto& wallpaper : fresh.wallpapers())
            QVERIFY(!wallpaper.deleted());

        // Own wallpapers stop at the limit; the same save sent again is answered with what it
        // saved, and makes no second wallpaper.
        std::string first;
        for (int i = 0; i < OWNER_WALLPAPER_LIMIT; ++i) {
            save.mutable_wallpaper()->set_local_id(QStringLiteral("l%1").arg(i).toStdString());
            answer = a.call(242, bytesOf(save));
            QCOMPARE(answer->first, 0);
            if (i == 0) {
                first = parsed<im::wallpaper::SaveWallPaperResp>(answer->second).wallpaper().id();
                answer = a.call(242, bytesOf(save));
                QCOMPARE(parsed<im::wallpaper::SaveWallPaperResp>(answer->second).wallpaper().id(), first);
            }
        }
        QCOMPARE(m_server->ownWallpaperCount(), OWNER_WALLPAPER_LIMIT);
        save.mutable_wallpaper()->set_local_id("one more");
        QCOMPARE(a.call(242, bytesOf(save))->first, SimServer::kConflict);
        QCOMPARE(a.call(245)->first, 0);
        QCOMPARE(m_server->ownWallpaperCount(), 0);
    }

    // The server owns a document's files with it: a change or a removal takes along the files
    // only that document named (a theme names them inside its Base64 text); files another
    // document still names stay.
    void documentsTakeAlongTheFilesOnlyTheyName()
    {
        Client a(*m_server, 1);
        SimFileStore& files = *m_server->fileStore();
        for (const char* name : {"f-theme", "f-shared", "f-ringtone"}) {
            const QString id = QString::fromLatin1(name);
            const QByteArray bytes = id.toUtf8();
            qint64 received = 0;
            files.appendChunk(m_server->userId(), id, 0, bytes.size(), bytes, received);
            files.completeUpload(
                m_server->userId(), id, bytes.size(),
                QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()));
        }
        const auto put = [&a](const char* key, int type, const QByteArray& value, qint64 version) {
            im::misc::UpdateSharedPreferencesV2Req req = write(key, "", version);
            req.mutable_preferences(0)->set_type(type);
            req.mutable_preferences(0)->set_value(value.toStdString());
            return a.call(180, bytesOf(req))->first;
        };
        QCOMPARE(put("theme-1", 24, QByteArray("wallpaper f-theme f-shared").toBase64(), 1), 0);
        QCOMPARE(put("folder-1", 11, "f-shared", 1), 0);
        QCOMPARE(files.ownedBy(m_server->userId()).size(), 3);
        QCOMPARE(put("theme-1", 24, QByteArray("no wallpaper").toBase64(), 2), 0);
        QVERIFY(!files.contains(QStringLiteral("f-theme")));
        QVERIFY(files.contains(QStringLiteral("f-shared")));
        QCOMPARE(put("folder-1", 11, "", 2), 0);
        QVERIFY(!files.contains(QStringLiteral("f-shared")));
        // The devices merge the ringtone list: a write may leave out a ringtone the next one brings
        // back, so its files stay until a device deletes them.
        QCOMPARE(put("custom_ringtone_list", 15, "f-ringtone", 1), 0);
        QCOMPARE(put("custom_ringtone_list", 15, "[]", 2), 0);
        QVERIFY(files.contains(QStringLiteral("f-ringtone")));
    }
};

SETTINGMODEL_TEST_GUILESS_MAIN(TestSimServer)
#include "tst_simserver.moc"
