// Wallpaper records, their sorted list, and the handler against a scripted and a simulated server.
#include "host/accountmanager.h"
#include "host/appsettingmodel.h"
#include "host/constants.h"
#include "host/datainfomodel.h"
#include "host/threadmanager.h"
#include "im/notif.pb.h"
#include "im/wallpaper.pb.h"
#include "logcapture.h"
#include "media.h"
#include "protohelpers.h"
#include "reffilemanager.h"
#include "secretwatch.h"
#include "simserver.h"
#include "testaccount.h"
#include "themes/themeitem.h"
#include "transport.h"
#include "wallpapers/wallpaperhandler.h"

#include <QAbstractItemModelTester>
#include <QImageReader>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <cmath>

namespace {

struct Shape {
    QString id;
    qint64 time = 0;
    bool owner = false;
    bool pattern = false;
    bool hi = false;
    bool dark = false;
    bool pinned = false;
};

} // namespace
Q_DECLARE_METATYPE(Shape)
namespace {

WallpaperItemPtr make(const Shape& shape)
{
    im::WallPaper message;
    message.set_id(shape.id.toStdString());
    message.set_update_time(shape.time);
    message.set_is_owner(shape.owner);
    message.set_has_pattern(shape.pattern);
    message.set_is_dark(shape.dark);
    WallpaperItemPtr item(new WallpaperItem(nullptr, message));
    if (shape.hi)
        item->setHiPhoto(FileDataPtr(new FileData));
    item->setThemePalce(shape.pinned);
    return item;
}

QStringList idsOf(const WallpaperModel* model)
{
    QStringList ids;
    for (const WallpaperItemPtr& item : model->items())
        ids.append(item->wallpaperId());
    return ids;
}

// Greatest first, equals in any order.
bool inOrder(const QList<WallpaperItemPtr>& items, bool dark)
{
    for (int i = 1; i < items.size(); ++i) {
        if (WallpaperItem::greater(*items.at(i), *items.at(i - 1), dark))
            return false;
    }
    return true;
}

bool inOrder(const QList<WallpaperItemPtr>& items)
{
    return inOrder(items, AppSettingModel::instance()->darkMode());
}

im::WallPaper serverWallpaper(const QString& id, qint64 time, bool owner = true)
{
    im::WallPaper wallpaper;
    wallpaper.set_id(id.toStdString());
    wallpaper.set_update_time(time);
    wallpaper.set_is_owner(owner);
    auto* hi = wallpaper.mutable_photo_set()->mutable_hi_res();
    hi->set_file_id((id + QStringLiteral("-hi")).toStdString());
    hi->set_aes_key(std::string(32, 'k'));
    hi->set_size(10);
    return wallpaper;
}

QByteArray page(const QList<im::WallPaper>& wallpapers, qint64 next, bool more)
{
    im::wallpaper::ListWallPapersResp resp;
    for (const im::WallPaper& wallpaper : wallpapers)
        *resp.add_wallpapers() = wallpaper;
    resp.set_next_offset(next);
    resp.set_has_more(more);
    return bytesOf(resp);
}

QStringList storedIds(TestAccount& device)
{
    ThreadManager::getInstance()->waitForIdle();
    QStringList ids;
    for (const storage::WallpaperInfo& info : device.account->storage()->wallpaperStorage()->allInfos())
        ids.append(info.id);
    ids.sort();
    return ids;
}

bool formatErrorReported()
{
    const auto errors = AccountManager::getInstance()->errors();
    return std::any_of(errors.cbegin(), errors.cend(), [](const AccountManager::Error& e) {
        return e.text == QStringLiteral("wallpaper_file_format_error");
    });
}

} // namespace

class TestWallpapers : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_run = 0;

    QString accountId() const { return QStringLiteral("w%1").arg(m_run); }

