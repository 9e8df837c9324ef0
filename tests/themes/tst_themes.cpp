// Theme records, the theme and colour-circle lists, the built-in themes and the theme handler.
#include "host/accountmanager.h"
#include "host/accountsettingmodel.h"
#include "host/appsettingmodel.h"
#include "host/emojiparser.h"
#include "host/jsonutil.h"
#include "host/threadmanager.h"
#include "im/chat.pb.h"
#include "im/file.pb.h"
#include "im/misc.pb.h"
#include "preferences/sharedpreferencemodel.h"
#include "protohelpers.h"
#include "refstores.h"
#include "secretwatch.h"
#include "testaccount.h"
#include "themes/themehandler.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kPlainId = QStringLiteral("830c1eb313fa4553a1641e685a9d41cf");
const QString kHomeId = QStringLiteral("0ca8574aaf934804a3bac940e242ceaa");

im::Theme themeMessage(const QString& id, qint64 createTime, const QString& name, bool withDark = true)
{
    ThemeItem theme(ThemeHandler::getPresetThemeData(0), createTime);
    theme.setName(name);
    if (!withDark)
        theme.setDark(nullptr);
    im::Theme message;
    theme.serialize(&message);
    message.set_id(id.toStdString());
    return message;
}

QByteArray recordOf(const im::Theme& message)
{
    return bytesOf(message).toBase64();
}

QStringList namesOf(const ThemeModel* model)
{
    QStringList names;
    for (const ThemeItem* theme : model->themes())
        names.append(theme->name());
    return names;
}

QList<int> idsOf(const ColorCircleModel* model)
{
    QList<int> ids;
    for (const ColorCircleItem* circle : model->items())
        ids.append(circle->colorId());
    return ids;
}

// The theme records this device sent, in order.
QList<im::SharedPreference> sentThemes(ScriptedTransport* transport)
{
    QList<im::SharedPreference> out;
    const QList<ScriptedTransport::Request> requests = transport->requests(180);
    for (const auto& request : requests) {
        const auto req = parsed<im::misc::UpdateSharedPreferencesV2Req>(request.body);
        for (const auto& record : req.preferences()) {
            if (record.type() == SharedPreferenceModel::Theme)
                out.append(record);
        }
    }
    return out;
}

} // namespace

class TestThemes : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_run = 0;

    QString accountId() { return QStringLiteral("t%1").arg(++m_run); }

    std::unique_ptr<TestAccount> started(const QVariantMap& legacy = {})
    {
        auto t = std::make_unique<TestAccount>(m_dir.path(), accountId());
        t->account->refAccountSettingModel()->setLegacyAppearance(legacy);
        if (!t->start())
            return nullptr;
        ThemeHandler* themes = t->account->themeHandler();
        if (!QTest::qWaitFor(
                [themes] { return themes->currentTheme() && themes->themeModel()->count() == 5; }))
            return nullptr;
        return t;
    }

