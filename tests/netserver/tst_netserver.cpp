// The server process (settingmodel-server) and the host's WebSocket transport: sign-in and
// sessions, users kept apart, a server killed under the devices, and two accounts of one user
// in sync through it.
#include "im/file.pb.h"
#include "im/misc.pb.h"
#include "im/session.pb.h"
#include "im/user.pb.h"
#include "im/wire.pb.h"
#include "preferences/sharedpreferencemodel.h"
#include "protohelpers.h"
#include "secretwatch.h"
#include "serverprocess.h"
#include "serverstore.h"
#include "simstate.pb.h"
#include "testaccount.h"
#include "websockettransport.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

#include <memory>

namespace {

constexpr int kPrivacyList = 121;
constexpr int kPrivacyUpdate = 122;
constexpr int kUnlinkDevices = 47;
constexpr int kPreferenceList = 178;
constexpr int kPreferenceWrite = 180;

// The user's state as the server process last committed it, read as the server reads it when it
// starts again (empty when there is none yet).
im::server::UserState storedState(const QString& directory, qint64 userId)
{
    ServerStore store;
    QString error;
    bool readable = false;
    if (!store.open(directory, &error))
        return {};
    return store.userState(userId, &readable).value_or(im::server::UserState());
}

std::unique_ptr<WebSocketTransport> device(const QUrl& url, const QString& user, const QString& password,
                                           int deviceId)
{
    WebSocketTransport::Options options;
    options.url = url;
    options.user = user;
    options.password = password;
    options.deviceId = deviceId;
    options.deviceName = QStringLiteral("Device %1").arg(deviceId);
    options.firstRetryMs = 50;
    options.longestRetryMs = 400;
    return std::make_unique<WebSocketTransport>(options);
}

struct Answer {
    bool answered = false;
    int code = 0;
    QByteArray body;
};

// Sends and waits for the answer.
Answer ask(Transport& transport, int command, const QByteArray& body = QByteArray())
{
    auto answer = std::make_shared<Answer>();
    transport.send(command, body,
                   [answer](int code, const QByteArray& bytes) {
                       *answer = {true, code, bytes};
                   },
                   false, {});
    if (!QTest::qWaitFor([answer] { return answer->answered; }, TestAccount::kWaitMs))
        return {};
    return *answer;
}

bool findsMeByPhone(Transport& transport)
{
    const Answer answer = ask(transport, kPrivacyList);
    return answer.code == 0 && parsed<im::user::ListPrivacySettingsResp>(answer.body).find_me_by_phone();
}

QByteArray findMeByPhone(bool on)
{
    im::user::UpdatePrivacySettingReq request;
    request.set_find_me_by_phone(on);
    return bytesOf(request);
}

// settingmodel-demo as one headless device of the server process, running a scenario.
class DeviceProcess {
public:
    DeviceProcess(const QString& name, const QString& scenario, const QUrl& server, const QString& data)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The demo's leak check needs what demo_scenario gives it (see tests/CMakeLists.txt).
        if (environment.contains(QStringLiteral("ASAN_OPTIONS")))
            environment.insert(QStringLiteral("ASAN_OPTIONS"),
                               environment.value(QStringLiteral("ASAN_OPTIONS")) +
                                   QStringLiteral(":intercept_tls_get_addr=0"));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral(DEMO_PATH),
                        {QStringLiteral("--headless"), QStringLiteral("--server"), server.toString(),
                         QStringLiteral("--device"), name, QStringLiteral("--data"),
                         data + QLatin1Char('/') + name, QStringLiteral("--screenshots"),
                         data + QStringLiteral("/shots-") + name, QStringLiteral("--scenario"),
                         QStringLiteral(SCENARIO_DIR "/") + scenario});
    }
    ~DeviceProcess()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    QByteArray output()
    {
        if (m_process.isOpen())
            m_output += m_process.readAll();
        return m_output;
    }
    // The scenario reported the step done.
    bool did(const QByteArray& step)
    {
        for (const QByteArray& line : output().split('\n')) {
            if (line.contains(step) && line.contains(" ok "))
                return true;
        }
        return false;
    }
    bool finishedWell() { return m_process.state() == QProcess::NotRunning && m_process.exitCode() == 0; }
    QByteArray state()
    {
        const QByteArray all = output();
        const qsizetype at = all.indexOf("state ");
        return at < 0 ? QByteArray() : all.mid(at, all.indexOf('\n', at) - at);
    }
    QProcess::ProcessState running() const { return m_process.state(); }

