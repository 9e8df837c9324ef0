// The recent emoji and reactions (the visible window against the kept list, their storage) and
// the status shortcuts.
#include "emoji/recentemojimodel.h"
#include "emoji/statusshortcut.h"
#include "host/constants.h"
#include "host/cryptoaes.h"
#include "host/datainfomodel.h"
#include "host/jsonutil.h"
#include "host/stickers.h"
#include "im/notif.pb.h"
#include "preferences/sharedpreferencemodel.h"
#include "refservices.h"
#include "secretwatch.h"
#include "testaccount.h"
#include "transport.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString emojiAt(int i)
{
    return QString::fromUcs4(std::u32string(1, char32_t(0x1F600 + i)).c_str(), 1);
}

QStringList shown(const RecentEmojiModel* model)
{
    QStringList out;
    for (int row = 0; row < model->rowCount(); ++row)
        out.append(model->index(row).data(RecentEmojiModel::EmojiRole).toString());
    return out;
}

} // namespace

class TestEmoji : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_run = 0;

    std::unique_ptr<TestAccount> device(const QString& id)
    {
        auto t = std::make_unique<TestAccount>(m_dir.path(), id);
        return t->startLocal() ? std::move(t) : nullptr;
    }

private slots:
    void theWindowFollowsUse()
    {
        const auto t = device(QStringLiteral("use%1").arg(++m_run));
        QVERIFY(t);
        RecentEmojiModel* model = t->composition->recentEmojiModel(RecentEmojiModel::Emoji);
        QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model->name(), QStringLiteral("rem_recent"));
        for (int i = 0; i < 27; ++i)
            model->emojiUsed(emojiAt(i), -1, -1);
        QCOMPARE(model->rowCount(), 27);

        // A new one enters at the top and pushes the last visible row out of view.
        QSignalSpy removed(model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
        model->emojiUsed(emojiAt(27), -1, -1);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(1).toInt(), 26);
        QCOMPARE(inserted.at(0).at(1).toInt(), 0);
        QCOMPARE(model->count(), 28);
        QCOMPARE(shown(model).first(), emojiAt(27));
        QCOMPARE(shown(model).last(), emojiAt(1));

        // One already listed stays where it is and nothing is stored again.
        QSignalSpy counts(model, &RecentEmojiModel::countChanged);
        const QByteArray stored = t->account->dataInfoModel()->emojiRecent();
        model->emojiUsed(emojiAt(5), -1, -1);
        QCOMPARE(counts.count(), 0);
        QCOMPARE(t->account->dataInfoModel()->emojiRecent(), stored);
        // A custom emoji with ids is another entry than the plain one of the same text.
        model->emojiUsed(emojiAt(5), 3, 7);
        QCOMPARE(model->count(), 29);

        // The 31st distinct one drops the oldest.
        model->emojiUsed(emojiAt(40), -1, -1);
        model->emojiUsed(emojiAt(41), -1, -1);
        QCOMPARE(model->count(), 30);
        QCOMPARE(model->get(29), emojiAt(1));
        QVERIFY(model->get(30).isEmpty() && model->get(-1).isEmpty());

        // Removing a visible one brings the first hidden into view; a hidden one only leaves.
        const QString firstHidden = model->get(27);
        model->remove(model->get(3), -1, -1);
        QCOMPARE(model->rowCount(), 27);
        QCOMPARE(shown(model).last(), firstHidden);
        model->remove(model->get(28), -1, -1);
        QCOMPARE(model->count(), 28);
        model->remove(QStringLiteral("not listed"), -1, -1);
        QCOMPARE(model->count(), 28);

        // The view can be widened and narrowed.
        model->setViewLoadCount(10);
        QCOMPARE(model->rowCount(), 10);
        model->setViewLoadCount(40);
        QCOMPARE(model->rowCount(), 28);

        // With the window wider than the kept list, the entry dropped is still readable while its
        // removal is announced.
        QStringList leaving;
        const auto reader =
            connect(model, &QAbstractItemModel::rowsAboutToBeRemoved,
                    [&leaving, model](const QModelIndex&, int first, int last) {
                        for (int row = first; row <= last; ++row)
                            leaving.append(model->index(row).data(RecentEmojiModel::EmojiRole).toString());
                    });
        model->emojiUsed(emojiAt(50), -1, -1);
        model->emojiUsed(emojiAt(51), -1, -1);
        const QString oldest = model->get(29);
        model->emojiUsed(emojiAt(52), -1, -1);
        disconnect(reader);
        QCOMPARE(leaving, QStringList{oldest});
        QCOMPARE(model->rowCount(), 30);

        model->clearRecent();
        QCOMPARE(model->rowCount(), 0);
        QCOMPARE(t->account->dataInfoModel()->emojiRecent(), QByteArray("[]"));
    }

    void storedListsLoadAsTheyAre()
    {
        const QString id = QStringLiteral("load%1").arg(++m_run);
        {
            TestAccount t(m_dir.path(), id);
            QVariantList list;
            for (int i = 0; i < 35; ++i)
                list.append(
                    QVariantMap{{QStringLiteral("emoji"), emojiAt(i)}, {QStringLiteral("packId"), i}});
            list.insert(3, QVariantMap{{QStringLiteral("name"), QStringLiteral("no emoji")}});
            list.insert(4, QStringLiteral("not a map"));
            list.append(list.first()); // listed already
            t.account->dataInfoModel()->saveEmojiRecent(listToJson(list));
            t.account->dataInfoModel()->saveReactionEmojiRecent("{\"not\": \"a list\"}");
        }
        const auto t = device(id);
        QVERIFY(t);
        RecentEmojiModel* emoji = t->composition->recentEmojiModel(RecentEmojiModel::Emoji);
        RecentEmojiModel* reactions = t->composition->recentEmojiModel(RecentEmojiModel::Reaction);
        QAbstractItemModelTester tester(emoji, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(QTest::qWaitFor([emoji] { return emoji->count() > 0; }));
        // Trimmed to the most kept as it loads.
        QCOMPARE(emoji->count(), 30);
        QCOMPARE(emoji->rowCount(), 27);
        QCOMPARE(emoji->index(2).data(RecentEmojiModel::PackIdRole).toInt(), 2);
        QCOMPARE(emoji->index(2).data(RecentEmojiModel::EmojiIdRole).toInt(), -1);
        QCOMPARE(reactions->count(), 0);

        // Each type keeps its own list.
        reactions->emojiUsed(emojiAt(9), -1, -1);
        const QVariantList stored = jsonToList(t->account->dataInfoModel()->reactionEmojiRecent());
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored.first().toMap().value(QStringLiteral("emoji")).toString(), emojiAt(9));
        QCOMPARE(emoji->count(), 30);
    }

    void statusShortcutsFromTheirPreference()
    {
        const auto t = device(QStringLiteral("status%1").arg(++m_run));
        QVERIFY(t);
        StatusShortCut* status = t->account->statusShortCut();
        QVERIFY(!status->hasShortCut() && !status->isEdited());
        QSignalSpy settings(status, &StatusShortCut::shortCutSettingChanged);
        QSignalSpy has(status, &StatusShortCut::hasShortCutChanged);
        status->update("not json");
        QVERIFY(status->shortCutSetting().isEmpty());
        QCOMPARE(settings.count(), 1);
        QCOMPARE(has.count(), 1);

        auto known = QSharedPointer<StickerItem>::create(7, 0);
        known->setSourceFile(t->account->fileManager()->createStickerData(
            {{QStringLiteral("fileId"), QStringLiteral("k7")}}, 0));
        t->account->refStickerBoxSetMgr()->addSticker(known);
        const QString key = QString::fromLatin1(CryptoAES::createKey(32).toBase64());
        const QVariantList entries{
            QVariantMap{{"desc", "Lunch"}, {"emoji", "x"}, {"time", 3600}, {"extra", 1}},
            QVariantMap{{"desc", "Gym"},
                        {"emoji", "y"},
                        {"time", 0},
                        {"sticker", QVariantMap{{"pid", 5},
                                                {"file_id", "s5"},
                                                {"aeskey", key},
                                                {"fileType", 1},
                                                {"animatedSticker", QVariantMap{{"fileId", "a5"},
                                                                                {"aesKey", key},
                                                                                {"width", 100},
                                                                                {"height", 80},
                                                                                {"checkSum", "abc"}}}}}},
            QVariantMap{{"desc", "Known"}, {"sticker", QVariantMap{{"pid", 7}, {"file_id", "k7"}}}},
            QVariantMap{{"desc", "Pack"}, {"customEmoji", QVariantMap{{"packId", 2}, {"customEmojiId", 9}}}},
            QVariantMap{{"desc", "Broken"}, {"sticker", "not a map"}, {"customEmoji", 3}},
        };
        status->update(listToJson(entries));
        const QVariantList shortcuts = status->shortCutSetting();
        QCOMPARE(shortcuts.size(), 5);
        QCOMPARE(shortcuts.at(0).toMap().keys(), QStringList({"desc", "emoji", "time"}));
        const auto* sticker =
            qobject_cast<StickerItem*>(shortcuts.at(1).toMap().value("sticker").value<QObject*>());
        QVERIFY(sticker);
        QCOMPARE(sticker->pid(), 5);
        QCOMPARE(sticker->sourceFile()->fileId(), QStringLiteral("s5"));
        QCOMPARE(sticker->sourceFile()->aesKey(), QByteArray::fromBase64(key.toLatin1()));
        QCOMPARE(sticker->animatedFile()->width(), 100);
        QCOMPARE(sticker->animatedFile()->fileMd5(), QStringLiteral("abc"));
        // A sticker the sticker manager knows is the same object.
        QCOMPARE(shortcuts.at(2).toMap().value("sticker").value<QObject*>(), known.data());
        const auto* emoji =
            qobject_cast<CustomEmojiItem*>(shortcuts.at(3).toMap().value("customEmoji").value<QObject*>());
        QVERIFY(emoji && emoji->packId() == 2 && emoji->customEmojiId() == 9);
        QCOMPARE(shortcuts.at(4).toMap().keys(), QStringList({"desc", "emoji", "time"}));
        QVERIFY(status->hasShortCut());
        // The images that are not here are fetched.
        QVERIFY(QTest::qWaitFor([&t] { return t->transport->count(FileDownloadChunk) >= 2; }));

        // A value another device wrote replaces the list.
        im::notif::SharedPreferenceUpdatedNotif notif;
        auto* record = notif.add_preferences();
        record->set_key(hostkeys::USERSTATUS_SETTING);
        record->set_type(SharedPreferenceModel::UserStatusSetting);
        record->set_version(5);
        record->set_value(listToJson({QVariantMap{{"desc", "Away"}}}).toStdString());
        t->prefs->sharedPreferencesNotify(notif);
        QVERIFY(QTest::qWaitFor([status] { return status->shortCutSetting().size() == 1; }));
        QVERIFY(status->isEdited());
    }
};

SETTINGMODEL_TEST_MAIN(TestEmoji)
#include "tst_emoji.moc"