private slots:
    void initTestCase() { QSettings().clear(); }

    void cleanup() { QSettings().clear(); }

    // ---- records ----

    void builtInThemesAndTheirImages()
    {
        QVERIFY(ThemeHandler::getPresetThemeData(5).isEmpty() &&
                ThemeHandler::getPresetThemeData(-1).isEmpty());
        const ThemeItem plain(ThemeHandler::getPresetThemeData(4), 6);
        QCOMPARE(plain.light()->themeColors(), QStringList{"#26B36D"});
        QCOMPARE(plain.light()->themeColorValues().size(), 1);
        QCOMPARE(plain.dark()->wallpaperItem()->bgColors(), QStringList{"#000000"});
        QVERIFY(plain.preset() && !plain.light()->wallpaperItem()->hasPattern());

        const QString snow = ThemeHandler::patternPathWithId("0e1adfd2c6154fb08054b1b400638f5b");
        QCOMPARE(snow, QStringLiteral("qrc:/resource/image/background/snow.png"));
        QVERIFY(ThemeHandler::patternPathWithId("unknown").isEmpty());
        // The shipped pattern is an application resource the wallpaper can read.
        const ThemeItem home(ThemeHandler::getPresetThemeData(0), 10);
        const WallpaperItem* pattern = home.light()->wallpaperItem();
        QVERIFY(pattern->internalPattern() && pattern->hiPhoto()->fileExist());
        QCOMPARE(pattern->wallpaperId(), QStringLiteral("a65e7ceea9c244438a99310f0f20ad93"));

        QCOMPARE(EmojiParser::emojiByIndex(0), QString::fromUcs4(U"\U0001F600"));
        QVERIFY(EmojiParser::emojiCount() > 3000);
        QCOMPARE(EmojiParser::emojiByIndex(EmojiParser::emojiCount()), EmojiParser::emojiByIndex(0));
        QVERIFY(EmojiParser::emojiByIndex(-1).isEmpty());
    }

    void themeFormsAndOrder()
    {
        TestAccount t(m_dir.path(), accountId());
        ThemeItem game(ThemeHandler::getPresetThemeData(3), 7);
        im::Theme message;
        game.serialize(&message);
        ThemeItem back(t.account, game.themeId(), message);
        QCOMPARE(back.name(), game.name());
        QCOMPARE(back.light()->themeColors(), QStringList{"#FF8058"});
        QCOMPARE(back.dark()->messageColors().size(), 4);
        QCOMPARE(back.light()->wallpaperItem()->bgColors(), game.light()->wallpaperItem()->bgColors());
        QVERIFY(!back.preset() && back.createTime() == 7);

        // A colour name that does not parse is refused: the colours stay as they were.
        const QList<int> values = back.light()->themeColorValues();
        for (const QStringList& bad :
             {QStringList{"not a colour"}, QStringList{"#GGGGGG"}, QStringList{""}}) {
            back.light()->setThemeColors(bad);
            back.light()->setMessageColors(bad);
        }
        QCOMPARE(back.light()->themeColorValues(), values);
        QCOMPARE(back.light()->themeColors(), QStringList{"#FF8058"});
        QCOMPARE(back.light()->messageColors(), game.light()->messageColors());

        // A half that is gone is gone from the message too.
        game.setDark(nullptr);
        game.serialize(&message);
        QVERIFY(message.has_light() && !message.has_dark());

        ThemeItem a(ThemeHandler::getPresetThemeData(1), 5);
        ThemeItem b(ThemeHandler::getPresetThemeData(2), 5);
        QCOMPARE(a.themeId() > b.themeId(), ThemeItem::before(a, b));
        QVERIFY(!(a == b));
        b.setCreateTime(6);
        QVERIFY(b < a && a > b);
    }

    void updatesAndWallpaperEditing()
    {
        TestAccount t(m_dir.path(), accountId());
        ThemeItem theme(ThemeHandler::getPresetThemeData(0), 10);
        ThemeComponentItem* light = theme.light();
        QSignalSpy edits(light, &ThemeComponentItem::editWallpaperChanged);

        // A pattern picked while editing is kept by clearPhoto() and dropped by clearPhoto(true).
        theme.createEditWallpaper();
        WallpaperItem other(t.account, true);
        other.setHasPattern(true);
        light->updatePattern(&other);
        light->clearPhoto();
        QVERIFY(light->editWallpaper()->hasPattern());
        light->clearPhoto(true);
        QVERIFY(!light->editWallpaper()->hasPattern());
        // Cancelling copies the live wallpaper again.
        theme.cancelEditWallpaper();
        QVERIFY(light->editWallpaper()->hasPattern() && light->editWallpaper() != light->wallpaperItem());
        theme.editWallpaperFinish();
        QVERIFY(!light->editWallpaper());
        QVERIFY(edits.count() >= 1);

        // An update without a light half drops it; the update marks the theme modified.
        QSignalSpy halves(&theme, &ThemeItem::lightChanged);
        im::Theme noLight = themeMessage(theme.themeId(), 10, QStringLiteral("renamed"));
        noLight.clear_light();
        theme.update(t.account, noLight);
        QVERIFY(!theme.light() && theme.dark() && theme.modified());
        QCOMPARE(halves.count(), 1);

        // Resetting to the built-in theme brings the half back and clears the mark.
        const ThemeItem reference(ThemeHandler::getPresetThemeData(0), 10);
        theme.resetThemeTo(&reference);
        QVERIFY(theme.light() && !theme.modified());
        QCOMPARE(theme.name(), reference.name());
    }

    void themeListOrderAndRecords()
    {
        TestAccount t(m_dir.path(), accountId());
        ThemeModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (qint64 time : {5, 9, 7})
            model.sortItem(t.account, QStringLiteral("id%1").arg(time),
                           themeMessage({}, time, QString::number(time)));
        QCOMPARE(namesOf(&model), QStringList({"9", "7", "5"}));
        QVERIFY(!model.itemByIndex(-1) && !model.itemByIndex(model.count()));
        QVERIFY(model.hasThemeName("7") && !model.hasThemeName("7 "));

        QSignalSpy counts(&model, &ThemeModel::countChanged);
        model.remove(QString());
        model.remove(QStringLiteral("unknown"));
        QCOMPARE(counts.count(), 0);

        // The same id and time update the row in place.
        model.sortItem(t.account, QStringLiteral("id7"), themeMessage({}, 7, QStringLiteral("seven")));
        QCOMPARE(namesOf(&model), QStringList({"9", "seven", "5"}));
        QVERIFY(model.itemById(QStringLiteral("id7"))->modified());

        // Records that are not Base64 of a theme are skipped; the others still count.
        ThemeModel builtIn;
        builtIn.insert(new ThemeItem(ThemeHandler::getPresetThemeData(0), 10));
        model.deserialize(t.account, &builtIn,
                          {{QStringLiteral("bad"), QByteArray("not base64 !")},
                           {QStringLiteral("junk"), QByteArray("AAAA")},
                           {QStringLiteral("id3"), recordOf(themeMessage({}, 3, QStringLiteral("three")))},
                           {kHomeId, recordOf(themeMessage({}, 10, QStringLiteral("my home")))}});
        QCOMPARE(namesOf(&model), QStringList({"9", "seven", "5", "three"}));
        QCOMPARE(builtIn.itemById(kHomeId)->name(), QStringLiteral("my home"));

        ThemeModel copy;
        copy.reset(&model);
        QCOMPARE(namesOf(&copy), namesOf(&model));
        model.remove(QStringLiteral("id9"));
        QCOMPARE(model.count(), 3);
    }

    void colourCircles()
    {
        TestAccount t(m_dir.path(), accountId());
        ColorCircleModel circles(t.account);
        QAbstractItemModelTester tester(&circles, QAbstractItemModelTester::FailureReportingMode::QtTest);
        circles.load(nullptr);
        QCOMPARE(idsOf(&circles), QList<int>({0, 1, 2, 3, 10, 11, 12, 13, 14, 15, 16}));
        QVERIFY(circles.itemByColorId(0)->preset() && !circles.itemByColorId(1)->preset());
        QCOMPARE(circles.itemByColorId(16)->dark()->messageColors(), QStringList{"#B24577"});
        QCOMPARE(circles.indexByColorId(99), -1);

        const ThemeItem game(ThemeHandler::getPresetThemeData(3), 7);
        circles.load(&game);
        QCOMPARE(circles.count(), 12);
        circles.resetOrder();
        QCOMPARE(idsOf(&circles).first(), 4); // the current theme's colours, made first
        QCOMPARE(circles.itemByColorId(4)->light()->themeColors(), QStringList{"#FF8058"});

        // A new circle takes the first free id above the built-in ones and is shown first.
        circles.add(const_cast<ThemeItem*>(&game));
        circles.saveNew();
        QCOMPARE(circles.currentColorId(), 17);
        QCOMPARE(idsOf(&circles).first(), 17);
        QCOMPARE(t.account->accountSettingModel()->selectColorCircleId(), 17);
        circles.resetOrder();
        QCOMPARE(idsOf(&circles).first(), 4);
        circles.remove(2);
        const QList<int> order = idsOf(&circles);

        // What was stored loads back in the same order.
        ColorCircleModel again(t.account);
        again.load(nullptr);
        QCOMPARE(idsOf(&again), order);
        QCOMPARE(again.currentColorId(), 17);

        // A colour that is no colour name is refused, and a stored circle holding one is skipped.
        ColorCircleComponentItem* light = again.itemByColorId(17)->light();
        const QStringList colours = light->themeColors();
        for (const QStringList& bad : {QStringList{"#GGGGGG"}, QStringList{""}, QStringList{"#1234"}})
            light->setThemeColors(bad);
        QCOMPARE(light->themeColors(), colours);
        QVariantList stored = jsonToList(t.account->accountSettingModel()->colorCircles());
        QVariantMap damaged = stored.first().toMap();
        damaged.insert(QStringLiteral("id"), 40);
        damaged.insert(QStringLiteral("light"),
                       QVariantMap{{QStringLiteral("theme"), QStringList{"#XYZXYZ"}}});
        stored.append(damaged);
        t.account->accountSettingModel()->updateColorCircles(listToJson(stored));
        ColorCircleModel skipping(t.account);
        skipping.load(nullptr);
        QCOMPARE(idsOf(&skipping), order);

        // Cleared, a bound count hears of it.
        QSignalSpy counts(&skipping, &ColorCircleModel::countChanged);
        skipping.clear();
        QCOMPARE(counts.count(), 1);
    }

    // ---- the handler ----

    void migrationOfTheOlderAppearance_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<QStringList>("light");
        QTest::addColumn<QStringList>("dark");
        // Accent #3366CC blended 25% with white at 70% and with black at 30%.
        QTest::newRow("no gradient") << ""
                                     << "" << QStringList{"#5781D5"} << QStringList{"#2F5EBD"};
        QTest::newRow("end only") << ""
                                  << "#112233" << QStringList{"#112233"} << QStringList{"#112233"};
        QTest::newRow("start only") << "#FF0000"
                                    << "" << QStringList{"#FF2D2D"} << QStringList{"#EC0000"};
        QTest::newRow("both") << "#FF0000"
                              << "#00FF00" << QStringList{"#FF0000", "#00FF00"}
                              << QStringList{"#FF0000", "#00FF00"};
    }

    void migrationOfTheOlderAppearance()
    {
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFETCH(QStringList, light);
        QFETCH(QStringList, dark);
        const QString id = QStringLiteral("t%1").arg(m_run + 1);
        QSettings settings;
        settings.setValue("appearance/themeColor", "#3366CC");
        if (!start.isEmpty())
            settings.setValue("appearance/gradientStartColor", start);
        if (!end.isEmpty())
            settings.setValue("appearance/gradientColor", end);
        auto t = started({{QStringLiteral("chat_background_color"), QStringLiteral("#EEEEEE")},
                          {QStringLiteral("chat_background_blur"), QStringLiteral("3")}});
        QVERIFY(t);
        ThemeHandler* themes = t->account->themeHandler();
        const ThemeItem* current = themes->currentTheme();
        QCOMPARE(current->themeId(), QStringLiteral("a8759dcc9ece4555889d2694136276de"));
        QCOMPARE(current->light()->themeColors(), QStringList{"#3366CC"});
        QCOMPARE(current->light()->messageColors(), light);
        QCOMPARE(current->dark()->messageColors(), dark);
        QCOMPARE(current->light()->wallpaperItem()->bgColors(), QStringList{"#EEEEEE"});
        QCOMPARE(current->light()->wallpaperItem()->blur(), 3);
        // Stored as a theme record, so it is listed as the user's own.
        QVERIFY(t->prefs->getTypeValues(SharedPreferenceModel::Theme).contains(current->themeId()));
        QVERIFY(themes->customThemeModel()->contains(current->themeId()));

        // Made once: the next start shows the same theme, and the older settings are gone.
        const QString name = current->name();
        t.reset();
        TestAccount again(m_dir.path(), id);
        QVERIFY(!again.account->accountSettingModel()->containsCustomThemeInfo());
        QVERIFY(again.start());
        ThemeHandler* reloaded = again.account->themeHandler();
        QVERIFY(QTest::qWaitFor([reloaded] { return reloaded->themeModel()->count() == 5; }));
        QCOMPARE(reloaded->currentTheme()->name(), name);
        QCOMPARE(reloaded->customThemeModel()->count(), 1);
    }

    void withoutOlderSettingsThePlainThemeIsCurrent()
    {
        const auto t = started();
        QVERIFY(t);
        ThemeHandler* themes = t->account->themeHandler();
        QCOMPARE(themes->currentTheme()->themeId(), kPlainId);
        QCOMPARE(themes->customThemeModel()->count(), 0);
        QCOMPARE(themes->colorCircleModel()->count(), 11);
        QVERIFY(themes->inValidThemeName(QString()));
        QVERIFY(themes->inValidThemeName(themes->themeModel()->itemByIndex(0)->name()));
        const QString name = themes->generateThemeName();
        QVERIFY(!name.isEmpty() && !themes->inValidThemeName(name));
    }

    void customThemesStopAtTen()
    {
        const auto t = started();
        QVERIFY(t);
        ThemeHandler* themes = t->account->themeHandler();
        for (int i = 0; i < ThemeHandler::kMaxCustomThemes; ++i) {
            ThemeItem* made = themes->createTheme(themes->themeModel()->itemByIndex(0));
            made->setName(QStringLiteral("mine %1").arg(i));
            t->now += 1;
            themes->syncCustomTheme();
        }
        QCOMPARE(themes->customThemeModel()->count(), ThemeHandler::kMaxCustomThemes);
        const QList<im::SharedPreference> sent = sentThemes(t->transport);
        QCOMPARE(sent.size(), ThemeHandler::kMaxCustomThemes);
        im::Theme first;
        QVERIFY(first.ParseFromString(
            QByteArray::fromBase64(QByteArray::fromStdString(sent.first().value())).toStdString()));
        QCOMPARE(first.name(), std::string("mine 0"));
        QCOMPARE(QString::fromStdString(sent.first().key()), QString::fromStdString(first.id()));

        // An eleventh is neither listed nor stored, made new or saved as an edit.
        themes->createTheme(themes->themeModel()->itemByIndex(0));
        themes->syncCustomTheme();
        themes->syncEditTheme();
        QCOMPARE(themes->customThemeModel()->count(), ThemeHandler::kMaxCustomThemes);
        QCOMPARE(sentThemes(t->transport).size(), ThemeHandler::kMaxCustomThemes);

        // An edit of a listed one is saved over it.
        ThemeItem* edited = themes->editTheme(themes->customThemeModel()->itemByIndex(0));
        edited->setName(QStringLiteral("renamed"));
        themes->syncEditTheme();
        QVERIFY(themes->customThemeModel()->hasThemeName(QStringLiteral("renamed")));
        QCOMPARE(themes->customThemeModel()->count(), ThemeHandler::kMaxCustomThemes);
        themes->removeTheme(themes->customThemeModel()->itemByIndex(0)->themeId());
        QCOMPARE(themes->customThemeModel()->count(), ThemeHandler::kMaxCustomThemes - 1);
        QVERIFY(sentThemes(t->transport).last().value().empty());
    }

    // A save takes the edit theme: a second click is refused until it ends, and a copy the server
    // refuses gives the edit back as it was, wallpapers included, and tells the user.
    void savesOfAnEditTheme()
    {
        const auto t = started();
        QVERIFY(t);
        ThemeHandler* themes = t->account->themeHandler();
        const auto ownWallpaper = [&t](const char* fileId) {
            im::WallPaper message;
            message.set_id(fileId);
            message.mutable_photo_set()->mutable_hi_res()->set_file_id(fileId);
            return std::make_unique<WallpaperItem>(t->account, message);
        };
        const auto copies = [](const QHash<QString, QString>& oldToNew) {
            im::file::DuplicateFilesResp resp;
            for (auto it = oldToNew.cbegin(); it != oldToNew.cend(); ++it)
                (*resp.mutable_old_to_new())[it.key().toStdString()] = it.value().toStdString();
            return bytesOf(resp);
        };
        const int sentBefore = int(sentThemes(t->transport).size());

        // The halves of this theme have no wallpaper: one chosen for a half is kept at save.
        im::Theme bareMessage = themeMessage(QStringLiteral("bare"), 1, QStringLiteral("bare"));
        bareMessage.mutable_light()->clear_wallpaper();
        bareMessage.mutable_dark()->clear_wallpaper();
        ThemeItem bare(t->account, QStringLiteral("bare"), bareMessage);
        ThemeItem* made = themes->createTheme(&bare);
        QVERIFY(!made->light()->wallpaperItem());
        const auto first = ownWallpaper("f1");
        themes->setWallpaper(true, first.get());
        themes->syncCustomTheme();
        themes->syncCustomTheme();
        QVERIFY(QTest::qWaitFor([&t] { return t->transport->count(1004) == 1; }));
        QVERIFY(!themes->editingTheme());
        QVERIFY(t->transport->answerNext(1004, 3));
        QVERIFY(QTest::qWaitFor([&] { return lastReportedError() == QStringLiteral("theme_save_failed"); }));
        QCOMPARE(themes->editingTheme(), made);
        QCOMPARE(made->light()->wallpaperItem()->hiPhoto()->fileId(), QStringLiteral("f1"));
        QCOMPARE(themes->customThemeModel()->count(), 0);

        themes->syncCustomTheme();
        QVERIFY(QTest::qWaitFor([&t] { return t->transport->count(1004) == 2; }));
        QVERIFY(t->transport->answerNext(1004, 0, copies({{"f1", "f2"}})));
        QVERIFY(QTest::qWaitFor([themes] { return themes->customThemeModel()->count() == 1; }));
        ThemeItem* mine = themes->customThemeModel()->itemByIndex(0);
        QCOMPARE(mine, made);
        QCOMPARE(mine->light()->wallpaperItem()->hiPhoto()->fileId(), QStringLiteral("f2"));
        QVERIFY(!mine->light()->editWallpaper());
        QCOMPARE(sentThemes(t->transport).size(), sentBefore + 1);

        // A double save of an edit copies once and keeps the wallpaper it had on the other half.
        themes->editTheme(themes->customThemeModel()->itemByIndex(0));
        const auto second = ownWallpaper("f3");
        themes->setWallpaper(false, second.get());
        themes->syncEditTheme();
        themes->syncEditTheme();
        QVERIFY(QTest::qWaitFor([&t] { return t->transport->count(1004) == 3; }));
        QVERIFY(t->transport->answerNext(1004, 0, copies({{"f2", "f4"}, {"f3", "f5"}})));
        QVERIFY(QTest::qWaitFor([&] { return sentThemes(t->transport).size() == sentBefore + 2; }));
        QVERIFY(!themes->editingTheme());
        QCOMPARE(mine->light()->wallpaperItem()->hiPhoto()->fileId(), QStringLiteral("f4"));
        QCOMPARE(mine->dark()->wallpaperItem()->hiPhoto()->fileId(), QStringLiteral("f5"));

        // Removing a theme keeps the cached images the current theme still shows.
        const QString cached = m_dir.filePath(QStringLiteral("f4.jpg"));
        QVERIFY(QFile(cached).open(QIODevice::WriteOnly));
        mine->light()->wallpaperItem()->hiPhoto()->setCacheFilePath(cached);
        themes->setCurrentTheme(mine);
        themes->removeTheme(mine->themeId());
        QCOMPARE(themes->customThemeModel()->count(), 0);
        QVERIFY(QFile::exists(cached));
    }

    // Colours chosen here wait five seconds before they go: kept across a restart, put back over
    // another device's record meanwhile, flushed at sign-out before the store is cleared. A record
    // of a built-in theme never lands in the user's own, not even before the lists exist; another
    // device's newer write that wins over this device's shows in the lists.
    void coloursAndRecordsWhileTheyWait()
    {
        const QString id = accountId();
        {
            TestAccount before(m_dir.path(), id);
            ThemeHandler* early = before.account->themeHandler();
            early->loadLocalData(false);
            early->updateTheme(kHomeId, recordOf(themeMessage(kHomeId, 10, QStringLiteral("early"))));
            QVERIFY(QTest::qWaitFor([early] { return early->themeModel()->count() == 5; }));
            QCOMPARE(early->customThemeModel()->count(), 0);
            // A client closed within the window left this behind.
            before.account->accountSettingModel()->setPendingThemeColors(
                mapToJson({{kHomeId, QVariantList{12, 13}}}));
        }
        TestAccount t(m_dir.path(), id);
        ThemeHandler* themes = t.account->themeHandler();
        QVERIFY(t.start());
        QVERIFY(QTest::qWaitFor([themes] { return themes->themeModel()->count() == 5; }));
        ThemeItem* home = themes->themeModel()->itemById(kHomeId);
        QCOMPARE(home->light()->themeColors(), QStringList{"#FF9431"});
        QCOMPARE(home->dark()->messageColors(), QStringList{"#5A8830"});
        QVERIFY(themes->isSyncScheduled());

        // Another device's record in the window: its name is taken, the colours chosen here stay.
        themes->updateTheme(kHomeId, recordOf(themeMessage(kHomeId, 10, QStringLiteral("theirs"))));
        QCOMPARE(home->name(), QStringLiteral("theirs"));
        QCOMPARE(home->light()->themeColors(), QStringList{"#FF9431"});
        // The server keeps another device's newer write: the list shows it.
        t.transport->setHandler(180, [](const ScriptedTransport::Request& request) {
            auto req = parsed<im::misc::UpdateSharedPreferencesV2Req>(request.body);
            im::misc::UpdateSharedPreferencesV2Resp resp;
            for (auto record : req.preferences()) {
                record.set_version(record.version() + 1000);
                record.set_value(recordOf(themeMessage(kHomeId, 10, QStringLiteral("newer"))).toStdString());
                *resp.add_preferences() = record;
            }
            return std::optional<ScriptedTransport::Reply>({0, bytesOf(resp)});
        });
        themes->onTimeout();
        QCOMPARE(sentThemes(t.transport).last().key(), kHomeId.toStdString());
        QVERIFY(t.account->accountSettingModel()->pendingThemeColors().isEmpty());
        QVERIFY(QTest::qWaitFor([home] { return home->name() == QStringLiteral("newer"); }));

        // Signed out within the window: the colours go before the store lets go.
        t.transport->removeHandler(180);
        themes->setCurrentTheme(home);
        themes->updateThemeWithColorCircle(12);
        QVERIFY(!t.account->accountSettingModel()->pendingThemeColors().isEmpty());
        const int sent = int(sentThemes(t.transport).size());
        t.composition->stop();
        QCOMPARE(sentThemes(t.transport).size(), sent + 1);
    }

    void aColourBurstIsSentOnce()
    {
        const auto t = started();
        QVERIFY(t);
        ThemeHandler* themes = t->account->themeHandler();
        const int before = sentThemes(t->transport).size();
        // A current theme that is not listed is saved here, with nothing to send.
        ThemeItem loose(t->account, QStringLiteral("loose"),
                        themeMessage(QStringLiteral("loose"), 1, QStringLiteral("loose")));
        themes->setCurrentTheme(&loose);
        themes->updateThemeWithColorCircle(11);
        QVERIFY(!themes->isSyncScheduled());
        QCOMPARE(themes->currentTheme()->light()->themeColors(), QStringList{"#EE5935"});

        themes->setCurrentTheme(themes->themeModel()->itemById(kHomeId));
        themes->updateThemeWithColorCircle(12);
        themes->updateThemeWithColorCircle(true, 13);
        themes->updateThemeWithColorCircle(99); // no such circle
        QVERIFY(themes->isSyncScheduled());
        QCOMPARE(sentThemes(t->transport).size(), before);
        themes->onTimeout();
        const QList<im::SharedPreference> sent = sentThemes(t->transport);
        QCOMPARE(sent.size(), before + 1);
        QCOMPARE(QString::fromStdString(sent.last().key()), kHomeId);
        QCOMPARE(parsed<im::misc::UpdateSharedPreferencesV2Req>(t->transport->requests(180).last().body)
                     .preferences_size(),
                 1);
        // Light from circle 12, dark from circle 13; the stored current theme says so too.
        const ThemeItem* row = themes->themeModel()->itemById(kHomeId);
        QCOMPARE(row->light()->themeColors(), QStringList{"#FF9431"});
        QCOMPARE(row->dark()->messageColors(), QStringList{"#5A8830"});
        im::Theme stored;
        QVERIFY(stored.ParseFromString(t->account->accountSettingModel()->currentTheme().toStdString()));
        QCOMPARE(stored.id(), kHomeId.toStdString());
    }

    void recordsFromOtherDevices()
    {
        const auto t = started();
        QVERIFY(t);
        ThemeHandler* themes = t->account->themeHandler();
        themes->updateTheme(kPlainId, recordOf(themeMessage(kPlainId, 6, QStringLiteral("plain, changed"))));
        QCOMPARE(themes->themeModel()->itemById(kPlainId)->name(), QStringLiteral("plain, changed"));
        // The current theme is the plain one: it follows, and is stored.
        QCOMPARE(themes->currentTheme()->name(), QStringLiteral("plain, changed"));
        // Deleted, the built-in theme comes back as it ships.
        themes->updateTheme(kPlainId, {});
        QCOMPARE(themes->themeModel()->itemById(kPlainId)->name(),
                 QString::fromUcs4(U"\U00002716\U0000FE0F"));

        themes->updateTheme(QStringLiteral("c1"), recordOf(themeMessage(QStringLiteral("c1"), 50,
                                                                        QStringLiteral("theirs"), false)));
        QCOMPARE(namesOf(themes->customThemeModel()), QStringList{"theirs"});
        QVERIFY(!themes->customThemeModel()->itemById(QStringLiteral("c1"))->dark());
        themes->updateTheme(QStringLiteral("c2"), "%%% not base64");
        themes->updateTheme(QStringLiteral("c3"), QByteArray("not a theme").toBase64());
        QCOMPARE(themes->customThemeModel()->count(), 1);
        themes->updateTheme(QStringLiteral("c1"), {});
        QCOMPARE(themes->customThemeModel()->count(), 0);
    }

    void aChatsThemeAndWallpaper()
    {
        const auto t = started();
        QVERIFY(t);
        ThemeHandler* themes = t->account->themeHandler();
        themes->syncDialogTheme(QStringLiteral("d1"), nullptr);
        t->account->setOnline(false);
        themes->syncDialogTheme(QStringLiteral("d1"), themes->currentTheme());
        QCOMPARE(t->transport->count(373), 0);
        t->account->setOnline(true);
        themes->syncDialogTheme(QStringLiteral("d1"), themes->themeModel()->itemById(kHomeId));
        auto req = parsed<im::chat::UpdateThemeReq>(t->transport->last(373)->body);
        QCOMPARE(req.dialog_id(), std::string("d1"));
        QCOMPARE(req.theme().id(), kHomeId.toStdString());
        QVERIFY(!req.theme().has_light() && !req.has_wallpaper());

        themes->removeDialogTheme(QStringLiteral("d1"));
        req = parsed<im::chat::UpdateThemeReq>(t->transport->last(373)->body);
        QVERIFY(req.has_theme() && req.theme().id().empty());

        // A wallpaper without files of its own goes as it is.
        themes->syncDialogWallpaper(QStringLiteral("d2"), themes->currentTheme()->dark()->wallpaperItem(),
                                    true);
        req = parsed<im::chat::UpdateThemeReq>(t->transport->last(373)->body);
        QVERIFY(req.both_sides() && req.has_wallpaper() && !req.has_theme());
        QCOMPARE(t->transport->count(373), 3);
    }
};

SETTINGMODEL_TEST_MAIN(TestThemes)
#include "tst_themes.moc"
