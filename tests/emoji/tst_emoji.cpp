// The recent emoji and reactions: the visible window against the kept list, and their storage.
#include "emoji/recentemojimodel.h"
#include "host/datainfomodel.h"
#include "host/jsonutil.h"
#include "testaccount.h"

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
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

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
        // Not trimmed to the most kept: that happens at the next use.
        QCOMPARE(emoji->count(), 35);
        QCOMPARE(emoji->rowCount(), 27);
        QCOMPARE(emoji->index(2).data(RecentEmojiModel::PackIdRole).toInt(), 2);
        QCOMPARE(emoji->index(2).data(RecentEmojiModel::EmojiIdRole).toInt(), -1);
        QCOMPARE(reactions->count(), 0);

        // Each type keeps its own list.
        reactions->emojiUsed(emojiAt(9), -1, -1);
        const QVariantList stored = jsonToList(t->account->dataInfoModel()->reactionEmojiRecent());
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored.first().toMap().value(QStringLiteral("emoji")).toString(), emojiAt(9));
        QCOMPARE(emoji->count(), 35);
    }
};

QTEST_MAIN(TestEmoji)
#include "tst_emoji.moc"