private slots:
    void init()
    {
        ++m_run;
        AppSettingModel::instance()->setDarkMode(false);
        AccountManager::getInstance()->clearRecords();
    }

    // ---- the item ----

    void order_data()
    {
        QTest::addColumn<Shape>("a");
        QTest::addColumn<Shape>("b");
        // 1: a is greater, -1: b is greater, 0: neither.
        QTest::addColumn<int>("light");
        QTest::addColumn<int>("dark");
        QTest::newRow("pinned first") << Shape{"a", 1, false, false, false, false, true}
                                      << Shape{"b", 9, true, true, true, true} << 1 << 1;
        QTest::newRow("pattern before plain") << Shape{"a", 1, false, true} << Shape{"b", 9, true} << 1 << 1;
        QTest::newRow("pattern with its image first")
            << Shape{"a", 1, false, true, true} << Shape{"b", 9, false, true} << 1 << 1;
        QTest::newRow("patterns by time")
            << Shape{"a", 9, false, true} << Shape{"b", 1, false, true} << 1 << 1;
        QTest::newRow("patterns by id on equal times")
            << Shape{"b", 5, false, true} << Shape{"a", 5, false, true} << 1 << 1;
        QTest::newRow("own before a newer dark other")
            << Shape{"a", 1, true} << Shape{"b", 9, false, false, false, true} << 1 << -1;
        QTest::newRow("own by time") << Shape{"a", 1, true} << Shape{"b", 9, true} << -1 << -1;
        QTest::newRow("own of equal times") << Shape{"a", 5, true} << Shape{"b", 5, true} << 0 << -1;
        QTest::newRow("light others before dark ones")
            << Shape{"a", 1} << Shape{"b", 9, false, false, false, true} << 1 << -1;
        QTest::newRow("others by time, then id") << Shape{"b", 5} << Shape{"a", 5} << 1 << 1;
        QTest::newRow("dark own before light own")
            << Shape{"a", 1, true, false, false, true} << Shape{"b", 9, true} << -1 << 1;
    }

    void order()
    {
        QFETCH(Shape, a);
        QFETCH(Shape, b);
        QFETCH(int, light);
        QFETCH(int, dark);
        const WallpaperItemPtr x = make(a);
        const WallpaperItemPtr y = make(b);
        for (const bool mode : {false, true}) {
            AppSettingModel::instance()->setDarkMode(mode);
            const int expected = mode ? dark : light;
            QCOMPARE(*x > *y, expected == 1);
            QCOMPARE(*y > *x, expected == -1);
            QCOMPARE(*x < *y, expected == -1);
        }
    }

    void protocolFormBothWays()
    {
        TestAccount t(m_dir.path(), accountId());
        im::WallPaper message = serverWallpaper(QStringLiteral("w1"), 42);
        message.set_local_id("kept");
        message.mutable_photo_set()->clear_lo_res();
        message.mutable_setting()->add_bg_colors(int(0x33A854FFu));
        message.mutable_setting()->add_bg_colors(int(0x00000080u));
        message.mutable_setting()->set_rotation(45);
        WallpaperItem item(t.account, message);
        QCOMPARE(item.bgColors(), QStringList({QStringLiteral("#33A854"), QStringLiteral("#80000000")}));
        QCOMPARE(item.intensity(), 0); // the message's setting holds every value
        QVERIFY(item.hiPhoto() && !item.loPhoto());

        // Without a low-resolution file the full image stands in; the local id passes through.
        im::WallPaper out;
        item.serialize(&out, false);
        QCOMPARE(out.local_id(), std::string("kept"));
        QCOMPARE(out.photo_set().lo_res().file_id(), std::string("w1-hi"));
        QCOMPARE(out.photo_set().lo_res().aes_key(), std::string(32, 'k'));
        QCOMPARE(out.setting().bg_colors_size(), 2);
        QCOMPARE(out.setting().rotation(), 45);
        item.serialize(&out, true);
        QCOMPARE(out.local_id(), std::string("w1"));

        // An equal colour list changes nothing; another one changes both forms.
        QSignalSpy colours(&item, &WallpaperItem::bgColorsChanged);
        item.setBgColors(QStringList{QStringLiteral("#33A854"), QStringLiteral("#80000000")});
        item.setBgColors(QList<int>{int(0x33A854FFu), int(0x00000080u)});
        QCOMPARE(colours.count(), 0);
        item.setBgColors(QStringList{QStringLiteral("#FF0000")});
        QCOMPARE(colours.count(), 1);
        QCOMPARE(item.bgColorValues(), QList<int>{int(0xFF0000FFu)});

        // A pattern that ships with the application: one shared file, named by its id.
        im::WallPaper pattern;
        pattern.set_pattern_id("0e1adfd2c6154fb08054b1b400638f5b");
        pattern.set_has_pattern(true);
        WallpaperItem patterned(t.account, pattern);
        QCOMPARE(patterned.wallpaperId(), QStringLiteral("0e1adfd2c6154fb08054b1b400638f5b"));
        QVERIFY(patterned.internalPattern() && patterned.loPhoto() == patterned.hiPhoto());
        QCOMPARE(patterned.hiPhoto()->filePath(), QStringLiteral("qrc:/resource/image/background/snow.png"));
        patterned.serialize(&out, false);
        QVERIFY(!out.has_photo_set());
        QCOMPARE(out.pattern_id(), pattern.pattern_id());
        QStringList ids;
        patterned.getFileIds(ids);
        QVERIFY(ids.isEmpty());

        // A copy leaves out what belongs to one list only.
        item.setUnsynced(true);
        item.setThemePalce(true);
        const WallpaperItem copy(&item);
        QVERIFY(!copy.unsynced() && !copy.themePlace());
        QCOMPARE(copy.bgColors(), item.bgColors());
        QVERIFY(copy.sameWallpaper(&item) && !copy.sameWallpaper(&patterned) && !copy.sameWallpaper(nullptr));
    }

    // ---- the list ----

    void orderedSearchAgreesWithASortedList()
    {
        QRandomGenerator random(7);
        for (const bool dark : {false, true}) {
            AppSettingModel::instance()->setDarkMode(dark);
            WallpaperModel model;
            model.onSortAll(dark);
            QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
            const auto randomShape = [&random](int n) {
                // Few distinct times, so that equal keys are common.
                return Shape{QStringLiteral("w%1").arg(n), random.bounded(8),      random.bounded(2) == 1,
                             random.bounded(4) == 0,       random.bounded(2) == 1, random.bounded(2) == 1};
            };
            // A page's messages are sorted by their keys before they are items: the same order.
            for (int i = 0; i < 300; ++i) {
                im::WallPaper a;
                im::WallPaper b;
                for (im::WallPaper* m : {&a, &b}) {
                    const Shape shape = randomShape(int(random.bounded(1000)));
                    m->set_id(shape.id.toStdString());
                    m->set_update_time(shape.time);
                    m->set_is_owner(shape.owner);
                    m->set_has_pattern(shape.pattern);
                    m->set_is_dark(shape.dark);
                    if (random.bounded(3) == 0)
                        m->set_pattern_id("pattern-1");
                }
                const WallpaperItem itemA(nullptr, a);
                const WallpaperItem itemB(nullptr, b);
                QCOMPARE(WallpaperItem::greater(WallpaperItem::sortKeyOf(nullptr, a),
                                                WallpaperItem::sortKeyOf(nullptr, b), dark),
                         WallpaperItem::greater(itemA, itemB, dark));
            }
            const int n = 400;
            for (int i = 0; i < n; ++i)
                model.insert(make(randomShape(i)));
            QCOMPARE(model.count(), n);
            QVERIFY(inOrder(model.items()));

            // Every listed item is found at its row, and a new one's row splits the list.
            for (int row = 0; row < n; ++row) {
                bool exact = false;
                QCOMPARE(
                    WallpaperModel::orderedSearch(model.items(), model.items().at(row).data(), dark, &exact),
                    row);
                QVERIFY(exact);
            }
            for (int i = 0; i < 200; ++i) {
                const WallpaperItemPtr x = make(randomShape(n + i));
                bool exact = true;
                const int row = WallpaperModel::orderedSearch(model.items(), x.data(), dark, &exact);
                QVERIFY(!exact);
                for (int k = 0; k < n; ++k)
                    QVERIFY(k < row ? !(*model.items().at(k) < *x) : !(*x < *model.items().at(k)));
            }

            // Newer versions move, removals find their rows, and the order holds throughout.
            for (int i = 0; i < n; i += 3) {
                Shape shape = randomShape(i);
                shape.time = 10 + random.bounded(8);
                model.replaceItem(make(shape));
            }
            for (int i = 1; i < n; i += 4)
                QVERIFY(model.removeById(QStringLiteral("w%1").arg(i)));
            QVERIFY(inOrder(model.items()));
            QCOMPARE(model.count(), n - n / 4);

            // The list keeps the order it was sorted for while the application's flag says
            // otherwise, and a sort key the interface changes moves its row.
            AppSettingModel::instance()->setDarkMode(!dark);
            for (int i = 0; i < 40; ++i)
                model.insert(make(randomShape(2 * n + i)));
            QVERIFY(inOrder(model.items(), dark));
            for (int i = 0; i < 20; ++i) {
                WallpaperItem* changed = model.items().at(random.bounded(int(model.count()))).data();
                if (i % 2)
                    changed->setIsDark(!changed->isDark());
                else
                    changed->setHasPattern(!changed->hasPattern());
                QVERIFY(inOrder(model.items(), dark));
            }
            // A copy of a listed wallpaper finds the listed row.
            const WallpaperItem copy(model.items().at(5).data());
            QCOMPARE(model.indexByItem(const_cast<WallpaperItem*>(&copy)), 5);
        }
    }

    void listChangesAndTheirSignals()
    {
        WallpaperModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy counts(&model, &WallpaperModel::countChanged);
        QSignalSpy limit(&model, &WallpaperModel::upToLimiteChanged);
        QSignalSpy moved(&model, &QAbstractItemModel::rowsMoved);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        QSignalSpy deleted(&model, &WallpaperModel::deleteWallpaperId);

        model.append({make({"p2", 5, false, true}), make({"p1", 4, false, true}), make({"o1", 9, true})});
        QCOMPARE(idsOf(&model), QStringList({"p2", "p1", "o1"}));
        QCOMPARE(counts.count(), 1);

        // A listed id with the same or an older time is no news.
        model.insert(make({"p1", 4, false, true}));
        model.insert(make({"p1", 3, false, true}));
        QCOMPARE(counts.count(), 1);
        // A newer version moves up.
        model.insert(make({"p1", 6, false, true}));
        QCOMPARE(idsOf(&model), QStringList({"p1", "p2", "o1"}));
        QCOMPARE(moved.count(), 1);

        // The owner limit flips once on the way up and once on the way down.
        for (int i = 2; i <= OWNER_WALLPAPER_LIMIT; ++i)
            model.insert(make({QStringLiteral("o%1").arg(i), i, true}));
        QVERIFY(model.upToLimite());
        QCOMPARE(limit.count(), 1);
        QVERIFY(model.removeById(QStringLiteral("o2")));
        QVERIFY(!model.upToLimite());
        QCOMPARE(limit.count(), 2);
        QCOMPARE(deleted.last().at(0).toString(), QStringLiteral("o2"));
        QVERIFY(!model.removeById(QStringLiteral("o2")));

        // The server's id replaces the local one; the row goes where the new time puts it.
        WallpaperItemPtr local = model.itemPtr(QStringLiteral("o1"));
        local->setWallpaperId(QStringLiteral("server"));
        local->setLastUpdated(100);
        model.renameItem(QStringLiteral("o1"), QStringLiteral("server"));
        QVERIFY(!model.contains(QStringLiteral("o1")));
        QCOMPARE(model.indexByItem(local.data()), 2);
        QCOMPARE(model.getItemById(QStringLiteral("server")), local.data());
        QCOMPARE(model.itemByIndex(model.count()), nullptr);
        QCOMPARE(model.indexByItem(nullptr), -1);

        // Many at once, as a large list page brings them: new ones come in as blocks of rows,
        // changed ones leave their rows and come in again at their places (no layout change, which
        // would make a proxy read every row), a persistent index on a row that stays follows it,
        // and the last version of an id wins. The order is the one the items would have one by one.
        WallpaperFilterModel everything;
        everything.setSourceModel(&model);
        QAbstractItemModelTester proxyTester(&everything,
                                             QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QPersistentModelIndex stays(model.index(model.indexByItem(local.data())));
        QSignalSpy layouts(&model, &QAbstractItemModel::layoutChanged);
        QList<WallpaperItemPtr> batch{
            make({"p2", 50, false, true}),      make({"o3", 1, true}), make({"n1", 7}), make({"n2", 8}),
            make({"o4", 2, true, false, true}), make({"n1", 9})};
        model.replaceItems(batch);
        QCOMPARE(layouts.count(), 0);
        QCOMPARE(model.getItemById(QStringLiteral("n1"))->lastUpdated(), 9);
        QCOMPARE(model.getItemById(QStringLiteral("p2")), batch.first().data());
        QCOMPARE(model.index(stays.row()).data(WallpaperModel::WALLPAPER_ROLE).value<WallpaperItem*>(),
                 local.data());
        WallpaperModel oneByOne;
        for (const WallpaperItemPtr& item : model.items())
            oneByOne.insert(item);
        QCOMPARE(idsOf(&model), idsOf(&oneByOne));
        QCOMPARE(everything.rowCount(), model.count());
        QVERIFY(model.removeById(QStringLiteral("n1")) && model.removeById(QStringLiteral("n2")));

        // Dark mode sorts again only when it changes.
        model.onSortAll(false);
        QCOMPARE(resets.count(), 0);
        model.onSortAll(true);
        QCOMPARE(resets.count(), 1);

        QStringList handed;
        model.removeOwnerItems(
            [&handed](const WallpaperItemPtr& item) { handed.append(item->wallpaperId()); });
        QCOMPARE(handed.size(), OWNER_WALLPAPER_LIMIT - 1);
        QCOMPARE(idsOf(&model), QStringList({"p2", "p1"}));
        QVERIFY(!model.upToLimite());

        // A reset tells a bound count; a colour that is no colour name is refused.
        const qsizetype countsBefore = counts.count();
        model.reset();
        QCOMPARE(counts.count(), countsBefore + 1);
        model.reset();
        QCOMPARE(counts.count(), countsBefore + 1);
        WallpaperItem coloured(nullptr, true);
        coloured.setBgColors(QStringList{"#112233"});
        for (const QStringList& bad :
             {QStringList{"#GGGGGG"}, QStringList{""}, QStringList{"#112233", "red"}})
            coloured.setBgColors(bad);
        QCOMPARE(coloured.bgColors(), QStringList{"#112233"});
    }

    void patternFilterShowsOwnPatternImagesOnly()
    {
        WallpaperModel model;
        WallpaperFilterModel filter;
        filter.setMode(0);
        filter.setSourceModel(&model);
        QAbstractItemModelTester tester(&filter, QAbstractItemModelTester::FailureReportingMode::QtTest);
        im::WallPaper shipped;
        shipped.set_pattern_id("a65e7ceea9c244438a99310f0f20ad93");
        shipped.set_has_pattern(true);
        model.insert(WallpaperItemPtr(new WallpaperItem(nullptr, shipped)));
        model.insert(make({"no image", 2, false, true, false}));
        model.insert(make({"plain", 3, false, false, true}));
        model.insert(make({"pattern", 1, false, true, true}));
        QCOMPARE(filter.rowCount(), 1);
        QCOMPARE(
            filter.index(0, 0).data(WallpaperModel::WALLPAPER_ROLE).value<WallpaperItem*>()->wallpaperId(),
            QStringLiteral("pattern"));
        filter.setMode(1);
        QCOMPARE(filter.rowCount(), 4);
        filter.setMode(5);
        QCOMPARE(filter.rowCount(), 0);
    }

    void registeredTypesCrossQueuedCalls()
    {
        WallpaperHandler::registerMetaType("SettingModel");
        QVERIFY(QMetaType::fromName("QList<WallpaperItemPtr>").isValid());
        QVERIFY(QMetaType::fromName("WallpaperItemPtr").isValid());
        QVERIFY(QMetaType::fromName("ThemeHandler*").isValid());
        // An invokable taking the list, called by name on the model's event loop.
        WallpaperModel model;
        const QList<WallpaperItemPtr> items{make({"b", 2, true}), make({"a", 1, true})};
        QVERIFY(QMetaObject::invokeMethod(&model, "append", Qt::QueuedConnection,
                                          QGenericArgument("QList<WallpaperItemPtr>", &items)));
        QVERIFY(QTest::qWaitFor([&model] { return model.count() == 2; }));
    }

    // ---- the handler, against a scripted server ----

    void localLoadReadsPostedSavesAndSkipsJunk()
    {
        const QString id = accountId();
        {
            TestAccount t(m_dir.path(), id);
            storage::WallpaperStorage* table = t.account->storage()->wallpaperStorage();
            QVERIFY(table->save({storage::WallpaperInfo{"a", bytesOf(serverWallpaper("a", 1)), true, 1},
                                 storage::WallpaperInfo{"junk", QByteArray("\xff\xff\xff", 3), true, 2},
                                 storage::WallpaperInfo{"b", bytesOf(serverWallpaper("b", 3)), false, 3},
                                 storage::WallpaperInfo{"c", bytesOf(serverWallpaper("", 2)), true, 2}}));
        }
        TestAccount t(m_dir.path(), id);
        // A save still on its way to the storage thread is read too.
        storage::WallpaperStorage* table = t.account->storage()->wallpaperStorage();
        const storage::WallpaperInfo late{"d", bytesOf(serverWallpaper("d", 4)), true, 4};
        ThreadManager::getInstance()->invoke([table, late] { table->save(late); }, true);
        WallpaperHandler* handler = t.account->wallpaperHandler();
        handler->initData();
        handler->loadLocalData(false);
        // A deletion that arrives before the rows are in keeps its wallpaper out of the list.
        im::notif::WallpaperUpdatedNotif deletion;
        deletion.add_wallpapers()->set_id("c");
        deletion.mutable_wallpapers(0)->set_deleted(true);
        handler->wallpaperUpdateNotif(deletion);
        QVERIFY(QTest::qWaitFor([handler] { return !handler->isLocalLoading(); }));
        // A record whose message has no id keeps the record's.
        QCOMPARE(idsOf(handler->wallpaperModel()), QStringList({"d", "b", "a"}));
        QVERIFY(!storedIds(t).contains("c"));
        QVERIFY(handler->wallpaperModel()->getItemById("b")->unsynced());
        QCOMPARE(handler->failedUploads(), QStringList{"b"});
    }

    // Saves whose answers were lost, echo the wrong id or are refused for good; records that
    // name an unsynced wallpaper; paging that does not advance; a reset while a save is on its way.
    void savesAndRecordsThatCross()
    {
        TestAccount t(m_dir.path(), accountId());
        QVERIFY(t.start());
        WallpaperHandler* handler = t.account->wallpaperHandler();
        WallpaperModel* model = handler->wallpaperModel();
        QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const auto made = [handler](const char* colour) {
            WallpaperItem* item = handler->createWallpaper();
            item->setBgColors(QStringList{QString::fromLatin1(colour)});
            handler->syncWallpaper();
            return item->wallpaperId();
        };
        const auto saved = [](const QString& id, const QString& localId, qint64 time) {
            im::WallPaper wallpaper = serverWallpaper(id, time);
            wallpaper.set_local_id(localId.toStdString());
            return wallpaper;
        };
        const auto answer = [](const im::WallPaper& wallpaper) {
            im::wallpaper::SaveWallPaperResp resp;
            *resp.mutable_wallpaper() = wallpaper;
            return bytesOf(resp);
        };

        // Paging whose next offset does not lead on stops; an offset below zero is not kept.
        QVERIFY(t.transport->answerNext(241, 0, page({serverWallpaper("a", 1)}, 0, true)));
        QVERIFY(QTest::qWaitFor([model] { return model->count() == 1; }));
        handler->getNewData();
        LogCapture log;
        QVERIFY(t.transport->answerNext(241, 0, page({}, -5, true)));
        QVERIFY(QTest::qWaitFor(
            [&log] { return log.messages().filter(QStringLiteral("paging stopped")).size() == 1; }));
        QCOMPARE(t.transport->count(241), 2);
        QCOMPARE(t.account->dataInfoModel()->wallpaperOffset(), 0);

        // A save whose answer was lost comes back in a page under its local id: one wallpaper.
        const QString lost = made("#101010");
        QVERIFY(t.transport->answerNext(242, AccountBase::kNetworkError));
        QVERIFY(QTest::qWaitFor([&] { return handler->failedUploads() == QStringList{lost}; }));
        handler->getNewData();
        QVERIFY(t.transport->answerNext(241, 0, page({saved("s1", lost, 5)}, 9, false)));
        QVERIFY(QTest::qWaitFor([model] { return model->contains("s1"); }));
        QVERIFY(!model->contains(lost) && !model->getItemById("s1")->unsynced());
        QVERIFY(handler->failedUploads().isEmpty());
        // The retry the request for news sent is answered with the same wallpaper (the server
        // knows the save by its local id): still one.
        QVERIFY(t.transport->answerNext(242, 0, answer(saved("s1", lost, 5))));
        QVERIFY(QTest::qWaitFor([&] { return t.transport->requests(242).size() == 2; }));

        // An answer echoing another wallpaper's local id is taken for the save that was sent.
        const QString other = made("#202020");
        const QString echoing = made("#303030");
        QVERIFY(t.transport->answerNext(242, 0, answer(saved("s2", echoing, 6))));
        QVERIFY(QTest::qWaitFor([model] { return model->contains("s2"); }));
        QVERIFY(!model->contains(other) && model->contains(echoing));
        QVERIFY(t.transport->answerNext(242, 0, answer(saved("s3", echoing, 7))));
        QVERIFY(QTest::qWaitFor([model] { return model->contains("s3"); }));

        // A push naming an unsynced wallpaper as another listed one leaves both.
        const QString pending = made("#404040");
        im::notif::WallpaperUpdatedNotif push;
        *push.add_wallpapers() = saved("a", pending, 8);
        handler->wallpaperUpdateNotif(push);
        QVERIFY(model->contains(pending) && model->contains("a"));

        // Refused for good: listed, unsynced, not retried, and the user is told why.
        QVERIFY(t.transport->answerNext(242, SimServer::kConflict));
        QVERIFY(QTest::qWaitFor([&] { return handler->refusedUploads().contains(pending); }));
        QCOMPARE(lastReportedError(), QStringLiteral("wallpaper_limit_reached"));
        const QString unreadable = made("#505050");
        QVERIFY(t.transport->answerNext(242, 422));
        QVERIFY(QTest::qWaitFor([&] { return handler->refusedUploads().contains(unreadable); }));
        QCOMPARE(lastReportedError(), QStringLiteral("wallpaper_file_format_error"));
        QVERIFY(handler->failedUploads().isEmpty() && model->getItemById(pending)->unsynced());
        handler->reuploadFailed();
        QCOMPARE(t.transport->count(242), 6);

        // Deleted after its save's answer was lost: the server may hold it, and knows it by the
        // local id, so the delete names that.
        const QString unknown = made("#707070");
        QVERIFY(t.transport->answerNext(242, AccountBase::kNetworkError));
        QVERIFY(QTest::qWaitFor([&] { return handler->failedUploads().contains(unknown); }));
        handler->deleteWallpaper(unknown);
        QCOMPARE(parsed<im::wallpaper::DeleteWallPaperReq>(t.transport->last(243)->body).wallpaper_id(),
                 unknown.toStdString());

        // A reset while a save is on its way: the save's answer deletes the server's copy.
        const QString racing = made("#606060");
        handler->resetWallpaper();
        QVERIFY(t.transport->answerNext(245, 0, bytesOf(im::wallpaper::ResetWallPapersResp())));
        QVERIFY(QTest::qWaitFor([model, racing] { return !model->contains(racing); }));
        QVERIFY(t.transport->answerNext(242, 0, answer(saved("s4", racing, 9))));
        QVERIFY(QTest::qWaitFor([&] { return t.transport->count(243) == 2; }));
        QCOMPARE(parsed<im::wallpaper::DeleteWallPaperReq>(t.transport->last(243)->body).wallpaper_id(),
                 std::string("s4"));
        QVERIFY(!model->contains("s4"));
    }

    void listPagesAppendThenPlace()
    {
        TestAccount t(m_dir.path(), accountId());
        QVERIFY(t.start());
        WallpaperHandler* handler = t.account->wallpaperHandler();
        WallpaperModel* model = handler->wallpaperModel();
        QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);

        QCOMPARE(parsed<im::wallpaper::ListWallPapersReq>(t.transport->last(241)->body).offset(), 0);
        // A wallpaper listed twice is taken once, and named with the page.
        QTest::ignoreMessage(QtWarningMsg,
                             "dropped from a page of the wallpaper list : a wallpaper listed twice x1 (c)");
        QVERIFY(t.transport->answerNext(241, 0,
                                        page({serverWallpaper("a", 1), serverWallpaper("b", 3),
                                              serverWallpaper("c", 2), serverWallpaper("c", 5)},
                                             3, true)));
        QVERIFY(QTest::qWaitFor([&] { return t.transport->count(241) == 2; }));
        QCOMPARE(idsOf(model), QStringList({"b", "c", "a"}));
        QCOMPARE(inserted.count(), 1); // the first page arrives in one step
        QCOMPARE(parsed<im::wallpaper::ListWallPapersReq>(t.transport->last(241)->body).offset(), 3);

        // The next page deletes one, brings one newer and one new, placed one by one; one
        // without an id is dropped.
        QTest::ignoreMessage(QtWarningMsg,
                             "dropped from a page of the wallpaper list : a wallpaper without an id x1 ()");
        im::WallPaper gone;
        gone.set_id("b");
        gone.set_deleted(true);
        QVERIFY(t.transport->answerNext(
            241, 0,
            page({gone, serverWallpaper("a", 9), serverWallpaper("d", 0), im::WallPaper()}, 7, false)));
        QVERIFY(QTest::qWaitFor([&] { return idsOf(model) == QStringList({"a", "c", "d"}); }));
        QCOMPARE(storedIds(t), QStringList({"a", "c", "d"}));
        QCOMPARE(t.account->dataInfoModel()->wallpaperOffset(), 7);
        // The missing images are fetched in the background.
        QVERIFY(QTest::qWaitFor([&] { return t.transport->count(FileDownloadChunk) > 0; }));

        // An answer that comes while a page is applied is not lost: the list is asked for again,
        // from where that page led.
        handler->getNewData();
        handler->getNewData();
        const int asked = t.transport->count(241);
        QVERIFY(t.transport->answerNext(241, 0, page({serverWallpaper("e", 4)}, 8, false)));
        QVERIFY(t.transport->answerNext(241, 0,
                                        page({serverWallpaper("e", 4), serverWallpaper("f", 5)}, 9, false)));
        QVERIFY(QTest::qWaitFor([&] { return t.transport->count(241) == asked + 1; }));
        QCOMPARE(parsed<im::wallpaper::ListWallPapersReq>(t.transport->last(241)->body).offset(), 8);

        // A push that comes while a page is made is newer than the page: a wallpaper it deleted
        // stays deleted, shown and stored.
        QVERIFY(t.transport->answerNext(241, 0, page({serverWallpaper("g", 6)}, 10, false)));
        im::notif::WallpaperUpdatedNotif push;
        im::WallPaper deletion;
        deletion.set_id("g");
        deletion.set_deleted(true);
        *push.add_wallpapers() = deletion;
        t.transport->push(PushWallpaperUpdated, bytesOf(push));
        QVERIFY(QTest::qWaitFor([&] { return t.account->dataInfoModel()->wallpaperOffset() == 10; }));
        QVERIFY(!model->getItemById("g"));
        QVERIFY(!storedIds(t).contains("g"));
    }

    void addRefusesWhatIsNotAnImage_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("accepted");
        const QString png = media::writeImage(m_dir.filePath("source.png"), QSize(300, 200));
        QTest::newRow("not an image")
            << media::writeBytes(m_dir.filePath("noise.png"), media::noise(4000)) << false;
        QTest::newRow("truncated") << media::truncated(png, m_dir.filePath("cut.png"), 300) << false;
        QTest::newRow("empty") << media::writeBytes(m_dir.filePath("empty.jpg"), {}) << false;
        QTest::newRow("missing") << m_dir.filePath("nothing.png") << false;
        const QString renamed = m_dir.filePath("renamed.jpg");
        QFile::remove(renamed);
        QVERIFY(QFile::copy(png, renamed));
        QTest::newRow("renamed") << renamed << true;
        QTest::newRow("huge") << media::writeHugeJpeg(m_dir.filePath("huge.jpg")) << true;
    }

    void addRefusesWhatIsNotAnImage()
    {
        QFETCH(QString, file);
        QFETCH(bool, accepted);
        TestAccount t(m_dir.path(), accountId());
        QVERIFY(t.start());
        WallpaperHandler* handler = t.account->wallpaperHandler();
        QSignalSpy loading(handler, &WallpaperHandler::loadingChanged);
        QVERIFY(QTest::qWaitFor([handler] { return !handler->isLocalLoading(); })); // an add waits for it
        WallpaperItem* item = handler->add(file);
        QVERIFY(item && handler->loading());
        QVERIFY(!handler->add(file)); // one add at a time
        QVERIFY(QTest::qWaitFor([handler] { return !handler->loading(); }, TestAccount::kWaitMs));
        QCOMPARE(loading.count(), 2);
        QCOMPARE(formatErrorReported(), !accepted);
        QCOMPARE(handler->wallpaperModel()->count(), accepted ? 1 : 0);
        QCOMPARE(storedIds(t).size(), accepted ? 1 : 0);
        if (!accepted)
            return;
        QVERIFY(item->unsynced() && item->hasThumbBytes());
        QImageReader image(item->hiPhoto()->filePath());
        QVERIFY(image.size().width() <= WallpaperHandler::kMaxSide &&
                image.size().height() <= WallpaperHandler::kMaxSide);
        QVERIFY(QTest::qWaitFor([&] { return t.transport->count(FileUploadChunk) > 0; }));
    }

    void commandsOnTheWire()
    {
        TestAccount t(m_dir.path(), accountId());
        QVERIFY(t.start());
        WallpaperHandler* handler = t.account->wallpaperHandler();
        QVERIFY(t.transport->answerNext(241, 0,
                                        page({serverWallpaper("a", 1), serverWallpaper("b", 2)}, 2, false)));
        QVERIFY(QTest::qWaitFor([handler] { return handler->wallpaperModel()->count() == 2; }));

        handler->deleteWallpaper("a");
        auto one = t.transport->last(243);
        QVERIFY(one && one->flag);
        QCOMPARE(parsed<im::wallpaper::DeleteWallPaperReq>(one->body).wallpaper_id(), std::string("a"));
        handler->deleteWallpapers({"b", "unknown"});
        const auto both = parsed<im::wallpaper::DeleteWallPaperReq>(t.transport->last(243)->body);
        QCOMPARE(both.wallpaper_ids_size(), 1);
        QCOMPARE(both.wallpaper_ids(0), std::string("b"));
        QCOMPARE(handler->wallpaperModel()->count(), 0);
        QCOMPARE(storedIds(t), QStringList());
        // A delete the network lost goes again with the next request for news, and a page or a
        // push listing it meanwhile does not bring it back; one the server refused does, and the
        // user is told.
        QVERIFY(t.transport->answerNext(243, AccountBase::kNetworkError));
        QVERIFY(t.transport->answerNext(243, 400));
        QVERIFY(QTest::qWaitFor([handler] { return handler->unsentDeletes() == QStringList{"a"}; }));
        QCOMPARE(lastReportedError(), QStringLiteral("wallpaper_delete_refused"));
        QCOMPARE(parsed<im::wallpaper::GetWallPaperReq>(t.transport->last(244)->body).id(), std::string("b"));
        im::wallpaper::GetWallPaperResp kept;
        *kept.mutable_wallpaper() = serverWallpaper("b", 2);
        QVERIFY(t.transport->answerNext(244, 0, bytesOf(kept)));
        im::notif::WallpaperUpdatedNotif stale;
        *stale.add_wallpapers() = serverWallpaper("a", 1);
        handler->wallpaperUpdateNotif(stale);
        handler->listResp(
            parsed<im::wallpaper::ListWallPapersResp>(page({serverWallpaper("a", 1)}, 3, false)));
        QVERIFY2(QTest::qWaitFor([&] { return storedIds(t) == QStringList{"b"}; }),
                 qPrintable(storedIds(t).join(",")));
        QCOMPARE(handler->wallpaperModel()->count(), 1);
        handler->getNewData();
        const auto again = parsed<im::wallpaper::DeleteWallPaperReq>(t.transport->last(243)->body);
        QCOMPARE(again.wallpaper_ids_size(), 1);
        QCOMPARE(again.wallpaper_ids(0), std::string("a"));
        QVERIFY(handler->unsentDeletes().isEmpty());
        // A passing server failure is tried again too; the answer settles it.
        QVERIFY(t.transport->answerNext(243, 503));
        QVERIFY(QTest::qWaitFor([handler] { return handler->unsentDeletes() == QStringList{"a"}; }));
        handler->getNewData();
        QVERIFY(t.transport->answerNext(243, 0, t.transport->last(243)->body));
        QVERIFY(QTest::qWaitFor([handler] { return handler->deleting().isEmpty(); }));
        handler->deleteWallpaper("b");
        QVERIFY(t.transport->answerNext(243, 0, t.transport->last(243)->body));

        // A colour-only wallpaper is saved at once, under its local id.
        WallpaperItem* made = handler->createWallpaper();
        made->setBgColors(QStringList{QStringLiteral("#112233")});
        handler->syncWallpaper();
        const auto save = parsed<im::wallpaper::SaveWallPaperReq>(t.transport->last(242)->body);
        QCOMPARE(QString::fromStdString(save.wallpaper().local_id()), made->wallpaperId());
        QVERIFY(save.wallpaper().id().empty() && save.wallpaper().is_owner());

        // A failed save leaves it unsynced and queued for a retry.
        QVERIFY(t.transport->answerNext(242, 500));
        QVERIFY(
            QTest::qWaitFor([&] { return handler->failedUploads() == QStringList{made->wallpaperId()}; }));
        QVERIFY(made->unsynced());

        handler->resetWallpaper();
        QVERIFY(t.transport->last(245)->body.isEmpty());
        QCOMPARE(t.transport->count(244), 1);
        WallpaperItemPtr fetched;
        handler->loadWallpaper("remote", [&fetched](const WallpaperItemPtr& item) { fetched = item; });
        QCOMPARE(parsed<im::wallpaper::GetWallPaperReq>(t.transport->last(244)->body).id(),
                 std::string("remote"));
        im::wallpaper::GetWallPaperResp got;
        *got.mutable_wallpaper() = serverWallpaper("remote", 5);
        QVERIFY(t.transport->answerNext(244, 0, bytesOf(got)));
        QVERIFY(QTest::qWaitFor([&fetched] { return !fetched.isNull(); }));
        QCOMPARE(fetched->wallpaperId(), QStringLiteral("remote"));
        // Asked again, the fetched one is handed out without a request, also to a theme's half.
        handler->loadWallpaper("remote", [&fetched](const WallpaperItemPtr& item) { fetched = item; });
        ThemeComponentItem half(QVariantMap{});
        handler->loadWallpaper(&half, "remote");
        QCOMPARE(half.wallpaperItem()->wallpaperId(), QStringLiteral("remote"));
        QCOMPARE(t.transport->count(244), 2);
    }

    // ---- the handler, against the simulated server ----

    void uploadOutcomes_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("saved") << 0 << 0 << "saved";
        QTest::newRow("failed for now") << int(FileUploadChunk) << 500 << "retried";
        QTest::newRow("refused") << int(FileCompleteUpload) << SimServer::kTooLarge << "removed";
    }

    void uploadOutcomes()
    {
        QFETCH(int, command);
        QFETCH(int, code);
        QFETCH(QString, outcome);
        SimServer server;
        TestAccount t(m_dir.path(), accountId(), server.connectDevice(1, "A", "desktop"));
        QVERIFY(t.start());
        WallpaperHandler* handler = t.account->wallpaperHandler();
        WallpaperModel* model = handler->wallpaperModel();
        QVERIFY(QTest::qWaitFor([&] { return model->count() == server.wallpaperCount(); }));
        if (command)
            server.failCommand(command, code);
        QSignalSpy ids(handler, &WallpaperHandler::wallpaperIdChanged);
        QVERIFY(QTest::qWaitFor([handler] { return !handler->isLocalLoading(); }));
        WallpaperItem* item = handler->add(media::writeImage(m_dir.filePath("up.jpg"), QSize(800, 600)));
        QVERIFY(item);
        const QString localId = item->wallpaperId();
        QVERIFY(QTest::qWaitFor([&] { return ids.count() == 1; }));
        QCOMPARE(ids.at(0), QVariantList({QString(), localId}));

        if (outcome == "removed") {
            QVERIFY(QTest::qWaitFor([&] { return !model->contains(localId); }));
            QVERIFY(!storedIds(t).contains(localId));
            QCOMPARE(server.ownWallpaperCount(), 0);
            return;
        }
        if (outcome == "retried") {
            QVERIFY(QTest::qWaitFor([&] { return handler->failedUploads() == QStringList{localId}; }));
            QVERIFY(item->unsynced() && model->contains(localId));
            server.clearFaults();
            handler->reuploadFailed();
        }
        QVERIFY(QTest::qWaitFor([&] { return ids.count() == 2; }));
        const QString serverId = ids.at(1).at(1).toString();
        QCOMPARE(ids.at(1).at(0).toString(), localId);
        QVERIFY(!item->unsynced() && item->wallpaperId() == serverId);
        QCOMPARE(model->getItemById(serverId), item);
        QVERIFY(!model->contains(localId) && handler->failedUploads().isEmpty());
        QCOMPARE(server.ownWallpaperCount(), 1);
        const QStringList stored = storedIds(t);
        QVERIFY(stored.contains(serverId) && !stored.contains(localId));
        QVERIFY(t.account->storage()->wallpaperStorage()->info(serverId).synced);
    }

    void cancellingStopsTheWallpaperWhereverItIs_data()
    {
        QTest::addColumn<bool>("duringSave");
        QTest::newRow("while uploading") << false;
        QTest::newRow("while saving") << true;
    }

    void cancellingStopsTheWallpaperWhereverItIs()
    {
        QFETCH(bool, duringSave);
        SimServer server;
        server.setLatency(30);
        TestAccount t(m_dir.path(), accountId(), server.connectDevice(1, "A", "desktop"));
        QVERIFY(t.start());
        WallpaperHandler* handler = t.account->wallpaperHandler();
        QVERIFY(QTest::qWaitFor([handler] { return !handler->isLocalLoading(); }));
        WallpaperItem* item = handler->add(media::writeImage(m_dir.filePath("cancel.png"), QSize(640, 480)));
        QVERIFY(item);
        const QString localId = item->wallpaperId();
        QVERIFY(QTest::qWaitFor([&] { return handler->wallpaperModel()->contains(localId); }));
        if (duringSave)
            QVERIFY(QTest::qWaitFor([&] { return server.requestCount(242) == 1; }));
        handler->cancelUpload(localId);
        QVERIFY(!handler->wallpaperModel()->contains(localId));
        QVERIFY(QTest::qWaitFor([&] {
            return t.account->refFileManager()->pendingTransfers() == 0 &&
                   handler->cancelledUploads().isEmpty() && server.requestCount(243) == (duringSave ? 1 : 0);
        }));
        QVERIFY(QTest::qWaitFor([&] { return server.ownWallpaperCount() == 0; }));
        QCOMPARE(server.requestCount(242), duringSave ? 1 : 0);
        QVERIFY(storedIds(t).isEmpty() || !storedIds(t).contains(localId));
    }

    // A failed upload, and a delete the server never answered, go again after a restart.
    void aFailedUploadIsRetriedAfterARestart()
    {
        SimServer server;
        const QString id = accountId();
        QString localId;
        {
            TestAccount t(m_dir.path(), id, server.connectDevice(1, "A", "desktop"));
            QVERIFY(t.start());
            WallpaperHandler* handler = t.account->wallpaperHandler();
            server.failCommand(FileUploadChunk, 503);
            QVERIFY(QTest::qWaitFor([handler] { return !handler->isLocalLoading(); }));
            localId =
                handler->add(media::writeImage(m_dir.filePath("later.png"), QSize(320, 240)))->wallpaperId();
            QVERIFY(QTest::qWaitFor([&] { return handler->failedUploads() == QStringList{localId}; }));
            QVERIFY(QTest::qWaitFor([handler] { return handler->wallpaperModel()->contains("preset-sea"); }));
            server.dropCommand(243, 1);
            handler->deleteWallpaper("preset-sea");
            QVERIFY(QTest::qWaitFor([&] { return server.requestCount(243) == 1; }));
        }
        server.clearFaults();
        TestAccount t(m_dir.path(), id, server.connectDevice(1, "A", "desktop"));
        QVERIFY(t.start());
        WallpaperModel* model = t.account->wallpaperHandler()->wallpaperModel();
        QVERIFY(
            QTest::qWaitFor([&] { return server.ownWallpaperCount() == 1 && !model->contains(localId); }));
        const QString serverId = server.wallpapers()->ids().last();
        QVERIFY(QTest::qWaitFor([&] { return model->contains(serverId); }));
        QVERIFY(!model->getItemById(serverId)->unsynced());
        QVERIFY(QTest::qWaitFor([&] { return !server.wallpapers()->ids().contains("preset-sea"); }));
        QVERIFY(!model->contains("preset-sea"));
    }

    void clearingWhileTheLoadRuns()
    {
        const QString id = accountId();
        {
            TestAccount t(m_dir.path(), id);
            QList<storage::WallpaperInfo> many;
            for (int i = 0; i < 3000; ++i) {
                const QString wid = QStringLiteral("w%1").arg(i);
                many.append({wid, bytesOf(serverWallpaper(wid, i)), true, i});
            }
            QVERIFY(t.account->storage()->wallpaperStorage()->save(many));
        }
        TestAccount t(m_dir.path(), id);
        WallpaperHandler* handler = t.account->wallpaperHandler();
        QSignalSpy counts(handler->wallpaperModel(), &WallpaperModel::countChanged);
        handler->initData();
        handler->loadLocalData(false);
        handler->prepareToClearData(false);
        handler->clearData(false);
        QThreadPool::globalInstance()->waitForDone();
        QVERIFY(ThreadManager::getInstance()->waitForIdle());
        QCoreApplication::processEvents();
        QCOMPARE(handler->wallpaperModel()->count(), 0);
        QCOMPARE(counts.count(), 0);
        QCOMPARE(storedIds(t).size(), 3000);
    }
};

SETTINGMODEL_TEST_MAIN(TestWallpapers)
#include "tst_wallpapers.moc"
