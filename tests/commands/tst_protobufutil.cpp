#include "logcapture.h"
#include "protobufutil.h"
#include "secretwatch.h"
#include "support/testmessages.pb.h"

#include <QTest>

// Serialisation of requests: a message that cannot be serialised is logged against the caller
// and sent all the same, and the line follows the module's logging category.
class TestProtobufUtil : public QObject {
    Q_OBJECT
private slots:

    void aFailedSerialisationIsLoggedAgainstTheCaller()
    {
        testmessages::NeedsId message;
        QByteArray bytes;
        {
            LogCapture log;
            bytes = SM_SERIALIZE(message);
            QCOMPARE(log.messages(), QStringList{QStringLiteral("=====Serialize proto buffer failed")});
            const LogCapture::Line logged = log.lines().at(0);
            QCOMPARE(logged.type, QtDebugMsg);
            QVERIFY(logged.file.endsWith(QLatin1String("tst_protobufutil.cpp")));
            QVERIFY2(logged.function.contains(QLatin1String("aFailedSerialisationIsLoggedAgainstTheCaller")),
                     qPrintable(logged.function));
        }
        QCOMPARE(bytes.size(), qsizetype(message.ByteSizeLong()));

        message.set_id(7);
        LogCapture log;
        bytes = SM_SERIALIZE(message);
        QVERIFY(log.lines().isEmpty());
        testmessages::NeedsId back;
        QVERIFY(settingmodel::parseMessage(back, bytes));
        QCOMPARE(back.id(), 7);
    }

    void theLineFollowsTheCategoryRules()
    {
        LogCapture log(false);
        SM_SERIALIZE(testmessages::NeedsId());
        QVERIFY(log.lines().isEmpty());
    }
};

SETTINGMODEL_TEST_GUILESS_MAIN(TestProtobufUtil)
#include "tst_protobufutil.moc"
