// settingmodel-server: the simulated server as a process of its own, reached over WebSockets.
//   settingmodel-server [--host 127.0.0.1] [--port 0] [--user NAME:PASSWORD]... [--cert F --key F]
//                       [--data DIR] [--latency MS] [--verbose]
// Prints "listening on <url>" once it accepts devices.
#include "netserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QSslKey>

#include <cstdio>

namespace {

std::optional<QSslConfiguration> sslFrom(const QString& certFile, const QString& keyFile, QString* error)
{
    QFile cert(certFile);
    QFile key(keyFile);
    if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the certificate or its key");
        return std::nullopt;
    }
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.setLocalCertificate(QSslCertificate(&cert, QSsl::Pem));
    ssl.setPrivateKey(QSslKey(&key, QSsl::Rsa, QSsl::Pem));
    if (ssl.localCertificate().isNull() || ssl.privateKey().isNull()) {
        *error = QStringLiteral("the certificate or its key is not PEM (an RSA key is expected)");
        return std::nullopt;
    }
    ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
    return ssl;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("settingmodel-server"));
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption host(QStringLiteral("host"), QStringLiteral("Address to listen on."),
                                  QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port (0: any free one)."),
                                  QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption users(
        QStringLiteral("user"),
        QStringLiteral("A user who may sign in (repeatable; default demo:correct horse)."),
        QStringLiteral("name:password"));
    const QCommandLineOption cert(QStringLiteral("cert"), QStringLiteral("PEM certificate: serve wss://."),
                                  QStringLiteral("file"));
    const QCommandLineOption key(QStringLiteral("key"), QStringLiteral("PEM RSA key of the certificate."),
                                 QStringLiteral("file"));
    const QCommandLineOption data(
        QStringLiteral("data"),
        QStringLiteral("Keep everything in this folder (server.db, files/) across restarts."),
        QStringLiteral("folder"));
    const QCommandLineOption latency(QStringLiteral("latency"), QStringLiteral("Delay of every answer."),
                                     QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral("Log a line per request (never a password, token or body)."));
    parser.addOptions({host, port, users, cert, key, data, latency, verbose});
    parser.process(app);
    if (!parser.isSet(verbose))
        QLoggingCategory::setFilterRules(QStringLiteral("im.*.debug=false"));

    NetServer server;
    if (parser.isSet(data)) {
        QString error;
        if (!server.open(parser.value(data), &error)) {
            std::fprintf(stderr, "cannot keep data in %s: %s\n", qPrintable(parser.value(data)),
                         qPrintable(error));
            return 1;
        }
    }
    QStringList given = parser.values(users);
    if (given.isEmpty())
        given << QStringLiteral("demo:correct horse");
    for (const QString& user : std::as_const(given)) {
        const qsizetype colon = user.indexOf(QLatin1Char(':'));
        if (colon <= 0 || !server.addUser(user.left(colon), user.mid(colon + 1))) {
            std::fprintf(stderr, "bad or repeated --user %s (name:password)\n", qPrintable(user.left(colon)));
            return 2;
        }
    }
    for (qint64 id = 1; SimServer* user = server.user(id); ++id)
        user->setLatency(parser.value(latency).toInt());

    std::optional<QSslConfiguration> ssl;
    if (parser.isSet(cert) || parser.isSet(key)) {
        QString error;
        ssl = sslFrom(parser.value(cert), parser.value(key), &error);
        if (!ssl) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 2;
        }
    }
    if (!server.listen(QHostAddress(parser.value(host)), quint16(parser.value(port).toUInt()), ssl)) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    std::printf("listening on %s\n", qPrintable(server.url().toString()));
    std::fflush(stdout);
    return app.exec();
}
