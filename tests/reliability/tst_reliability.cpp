// What must hold when things go wrong: a device killed at any moment keeps every write it had
// reported as stored, in a database that is still whole; a sign-out in the middle of every
// kind of background work ends it cleanly.
#include "host/storage.h"
#include "media.h"
#include "notifications/ringtonemanager.h"
#include "preferences/sharedpreferencemodel.h"
#include "refaccount.h"
#include "simserver.h"
#include "secretwatch.h"
#include "settingmodel.h"
#include "testaccount.h"
#include "wallpapers/wallpaperhandler.h"

#include <QAbstractItemModel>
#include <QMetaMethod>
#include <QProcess>
#include <QSignalSpy>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

int envInt(const char* name, int fallback)
{
    const int value = qEnvironmentVariableIntValue(name);
    return value > 0 ? value : fallback;
}

bool integrityOk(const QString& path)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(path);
        QSqlQuery check(db);
        ok = db.open() && check.exec(QStringLiteral("PRAGMA integrity_check")) && check.next() &&
             check.value(0).toString() == QStringLiteral("ok");
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return ok;
}

// A spy on every signal of the object (but its own destruction).
void spyOnAll(QObject* object, std::vector<std::unique_ptr<QSignalSpy>>& spies)
{
    const QMetaObject* meta = object->metaObject();
    for (int i = 0; i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() != QMetaMethod::Signal || method.name() == "destroyed")
            continue;
        auto spy = std::make_unique<QSignalSpy>(object, method);
        spy->setObjectName(QString::fromLatin1(meta->className()));
        if (spy->isValid())
            spies.push_back(std::move(spy));
    }
}

} // namespace

class TestReliability : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        secretwatch::attach();
        QStandardPaths::setTestModeEnabled(true);
        SettingModel::registerMetaType(nullptr, "Reliability");
        WallpaperHandler::registerMetaType("Reliability");
    }

    // SETTINGMODEL_SWITCH_ROUNDS sign-outs (50 by default) of one account in the middle of its
    // work: local loads, list pages, an image being made and uploaded, a ringtone being read and
    // uploaded, downloads, preference writes. No model signals once cleared, the database stays
    // whole, and the next sign-in starts cleanly.
    void signOutUnderLoad()
    {
        const int rounds = envInt("SETTINGMODEL_SWITCH_ROUNDS", 50);
        const quint32 seed = QRandomGenerator::global()->generate();
        qInfo("sign-out rounds: %d, seed %u", rounds, seed);
        QRandomGenerator random(seed);
        QTemporaryDir dir;
        const QString image = media::writeImage(dir.filePath(QStringLiteral("photo.jpg")), QSize(1200, 900));
        const QString tone = media::writeWav(dir.filePath(QStringLiteral("tone.wav")), 1500);
        SimServer server;
        server.setLatency(2);
        server.setWallpaperPageSize(1);
        for (int round = 0; round < rounds; ++round) {
            TestAccount t(dir.path(), QStringLiteral("switching"),
                          server.connectDevice(1, QStringLiteral("Desk"), QStringLiteral("desktop")));
            t.composition->start();
            QTest::qWait(int(random.bounded(0, 25)));
            t.account->wallpaperHandler()->add(image);
            t.account->ringtoneManager()->addRingtoneByPath(tone);
            t.prefs->syncNotifySetting(QByteArray::number(round));
            t.prefs->getNewData();
            QTest::qWait(int(random.bounded(0, 25)));

            t.composition->stop();
            std::vector<std::unique_ptr<QSignalSpy>> spies;
            for (ModelBase* model : t.composition->models()) {
                auto* object = dynamic_cast<QObject*>(model);
                spyOnAll(object, spies);
                for (QAbstractItemModel* list : object->findChildren<QAbstractItemModel*>())
                    spyOnAll(list, spies);
            }
            QTest::qWait(30);
            for (const auto& spy : spies)
                QVERIFY2(spy->isEmpty(), qPrintable(QStringLiteral("round %1: %2::%3 after sign-out")
                                                         .arg(round)
                                                         .arg(spy->objectName(), QString::fromLatin1(spy->signal()))));
            QVERIFY(integrityOk(t.account->databasePath()));
        }
        TestAccount fresh(dir.path(), QStringLiteral("switching"),
                          server.connectDevice(1, QStringLiteral("Desk"), QStringLiteral("desktop")));
        QVERIFY(fresh.start());
        QVERIFY(fresh.prefs->localDataLoaded());
        QVERIFY(QTest::qWaitFor([&] { return !fresh.prefs->getKeyValue(QStringLiteral("notification")).isEmpty(); }));
    }

    // SETTINGMODEL_KILL_ROUNDS rounds (20 by default): a writer is killed with SIGKILL after a
    // random time; the database passes SQLite's integrity check and holds everything reported.
    void killedWriterKeepsWhatItReported()
    {
        const int rounds = envInt("SETTINGMODEL_KILL_ROUNDS", 20);
        const quint32 seed = QRandomGenerator::global()->generate();
        qInfo("kill -9 rounds: %d, seed %u", rounds, seed);
        QRandomGenerator random(seed);
        QTemporaryDir dir;
        QHash<QString, QByteArray> preferences;
        QSet<QString> wallpapers;
        int next = 0;
        for (int round = 0; round < rounds; ++round) {
            QProcess writer;
            writer.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/crashwriter"));
            writer.setArguments({dir.path(), QString::number(next)});
            writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            writer.start();
            QVERIFY(writer.waitForStarted());
            QVERIFY(QTest::qWaitFor([&] { return writer.canReadLine() || writer.state() != QProcess::Running; },
                                    TestAccount::kWaitMs));
            QCOMPARE(writer.readLine().trimmed(), QByteArray("ready"));
            QTest::qWait(int(random.bounded(20, 400)));
            writer.kill();
            QVERIFY(writer.waitForFinished());
            while (writer.canReadLine()) {
                const QList<QByteArray> fields = writer.readLine().trimmed().split(' ');
                if (fields.value(0) == "pref" && fields.size() == 4) {
                    preferences.insert(QString::fromUtf8(fields.at(1)), fields.at(2) + ' ' + fields.at(3));
                    next = std::max(next, fields.at(3).toInt() + 1);
                } else if (fields.value(0) == "wallpaper") {
                    wallpapers.insert(QString::fromUtf8(fields.value(1)));
                }
            }

            QVERIFY(integrityOk(dir.filePath(QStringLiteral("crash.db"))));

            TestAccount reopened(dir.path(), QStringLiteral("crash"));
            QHash<QString, QByteArray> stored;
            for (const auto& row : reopened.account->storage()->sharedPreferenceStorage()->allInfos())
                stored.insert(row.key, row.value);
            for (auto it = preferences.cbegin(); it != preferences.cend(); ++it)
                QVERIFY2(stored.value(it.key()) == it.value(), qPrintable(QStringLiteral("round %1: %2").arg(round).arg(it.key())));
            QSet<QString> storedWallpapers;
            for (const auto& info : reopened.account->storage()->wallpaperStorage()->allInfos())
                storedWallpapers.insert(info.id);
            for (const QString& id : std::as_const(wallpapers))
                QVERIFY2(storedWallpapers.contains(id), qPrintable(QStringLiteral("round %1: wallpaper %2").arg(round).arg(id)));
        }
        QVERIFY(preferences.size() > rounds);
        qInfo("reported and found: %lld preferences, %lld wallpapers", qint64(preferences.size()),
              qint64(wallpapers.size()));
    }
};

QTEST_MAIN(TestReliability)
#include "tst_reliability.moc"
