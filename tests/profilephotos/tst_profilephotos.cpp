// Alternative profile photos: rows that follow the server's state, the requests and their
// failures, and an added photo uploaded and saved on the simulated server.
#include "host/services.h"
#include "im/user.pb.h"
#include "media.h"
#include "profilephotos/alternativeprofilephoto.h"
#include "protohelpers.h"
#include "reffilemanager.h"
#include "secretwatch.h"
#include "simserver.h"
#include "testaccount.h"
#include "transport.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

im::AlternativePhotos_AlternativePhoto photo(const QString& key, QList<qint64> users = {})
{
    im::AlternativePhotos_AlternativePhoto out;
    out.mutable_photo_set()->mutable_lo_res()->set_file_id((key + QStringLiteral("-lo")).toStdString());
    out.mutable_photo_set()->mutable_hi_res()->set_file_id(key.toStdString());
    for (qint64 user : users)
        out.add_user_ids(user);
    return out;
}

im::AlternativePhotos state(const QList<im::AlternativePhotos_AlternativePhoto>& photos, bool show = false)
{
    im::AlternativePhotos out;
    out.set_show_to_non_contact(show);
    for (const auto& p : photos)
        *out.add_photos() = p;
    return out;
}

QStringList keysOf(const AlternativeProfilePhoto* model)
{
    QStringList keys;
    for (const ProfilePhotoItem* item : model->items())
        keys.append(item->key());
    return keys;
}

// The photos of the last account-information update this device sent.
im::AlternativePhotos sent(ScriptedTransport* transport)
{
    const auto req = parsed<im::user::UpdateAccountInfoReq>(transport->last(AccountInfoUpdate)->body);
    return parsed<im::AlternativePhotos>(QByteArray::fromStdString(req.info()));
}

} // namespace

class TestProfilePhotos : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_run = 0;