private:
    QProcess m_process;
    QByteArray m_output;
};

} // namespace

class TestNetServer : public QObject {
    Q_OBJECT

private slots:
    void signInIsCheckedAndUsersAreApart()
    {
        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--verbose"), QStringLiteral("--user"),
                              QStringLiteral("alice:alice's secret"), QStringLiteral("--user"),
                              QStringLiteral("bob:bob's secret")}));

        auto intruder = device(server.url(), QStringLiteral("alice"), QStringLiteral("bob's secret"), 9);
        QSignalSpy refused(intruder.get(), &WebSocketTransport::signInRefused);
        QList<Transport::Problem> intruderProblems;
        intruder->setConnectionHandler(
            [&intruderProblems](bool, Transport::Problem problem) { intruderProblems.append(problem); });
        auto alice = device(server.url(), QStringLiteral("alice"), QStringLiteral("alice's secret"), 1);
        auto bob = device(server.url(), QStringLiteral("bob"), QStringLiteral("bob's secret"), 1);
        QVERIFY(QTest::qWaitFor(
            [&] { return alice->isConnected() && bob->isConnected() && refused.count() == 1; },
            TestAccount::kWaitMs));
        QVERIFY(!intruder->isConnected());
        QCOMPARE(ask(*intruder, kPrivacyList).code, AccountBase::kNetworkError);
        QVERIFY(QTest::qWaitFor([&] { return !intruderProblems.isEmpty(); }, TestAccount::kWaitMs));
        QCOMPARE(intruderProblems, QList<Transport::Problem>{Transport::Problem::Refused});

        // Alice's change is hers: she reads it back, with the server's clock; Bob does not see it.
        qint64 serverTime = 0;
        alice->setServerTimeHandler([&serverTime](qint64 time) { serverTime = time; });
        QCOMPARE(ask(*alice, kPrivacyUpdate, findMeByPhone(true)).code, 0);
        QVERIFY(serverTime > 0);
        QVERIFY(findsMeByPhone(*alice));
        QVERIFY(!findsMeByPhone(*bob));

        // A frame without the session's token is refused, whoever sends it.
        QWebSocket raw;
        QSignalSpy opened(&raw, &QWebSocket::connected);
        QByteArray reply;
        connect(&raw, &QWebSocket::binaryMessageReceived, this,
                [&reply](const QByteArray& bytes) { reply = bytes; });
        raw.open(server.url());
        QVERIFY(opened.wait(TestAccount::kWaitMs));
        im::wire::Frame forged;
        forged.mutable_request()->set_id(7);
        forged.mutable_request()->set_token("0123456789abcdef");
        forged.mutable_request()->set_command(kPrivacyUpdate);
        raw.sendBinaryMessage(bytesOf(forged));
        QVERIFY(QTest::qWaitFor([&reply] { return !reply.isEmpty(); }, TestAccount::kWaitMs));
        const im::wire::Frame answer = parsed<im::wire::Frame>(reply);
        QCOMPARE(answer.answer().id(), 7);
        QCOMPARE(answer.answer().code(), 401);
        // Bytes that are no frame close the connection.
        QSignalSpy closed(&raw, &QWebSocket::disconnected);
        raw.sendBinaryMessage(QByteArray("\xff\xff\xff", 3));
        QVERIFY(closed.wait(TestAccount::kWaitMs));
        QVERIFY(findsMeByPhone(*alice));

        // A line per request in the verbose log, and never a password or a token.
        QVERIFY(QTest::qWaitFor([&server] { return server.log().count("command 121 answered 0") == 3; },
                                TestAccount::kWaitMs));
        const QByteArray log = server.log();
        QVERIFY(log.contains("user 1 device 1 command 122 answered 0"));
        QVERIFY(!log.contains("secret"));
        QVERIFY(!log.contains("0123456789abcdef"));

        // A device signed out by another hears it at once, and its token stops working.
        auto second = device(server.url(), QStringLiteral("alice"), QStringLiteral("alice's secret"), 2);
        QList<int> pushes;
        second->setPushHandler([&pushes](int type, const QByteArray&) { pushes.append(type); });
        QVERIFY(QTest::qWaitFor([&] { return second->isConnected(); }, TestAccount::kWaitMs));
        im::user::UnlinkDevicesReq unlink;
        unlink.add_device_ids(2);
        QCOMPARE(ask(*alice, kUnlinkDevices, bytesOf(unlink)).code, 0);
        QVERIFY(
            QTest::qWaitFor([&pushes] { return pushes.contains(PushSessionEnded); }, TestAccount::kWaitMs));
        const Answer refusedAfter = ask(*second, kPrivacyList);
        QCOMPARE(refusedAfter.code, 401);
        QVERIFY(parsed<im::session::SessionEnded>(refusedAfter.body).ended_at() > 0);
        QVERIFY(findsMeByPhone(*alice));
    }

    void wssWithACertificateOfItsOwn()
    {
        // A self-signed certificate for this machine, made with the openssl tool.
        QTemporaryDir dir;
        const QString cert = dir.filePath(QStringLiteral("cert.pem"));
        const QString key = dir.filePath(QStringLiteral("key.pem"));
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                       QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                       QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=localhost"),
                       QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost"),
                       QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert});
        QVERIFY(openssl.waitForFinished(TestAccount::kWaitMs) && openssl.exitCode() == 0);

        ServerProcess server;
        QVERIFY(server.start({QStringLiteral("--user"), QStringLiteral("alice:secret"),
                              QStringLiteral("--cert"), cert, QStringLiteral("--key"), key}));
        QUrl url = server.url();
        url.setScheme(QStringLiteral("wss"));
        QFile pem(cert);
        QVERIFY(pem.open(QIODevice::ReadOnly));
        WebSocketTransport::Options options;
        options.url = url;
        options.user = QStringLiteral("alice");
        options.password = QStringLiteral("secret");
        options.deviceId = 1;
        options.trusted = QSslCertificate::fromData(pem.readAll());
        WebSocketTransport trusting(options);
        // Without the certificate a device does not reach the server at all, and knows why.
        auto doubting = device(url, QStringLiteral("alice"), QStringLiteral("secret"), 2);
        Transport::Problem doubt = Transport::Problem::None;
        doubting->setConnectionHandler([&doubt](bool, Transport::Problem problem) { doubt = problem; });
        QVERIFY(QTest::qWaitFor([&] { return trusting.isConnected(); }, TestAccount::kWaitMs));
        QCOMPARE(ask(trusting, kPrivacyUpdate, findMeByPhone(true)).code, 0);
        QVERIFY(findsMeByPhone(trusting));
        QVERIFY(
            QTest::qWaitFor([&] { return doubt == Transport::Problem::Untrusted; }, TestAccount::kWaitMs));
        QVERIFY(!doubting->isConnected());
    }

    void aKilledServerFailsWhatIsInFlightAndTheDeviceComesBack()
    {
        QTemporaryDir data;
        const QStringList kept{QStringLiteral("--data"), data.path()};
        ServerProcess server;
        QVERIFY(server.start(kept + QStringList{QStringLiteral("--user"), QStringLiteral("alice:secret"),
                                                QStringLiteral("--latency"), QStringLiteral("60000")}));
        auto alice = device(server.url(), QStringLiteral("alice"), QStringLiteral("secret"), 1);
        QList<bool> connection;
        alice->setConnectionHandler(
            [&connection](bool connected, Transport::Problem) { connection.append(connected); });
        QVERIFY(QTest::qWaitFor([&] { return alice->isConnected(); }, TestAccount::kWaitMs));

        // A write the server took and committed, its answer a minute away, when the server dies:
        // the device hears a network failure and sends it again.
        im::misc::UpdateSharedPreferencesV2Req write;
        im::SharedPreference* folders = write.add_preferences();
        folders->set_key("dialog_folder_config");
        folders->set_type(11);
        folders->set_value("kept once");
        folders->set_version(7);
        Answer inFlight;
        alice->send(kPreferenceWrite, bytesOf(write),
                    [&inFlight](int code, const QByteArray& body) {
                        inFlight = {true, code, body};
                    },
                    false, {});
        QVERIFY(QTest::qWaitFor([&] { return storedState(data.path(), 1).preferences_size() == 1; },
                                TestAccount::kWaitMs));
        server.kill();
        QVERIFY(QTest::qWaitFor([&] { return inFlight.answered; }, TestAccount::kWaitMs));
        QCOMPARE(inFlight.code, AccountBase::kNetworkError);
        QCOMPARE(connection, QList<bool>({true, false}));
        QVERIFY(!alice->isConnected());
        QVERIFY(alice->retryDelayMs() > 0);
        QCOMPARE(ask(*alice, kPrivacyList).code, AccountBase::kNetworkError);

        // Back on the same port and data, the server knows the session: the device resumes it
        // by its token (the password changed meanwhile, so it could not sign in again).
        QVERIFY(server.start(kept + QStringList{QStringLiteral("--user"), QStringLiteral("alice:changed")}));
        QVERIFY(QTest::qWaitFor([&] { return alice->isConnected(); }, TestAccount::kWaitMs));
        QCOMPARE(connection, QList<bool>({true, false, true}));
        QCOMPARE(ask(*alice, kPrivacyUpdate, findMeByPhone(true)).code, 0);
        // The resent write is applied once: one record, one change in the server's sequence.
        QCOMPARE(ask(*alice, kPreferenceWrite, bytesOf(write)).code, 0);
        const Answer listed = ask(*alice, kPreferenceList, bytesOf(im::misc::ListSharedPreferencesReq()));
        const auto stored = parsed<im::misc::ListSharedPreferencesResp>(listed.body);
        QCOMPARE(stored.preferences_size(), 1);
        QCOMPARE(stored.preferences(0).value(), std::string("kept once"));
        QCOMPARE(stored.next_offset(), 1);

        // An upload under way outlives a kill: the chunk the server took is still there after.
        const QByteArray head(4096, 'h');
        const QByteArray tail(1000, 't');
        im::file::UploadChunkReq chunk;
        chunk.set_file_id("kept-upload");
        chunk.set_total_size(head.size() + tail.size());
        chunk.set_data(head.toStdString());
        QCOMPARE(ask(*alice, FileUploadChunk, bytesOf(chunk)).code, 0);
        server.kill();
        QVERIFY(server.start(kept + QStringList{QStringLiteral("--user"), QStringLiteral("alice:changed")}));
        QVERIFY(QTest::qWaitFor([&] { return alice->isConnected(); }, TestAccount::kWaitMs));
        chunk.set_offset(head.size());
        chunk.set_data(tail.toStdString());
        QCOMPARE(ask(*alice, FileUploadChunk, bytesOf(chunk)).code, 0);
        im::file::CompleteUploadReq complete;
        complete.set_file_id("kept-upload");
        complete.set_size(head.size() + tail.size());
        complete.set_md5(
            QCryptographicHash::hash(head + tail, QCryptographicHash::Md5).toHex().toStdString());
        QCOMPARE(ask(*alice, FileCompleteUpload, bytesOf(complete)).code, 0);
        im::file::DownloadChunkReq download;
        download.set_file_id("kept-upload");
        download.set_length(int(head.size() + tail.size()));
        const Answer downloaded = ask(*alice, FileDownloadChunk, bytesOf(download));
        QCOMPARE(downloaded.code, 0);
        QCOMPARE(QByteArray::fromStdString(parsed<im::file::DownloadChunkResp>(downloaded.body).data()),
                 head + tail);

        // A write the disk refuses (another process holds the database's write lock) is never
        // acknowledged: the device hears a network failure, and its resend is answered once the
        // disk takes writes again.
        folders->set_value("kept when the disk took it");
        folders->set_version(8);
        {
            QSqlDatabase locking =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lock"));
            locking.setDatabaseName(data.filePath(QStringLiteral("server.db")));
            QVERIFY(locking.open());
            QSqlQuery lock(locking);
            QVERIFY(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            QCOMPARE(ask(*alice, kPreferenceWrite, bytesOf(write)).code, AccountBase::kNetworkError);
            QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("lock"));
        QVERIFY(QTest::qWaitFor([&] { return alice->isConnected(); }, TestAccount::kWaitMs));
        QCOMPARE(ask(*alice, kPreferenceWrite, bytesOf(write)).code, 0);
        QCOMPARE(storedState(data.path(), 1).preferences(0).record().value(),
                 std::string("kept when the disk took it"));

        // A server that forgot everything (no data kept) does not know the session: the device
        // signs in again with the password on its own.
        const qsizetype changes = connection.size();
        server.kill();
        QVERIFY(server.start({QStringLiteral("--user"), QStringLiteral("alice:secret")}));
        QVERIFY(QTest::qWaitFor([&] { return connection.size() == changes + 2 && alice->isConnected(); },
                                TestAccount::kWaitMs));
        QVERIFY(!findsMeByPhone(*alice));
    }

    void twoAccountsKeepInStepThroughAServerThatIsKilled()
    {
        QTemporaryDir data;
        const QStringList arguments{QStringLiteral("--data"), data.path(), QStringLiteral("--user"),
                                    QStringLiteral("alice:secret")};
        ServerProcess server;
        QVERIFY(server.start(arguments));
        QTemporaryDir dir;
        TestAccount a(dir.path(), QStringLiteral("a"),
                      device(server.url(), QStringLiteral("alice"), QStringLiteral("secret"), 1));
        TestAccount b(dir.path(), QStringLiteral("b"),
                      device(server.url(), QStringLiteral("alice"), QStringLiteral("secret"), 2));
        QVERIFY(a.start() && b.start());
        const QString key = QStringLiteral("dialog_folder_config");
        a.prefs->syncChatFolderConfig("folders from A");
        QVERIFY(QTest::qWaitFor([&] { return b.prefs->getKeyValue(key) == "folders from A"; },
                                TestAccount::kWaitMs));

        // The accounts' online state follows the connection and says why it is lost; an edit
        // made while the server is away is sent once it is back, and the server kept what it had
        // acknowledged.
        QVERIFY(a.account->connectionProblem().isEmpty());
        server.kill();
        QVERIFY(QTest::qWaitFor([&] { return !a.account->isOnline() && !b.account->isOnline(); },
                                TestAccount::kWaitMs));
        QCOMPARE(a.account->connectionProblem(), qtTrId("connection_unreachable"));
        a.prefs->syncChatFolderConfig("while the server was away");
        // The user's choice and the connection are apart: A turned off and on while the server is
        // away is still offline, and synchronised once it is back; B chose to stay offline.
        a.account->setOnline(false);
        a.account->setOnline(true);
        QVERIFY(!a.account->isOnline());
        b.account->setOnline(false);
        QVERIFY(server.start(arguments));
        QVERIFY(QTest::qWaitFor(
            [&] {
                return a.account->syncState() == RefAccount::Synchronised &&
                       a.account->unsentChanges() == 0 && b.account->transport()->isConnected();
            },
            TestAccount::kWaitMs));
        QVERIFY(a.account->connectionProblem().isEmpty());
        QVERIFY(!b.account->isOnline());
        b.account->setOnline(true);
        QVERIFY(QTest::qWaitFor(
            [&] {
                return b.account->syncState() == RefAccount::Synchronised &&
                       b.prefs->getKeyValue(key) == "while the server was away";
            },
            TestAccount::kWaitMs));

        // A third device of the user finds on the server what the two agreed on.
        TestAccount c(dir.path(), QStringLiteral("c"),
                      device(server.url(), QStringLiteral("alice"), QStringLiteral("secret"), 3));
        QVERIFY(c.start());
        QVERIFY(QTest::qWaitFor([&] { return c.prefs->getKeyValue(key) == "while the server was away"; },
                                TestAccount::kWaitMs));
        QCOMPARE(a.prefs->getKeyValue(key), QByteArray("while the server was away"));
    }

    // Two devices of the user as processes of their own: edits on both (preferences, privacy, a
    // ringtone and a wallpaper with their files, a theme), the server killed with SIGKILL in the
    // middle, an edit while it is away, the server back on its data; both end in the same state,
    // with each edit applied once (one ringtone, one wallpaper, one theme).
    void twoDeviceProcessesThroughAKilledServer()
    {
        QTemporaryDir data;
        const QStringList arguments{QStringLiteral("--data"), data.filePath(QStringLiteral("server")),
                                    QStringLiteral("--user"), QStringLiteral("demo:correct horse")};
        ServerProcess server;
        QVERIFY(server.start(arguments));
        DeviceProcess a(QStringLiteral("A"), QStringLiteral("net-devices.js"), server.url(), data.path());
        DeviceProcess b(QStringLiteral("B"), QStringLiteral("net-devices.js"), server.url(), data.path());
        const auto report = [&a, &b] { return "A:\n" + a.output() + "\nB:\n" + b.output(); };
        QVERIFY2(QTest::qWaitFor([&] { return a.did("A has B's wallpaper") && b.did("B has A's edits"); },
                                 TestAccount::kWaitMs),
                 report().constData());
        server.kill();
        QVERIFY2(
            QTest::qWaitFor(
                [&] { return a.did("A edits while the server is away") && b.did("B sees the server go"); },
                TestAccount::kWaitMs),
            report().constData());
        QVERIFY(server.start(arguments));
        QVERIFY2(
            QTest::qWaitFor(
                [&] { return a.running() == QProcess::NotRunning && b.running() == QProcess::NotRunning; },
                TestAccount::kWaitMs),
            report().constData());
        QVERIFY2(a.finishedWell() && b.finishedWell(), report().constData());
        const QByteArray expected = "state folders=A while the server was away findMeByPhone=true "
                                    "ringtones=1 wallpapers=1 themes=Net harbour";
        QCOMPARE(a.state(), expected);
        QCOMPARE(b.state(), expected);

        // And the server holds the same.
        auto reader = device(server.url(), QStringLiteral("demo"), QStringLiteral("correct horse"), 9);
        QVERIFY(QTest::qWaitFor([&reader] { return reader->isConnected(); }, TestAccount::kWaitMs));
        QVERIFY(findsMeByPhone(*reader));
        const Answer listed = ask(*reader, kPreferenceList, bytesOf(im::misc::ListSharedPreferencesReq()));
        QCOMPARE(listed.code, 0);
        QString folders;
        const auto stored = parsed<im::misc::ListSharedPreferencesResp>(listed.body);
        for (const im::SharedPreference& preference : stored.preferences()) {
            if (preference.key() == "dialog_folder_config")
                folders = QString::fromStdString(preference.value());
        }
        QCOMPARE(folders, QStringLiteral("A while the server was away"));
    }
};

SETTINGMODEL_TEST_GUILESS_MAIN(TestNetServer)
#include "tst_netserver.moc"