private slots:
    void cleanup() { network::NetworkSubject::instance()->followSystem(); }

    void rowsFollowTheServersState()
    {
        TestAccount t(m_dir.path(), QStringLiteral("rows%1").arg(++m_run));
        QVERIFY(t.start());
        AlternativeProfilePhoto* photos = t.composition->alternativeProfilePhoto();
        QAbstractItemModelTester tester(photos, QAbstractItemModelTester::FailureReportingMode::QtTest);
        photos->updateAlternativePhoto(state({photo("a", {101}), photo("b"), photo("a")}));
        QCOMPARE(keysOf(photos), QStringList({"a", "b"}));
        QCOMPARE(photos->items().first()->userList(), QVariantList{101});

        // A photo added first goes first; one the server dropped goes; the flag follows.
        QSignalSpy flag(photos, &AlternativeProfilePhoto::showToNonContactChanged);
        photos->updateAlternativePhoto(state({photo("c"), photo("b", {102})}, true));
        QCOMPARE(keysOf(photos), QStringList({"c", "b"}));
        QCOMPARE(photos->items().last()->userList(), QVariantList{102});
        QVERIFY(photos->showToNonContact() && !photos->modifying());
        QCOMPARE(flag.count(), 1);
        photos->updateAlternativePhoto(state({photo("b"), photo("c")}, true));
        QCOMPARE(keysOf(photos), QStringList({"b", "c"}));
    }

    void requestsAndTheirFailures()
    {
        TestAccount t(m_dir.path(), QStringLiteral("requests%1").arg(++m_run));
        QVERIFY(t.start());
        AlternativeProfilePhoto* photos = t.composition->alternativeProfilePhoto();
        photos->updateAlternativePhoto(state({photo("a", {101}), photo("b")}));
        QSignalSpy failures(photos, &AlternativeProfilePhoto::moddifyFail);

        // What is already so, or not a row, sends nothing.
        photos->changeShowToNonContact(false);
        ProfilePhotoItem stranger(t.account, photos);
        photos->deletePhotoItem(&stranger);
        photos->items().first()->setIds({101}, {});
        QCOMPARE(t.transport->count(AccountInfoUpdate), 0);
        QVERIFY(!photos->modifying());

        // A new audience sends the whole list, with the change; the rows wait for the server.
        photos->items().first()->setIds({101, 103}, {7});
        QVERIFY(photos->modifying());
        im::AlternativePhotos request = sent(t.transport);
        QCOMPARE(request.photos_size(), 2);
        QCOMPARE(request.photos(0).user_ids_size(), 2);
        QCOMPARE(request.photos(0).group_ids(0), 7);
        QCOMPARE(photos->items().first()->userList(), QVariantList{101});
        // Refused: modifying ends and the failure is told.
        QVERIFY(t.transport->answerNext(AccountInfoUpdate, 409));
        QVERIFY(QTest::qWaitFor([&] { return !photos->modifying(); }));
        QCOMPARE(failures.last().at(0).value<AlternativeProfilePhoto::PhotoError>(),
                 AlternativeProfilePhoto::ModifyFail);

        // Deleting sends the list without it; the server's answer removes the row.
        photos->items().last()->deletePhoto();
        request = sent(t.transport);
        QCOMPARE(request.photos_size(), 1);
        const auto answer = [](const im::AlternativePhotos& state) {
            im::user::AccountInfoResp resp;
            resp.set_type(AlternativeProfilePhoto::kAccountInfoType);
            resp.set_info(state.SerializeAsString());
            return bytesOf(resp);
        };
        QVERIFY(t.transport->answerNext(AccountInfoUpdate, 0, answer(request)));
        QVERIFY(QTest::qWaitFor([&] { return keysOf(photos) == QStringList{"a"}; }));

        // Two updates on their way (deleted, then changed after all): the answer to the older
        // does not take away the photo the newer carries, and modifying lasts until the last.
        photos->updateAlternativePhoto(state({photo("a", {101}), photo("c")}));
        photos->items().last()->deletePhoto();
        const im::AlternativePhotos first = sent(t.transport);
        photos->items().last()->setIds({104}, {});
        const im::AlternativePhotos second = sent(t.transport);
        QSignalSpy removed(photos, &QAbstractItemModel::rowsRemoved);
        QSignalSpy busy(photos, &AlternativeProfilePhoto::modifyingChanged);
        QVERIFY(t.transport->answerNext(AccountInfoUpdate, 0, answer(first)));
        QVERIFY(t.transport->answerNext(AccountInfoUpdate, 0, answer(second)));
        QVERIFY(QTest::qWaitFor([&] { return !photos->modifying(); }));
        QCOMPARE(keysOf(photos), (QStringList{"a", "c"}));
        QCOMPARE(removed.count(), 0);
        QCOMPARE(busy.count(), 1);

        // Without a network nothing goes, and modifying ends with its signal (a spinner stops).
        network::NetworkSubject::instance()->setNetworkReachable(false);
        const int before = t.transport->count(AccountInfoUpdate);
        QSignalSpy modifying(photos, &AlternativeProfilePhoto::modifyingChanged);
        photos->changeShowToNonContact(true);
        QCOMPARE(t.transport->count(AccountInfoUpdate), before);
        QCOMPARE(failures.last().at(0).value<AlternativeProfilePhoto::PhotoError>(),
                 AlternativeProfilePhoto::NetFail);
        QVERIFY(!photos->modifying());
        QCOMPARE(modifying.count(), 2);
    }

    void anAddedPhotoIsUploadedAndSaved_data()
    {
        QTest::addColumn<bool>("uploadFails");
        QTest::addColumn<int>("images"); // 0: written, 1: files missing, 2: no paths
        QTest::newRow("saved") << false << 0;
        QTest::newRow("upload fails") << true << 0;
        QTest::newRow("image files missing") << false << 1;
        QTest::newRow("no image paths") << false << 2;
    }

    void anAddedPhotoIsUploadedAndSaved()
    {
        QFETCH(bool, uploadFails);
        QFETCH(int, images);
        SimServer server;
        TestAccount t(m_dir.path(), QStringLiteral("add%1").arg(++m_run),
                      server.connectDevice(1, "A", "desktop"));
        QVERIFY(t.start());
        AlternativeProfilePhoto* photos = t.composition->alternativeProfilePhoto();
        QAbstractItemModelTester tester(photos, QAbstractItemModelTester::FailureReportingMode::QtTest);
        if (uploadFails)
            server.failCommand(FileUploadChunk, 413);
        QSignalSpy failures(photos, &AlternativeProfilePhoto::moddifyFail);
        if (images == 1)
            photos->addPrfilePhoto({{"loImagePath", m_dir.filePath("gone-lo.jpg")},
                                    {"hiImagePath", m_dir.filePath("gone-hi.jpg")}});
        else if (images == 2)
            photos->addPrfilePhoto({{"loImagePath", QString()}});
        else
            photos->addPrfilePhoto(
                {{"loImagePath", media::writeImage(m_dir.filePath("lo.jpg"), QSize(96, 96))},
                 {"hiImagePath", media::writeImage(m_dir.filePath("hi.jpg"), QSize(640, 640))}});
        QCOMPARE(photos->rowCount(), 1);
        QVERIFY(photos->modifying());
        QStringList ids;
        for (const PhotoData* image :
             {photos->items().first()->photoInfo(), photos->items().first()->srcPhotoInfo()}) {
            if (image)
                ids.append(image->fileId());
        }
        if (uploadFails || images != 0) {
            QVERIFY(QTest::qWaitFor([&] { return failures.count() == 1; }));
            QCOMPARE(failures.first().at(0).value<AlternativeProfilePhoto::PhotoError>(),
                     AlternativeProfilePhoto::UploadPhotoFail);
            QVERIFY(QTest::qWaitFor([&] { return photos->rowCount() == 0; }));
            QVERIFY(!photos->modifying());
            // Nothing of the photo is left behind, here or on the server.
            QVERIFY(QTest::qWaitFor([&] {
                const QStringList left = t.account->refFileManager()->recordIds();
                return std::none_of(ids.cbegin(), ids.cend(),
                                    [&left](const QString& id) { return left.contains(id); });
            }));
            QVERIFY(server.unreferencedFiles().isEmpty());
            return;
        }
        QVERIFY(photos->items().first()->uploading());
        // A second photo added while the first uploads goes to the server only once uploaded.
        photos->addPrfilePhoto(
            {{"loImagePath", media::writeImage(m_dir.filePath("lo1.jpg"), QSize(96, 96), Qt::blue)},
             {"hiImagePath", media::writeImage(m_dir.filePath("hi1.jpg"), QSize(640, 640), Qt::blue)}});
        QVERIFY(QTest::qWaitFor([&] {
            return server.alternativePhotoCount() == 2 && !photos->modifying() && photos->rowCount() == 2;
        }));
        QVERIFY(!photos->items().first()->uploading() && !photos->items().last()->uploading());
        QVERIFY(!keysOf(photos).contains(QString()));
        QCOMPARE(failures.count(), 0);
        const QString deleted = photos->items().last()->key();
        photos->items().last()->deletePhoto();
        QVERIFY(
            QTest::qWaitFor([&] { return server.alternativePhotoCount() == 1 && photos->rowCount() == 1; }));
        // The deleted photo's files go: the server's with the list, this device's records.
        QVERIFY(QTest::qWaitFor([&] { return !t.account->refFileManager()->record(deleted); }));
        QVERIFY(server.unreferencedFiles().isEmpty());

        // A new image for the photo is uploaded, then the list goes with it in the photo's place.
        // Rows are looked up again after each wait: the server's answers rebuild them.
        const QString before = photos->items().first()->key();
        const auto row = [photos](const QString& key) -> ProfilePhotoItem* {
            for (ProfilePhotoItem* item : photos->items()) {
                if (item->key() == key)
                    return item;
            }
            return nullptr;
        };
        row(before)->setIds({101}, {});
        QVERIFY(QTest::qWaitFor([&] { return !photos->modifying() && row(before); }));
        ProfilePhotoItem* item = row(before);
        item->changePhoto(
            {{"loImagePath", media::writeImage(m_dir.filePath("lo2.jpg"), QSize(96, 96), Qt::red)},
             {"hiImagePath", media::writeImage(m_dir.filePath("hi2.jpg"), QSize(640, 640), Qt::red)}});
        QVERIFY(item->uploading() && photos->modifying());
        QVERIFY(QTest::qWaitFor([&] {
            return !photos->modifying() && photos->rowCount() == 1 &&
                   photos->items().first()->key() != before;
        }));
        QCOMPARE(photos->items().first()->userList(), QVariantList{101});
        QCOMPARE(server.alternativePhotoCount(), 1);
        QVERIFY(server.unreferencedFiles().isEmpty());
    }
};

SETTINGMODEL_TEST_MAIN(TestProfilePhotos)
#include "tst_profilephotos.moc"
