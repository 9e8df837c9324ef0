// What must hold when things go wrong: a device killed at any moment keeps every write it had
// reported as stored, in a database that is still whole; a sign-out in the middle of every
// kind of background work ends it cleanly.
#include "commands/settingservicecmd.h"
#include "host/constants.h"
#include "host/contacts.h"
#include "host/jsonutil.h"
#include "host/storage.h"
#include "im/misc.pb.h"
#include "media.h"
#include "notifications/groupmutedsettingmodel.h"
#include "notifications/ringtonemanager.h"
#include "notifications/ringtonemodel.h"
#include "notifications/ringtonesetting.h"
#include "preferences/sharedpreferencemodel.h"
#include "privacy/privacymodel.h"
#include "profilephotos/alternativeprofilephoto.h"
#include "protohelpers.h"
#include "refaccount.h"
#include "refcontacts.h"
#include "reffilemanager.h"
#include "secretwatch.h"
#include "settingmodel.h"
#include "simserver.h"
#include "testaccount.h"
#include "themes/themehandler.h"
#include "themes/themeitem.h"
#include "themes/thememodel.h"
#include "transport.h"
#include "wallpapers/wallpaperhandler.h"
#include "wallpapers/wallpaperitem.h"
#include "wallpapers/wallpapermodel.h"

#include <QAbstractItemModel>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaMethod>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// The variable's number, or the fallback when it is not set: 0 is a number (the soak's switches
// are turned off with it).
int envInt(const char* name, int fallback)
{
    bool set = false;
    const int value = qEnvironmentVariableIntValue(name, &set);
    return set ? value : fallback;
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

// The lists a device shows that are not plain preference values, each as one sorted text.
QByteArray joined(QStringList items)
{
    items.sort();
    return items.join(QLatin1Char(',')).toUtf8();
}

QByteArray wallpaperIds(TestAccount& t)
{
    QStringList ids;
    for (const WallpaperItemPtr& item : t.account->wallpaperHandler()->wallpaperModel()->items())
        ids.append(item->wallpaperId());
    return joined(ids);
}

QByteArray customThemes(TestAccount& t, bool withNames)
{
    const ThemeModel* custom = t.account->themeHandler()->customThemeModel();
    QStringList themes;
    for (int i = 0; i < custom->count(); ++i) {
        const ThemeItem* theme = custom->itemByIndex(i);
        const WallpaperItem* wallpaper = theme->light() ? theme->light()->wallpaperItem() : nullptr;
        // The name, the colours a circle gave it and its wallpaper's image, as a user sees them.
        themes.append(
            withNames ? theme->themeId() + QLatin1Char('=') + theme->name() + QLatin1Char(' ') +
                            theme->light()->themeColors().join('/') + QLatin1Char(' ') +
                            (wallpaper && wallpaper->hiPhoto() ? wallpaper->hiPhoto()->fileId() : QString())
                      : theme->themeId());
    }
    return joined(themes);
}

QByteArray photoKeys(TestAccount& t)
{
    QStringList keys;
    for (const ProfilePhotoItem* item : t.composition->alternativeProfilePhoto()->items())
        keys.append(item->key());
    return joined(keys);
}

QByteArray mutedGroups(TestAccount& t)
{
    QStringList ids;
    for (const GroupMutedSetting* setting : t.account->groupMutedSettingModel()->settings())
        ids.append(setting->dialogId() + (setting->reply() ? QStringLiteral("+") : QStringLiteral("-")));
    return joined(ids);
}

// The muted-group exceptions a notification value holds, as mutedGroups shows them.
QByteArray mutedGroupsIn(const QByteArray& notification)
{
    QStringList ids;
    const QJsonArray entries = QJsonDocument::fromJson(notification)
                                   .object()
                                   .value(QLatin1String("group"))
                                   .toObject()
                                   .value(QLatin1String("exceptionMention"))
                                   .toArray();
    for (const QJsonValue& entry : entries) {
        const QJsonObject object = entry.toObject();
        ids.append(object.value(QLatin1String("dialogID")).toVariant().toString() +
                   (object.value(QLatin1String("reply")).toVariant().toBool() ? QStringLiteral("+")
                                                                              : QStringLiteral("-")));
    }
    ids.sort();
    return joined(ids);
}

// File records of a device that none of its wallpapers, theme wallpapers, ringtones or photos use.
QStringList orphanedRecords(TestAccount& t)
{
    QSet<QString> used;
    QStringList ids;
    for (const WallpaperItemPtr& item : t.account->wallpaperHandler()->wallpaperModel()->items())
        item->getFileIds(ids);
    for (ThemeModel* model :
         {t.account->themeHandler()->themeModel(), t.account->themeHandler()->customThemeModel()}) {
        for (int i = 0; i < model->count(); ++i) {
            const ThemeItem* theme = model->itemByIndex(i);
            for (const ThemeComponentItem* half : {theme->light(), theme->dark()}) {
                if (half && half->wallpaperItem())
                    half->wallpaperItem()->getFileIds(ids);
            }
        }
    }
    for (const CustomRingtoneItem* item : t.account->ringtoneManager()->customRingtoneModel()->items())
        ids.append(item->fileId());
    for (const ProfilePhotoItem* item : t.composition->alternativeProfilePhoto()->items()) {
        for (const PhotoData* photo : {item->photoInfo(), item->srcPhotoInfo()}) {
            if (photo)
                ids.append(photo->fileId());
        }
    }
    used = QSet<QString>(ids.cbegin(), ids.cend());
    QStringList orphaned;
    for (const QString& id : t.account->refFileManager()->recordIds()) {
        if (!used.contains(id))
            orphaned.append(id);
    }
    return orphaned;
}

QByteArray ringtoneIds(TestAccount& t)
{
    QStringList ids;
    for (const CustomRingtoneItem* item : t.account->ringtoneManager()->customRingtoneModel()->items())
        ids.append(item->fileId());
    return joined(ids);
}

// What a device still has on its way to the server; empty once it has nothing.
QString unsettled(TestAccount& t)
{
    WallpaperHandler* wallpapers = t.account->wallpaperHandler();
    if (!wallpapers->failedUploads().isEmpty())
        return QStringLiteral("failed wallpaper uploads ") + wallpapers->failedUploads().join(',');
    if (wallpapers->isLocalLoading())
        return QStringLiteral("wallpapers loading");
    if (!wallpapers->deleting().isEmpty())
        return QStringLiteral("wallpaper deletes on their way ") + wallpapers->deleting().values().join(',');
    if (t.account->ringtoneManager()->isAdding())
        return QStringLiteral("a ringtone being added");
    if (t.composition->alternativeProfilePhoto()->modifying())
        return QStringLiteral("photos being changed");
    if (t.prefs->pendingEditCount() > 0)
        return QStringLiteral("%1 pending preference edits").arg(t.prefs->pendingEditCount());
    // A wallpaper the server refused for good is settled: the user was told, and deletes it.
    for (const WallpaperItemPtr& item : wallpapers->wallpaperModel()->items()) {
        if (item->unsynced() && !wallpapers->refusedUploads().contains(item->wallpaperId()))
            return QStringLiteral("unsynced wallpaper ") + item->wallpaperId();
    }
    for (int command : {SettingServiceCmd::ListSharedPreferences, SettingServiceCmd::UpdateSharedPreferences,
                        SettingServiceCmd::UpdatePrivacySetting, SettingServiceCmd::ListPrivacySettings}) {
        if (t.cmd->isInFlight(command))
            return QStringLiteral("command %1 in flight").arg(command);
    }
    return {};
}

} // namespace

class TestReliability : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
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
                QVERIFY2(spy->isEmpty(),
                         qPrintable(QStringLiteral("round %1: %2::%3 after sign-out")
                                        .arg(round)
                                        .arg(spy->objectName(), QString::fromLatin1(spy->signal()))));
            QVERIFY(integrityOk(t.account->databasePath()));
        }
        TestAccount fresh(dir.path(), QStringLiteral("switching"),
                          server.connectDevice(1, QStringLiteral("Desk"), QStringLiteral("desktop")));
        QVERIFY(fresh.start());
        QVERIFY(fresh.prefs->localDataLoaded());
        QVERIFY(QTest::qWaitFor(
            [&] { return !fresh.prefs->getKeyValue(QStringLiteral("notification")).isEmpty(); }));
    }

    // A seeded soak of SETTINGMODEL_SOAK_OPS random operations (1,000 by default; 10,000 for the
    // long run) on two devices of one user: preference writes, privacy switches, chat ringtones
    // and silences, with random latency, refused and dropped commands and offline periods. At
    // the end both devices and the server agree on all of it. SETTINGMODEL_SOAK_SEED replays.
    void twoDeviceSoak()
    {
        const int operations = envInt("SETTINGMODEL_SOAK_OPS", 1000);
        // SETTINGMODEL_SOAK_WIDE=0 leaves out muted-group edits, wallpaper resets and the
        // harder faults (answers lost after the request was carried out, requests carried out twice,
        // pushes ahead of their answer).
        const bool wide = envInt("SETTINGMODEL_SOAK_WIDE", 1) == 1;
        // A device starts again now and then while the other deletes; SETTINGMODEL_SOAK_RESTARTS=0
        // leaves that out.
        const bool restarts = envInt("SETTINGMODEL_SOAK_RESTARTS", 1) == 1;
        const quint32 seed = qEnvironmentVariableIsSet("SETTINGMODEL_SOAK_SEED")
                                 ? quint32(qEnvironmentVariableIntValue("SETTINGMODEL_SOAK_SEED"))
                                 : QRandomGenerator::global()->generate();
        qInfo("soak: %d operations, seed %u (SETTINGMODEL_SOAK_SEED=%u replays it)", operations, seed, seed);
        QRandomGenerator random(seed);
        QTemporaryDir dir;
        qint64 world = 1'760'000'000'000;
        SimServer server;
        server.setClock([&world] { return world; });
        std::unique_ptr<TestAccount> devices[2];
        // A device starts, or starts again on its own database.
        const auto startDevice = [&](int i) {
            devices[i].reset();
            devices[i] = std::make_unique<TestAccount>(
                dir.path(), QStringLiteral("soak-%1").arg(i),
                server.connectDevice(i + 1, QStringLiteral("Device %1").arg(i), QStringLiteral("desktop")));
            devices[i]->account->setClock([&world, i] { return world + i * 7; });
            devices[i]->account->setRequestTimeout(300);
            // A device starting without a network knows it, and hears when the network is back.
            devices[i]->account->setOnline(server.isDeviceOnline(i + 1));
            for (int g = 1; g <= 2; ++g)
                devices[i]->account->addDialog(
                    QStringLiteral("g%1").arg(g), true,
                    QSharedPointer<GroupModel>::create(g, QStringLiteral("Group %1").arg(g)));
            // The preset themes are listed once the theme handler's own load is in.
            ThemeHandler* themes = devices[i]->account->themeHandler();
            return devices[i]->start() &&
                   QTest::qWaitFor([themes] { return themes->themeModel()->count() > 0; },
                                   TestAccount::kWaitMs);
        };
        for (int i = 0; i < 2; ++i)
            QVERIFY(startDevice(i));
        // An old client of the same user, writing chat maps that still carry the exception flags.
        const std::unique_ptr<Transport> oldClient =
            server.connectDevice(3, QStringLiteral("Old client"), QStringLiteral("desktop"));
        oldClient->setPushHandler([](int, const QByteArray&) {});
        const QStringList folders{QStringLiteral("folder_1"), QStringLiteral("folder_2"),
                                  QStringLiteral("folder_3")};
        const QStringList chats{QStringLiteral("d1"), QStringLiteral("d2")};
        QStringList images;
        QStringList tones;
        for (int i = 0; i < 4; ++i) {
            images.append(media::writeImage(dir.filePath(QStringLiteral("soak%1.png").arg(i)),
                                            QSize(320, 240), QColor::fromHsv(i * 80, 160, 200)));
            tones.append(media::writeWav(dir.filePath(QStringLiteral("soak%1.wav").arg(i)), 400 + 100 * i));
        }
        QMap<QString, int> done;
        // Ringtones: the list fills up to its limit now and then; near it, both devices add at once.
        const auto ringtoneOp = [&](TestAccount& t) {
            RingtoneManager* ringtones = t.account->ringtoneManager();
            const auto items = ringtones->customRingtoneModel()->items();
            if (items.isEmpty() || (items.size() < RingtoneModel::kMaxItems && random.bounded(8) != 0)) {
                const bool both = wide && items.size() >= RingtoneModel::kMaxItems - 2;
                for (const auto& device : devices) {
                    if ((both || device.get() == &t) && !device->account->ringtoneManager()->isAdding())
                        device->account->ringtoneManager()->addRingtoneByPath(
                            tones.at(random.bounded(tones.size())));
                }
                ++done[both ? QStringLiteral("ringtone adds on both") : QStringLiteral("ringtone add")];
            } else {
                ringtones->deleteRingtone(items.at(random.bounded(items.size()))->fileId());
                ++done[QStringLiteral("ringtone delete")];
            }
        };
        for (int op = 0; op < operations; ++op) {
            TestAccount& t = *devices[random.bounded(2)];
            const int deviceId = &t == devices[0].get() ? 1 : 2;
            world += random.bounded(1, 50);
            server.setLatency(int(random.bounded(0, 8)));
            const int kind = int(random.bounded(100));
            if (kind < 30) {
                im::misc::UpdateSharedPreferencesV2Req req;
                t.prefs->chatFolder(req.add_preferences(), folders.at(random.bounded(folders.size())),
                                    "v" + QByteArray::number(op));
                t.prefs->updateSharedPreferences(req, true);
                ++done[QStringLiteral("preference")];
            } else if (kind < 36) {
                t.prefs->syncNotifySetting(R"({"sound":)" + QByteArray::number(op) + "}");
                ++done[QStringLiteral("notification")];
            } else if (kind < 42) {
                const bool on = random.bounded(2) == 1;
                if (random.bounded(2) == 0)
                    t.privacy->setFindMeByPhone(on);
                else
                    t.privacy->setEnableStrangerChat(on);
                ++done[QStringLiteral("privacy")];
            } else if (kind < 50) {
                t.account->ringtoneManager()->setChatSilence(chats.at(random.bounded(chats.size())),
                                                             random.bounded(2) == 1);
                ++done[QStringLiteral("chat silence")];
            } else if (kind < 56) {
                // Own wallpapers, unsynced ones too: the user's limit counts them (a screen stops
                // adding at it), and a device adds only while it has fewer than three.
                WallpaperHandler* wallpapers = t.account->wallpaperHandler();
                QStringList own;
                for (const WallpaperItemPtr& item : wallpapers->wallpaperModel()->items()) {
                    if (item->isOwner())
                        own.append(item->wallpaperId());
                }
                if (own.size() < 3) {
                    wallpapers->add(images.at(random.bounded(images.size())));
                    ++done[QStringLiteral("wallpaper add")];
                } else {
                    wallpapers->deleteWallpaper(own.at(random.bounded(own.size())));
                    ++done[QStringLiteral("wallpaper delete")];
                }
            } else if (kind < 62) {
                ThemeHandler* themes = t.account->themeHandler();
                ThemeModel* custom = themes->customThemeModel();
                const QString name = QStringLiteral("soak %1").arg(op);
                // A synced wallpaper of the user's own, for a theme's half (copied on the server).
                WallpaperItem* own = nullptr;
                for (const WallpaperItemPtr& item :
                     t.account->wallpaperHandler()->wallpaperModel()->items()) {
                    if (item->isOwner() && !item->unsynced())
                        own = item.data();
                }
                // Now and then the user clicks save twice.
                const bool twice = random.bounded(3) == 0;
                if (custom->count() < 3) {
                    if (ThemeItem* made = themes->createTheme(themes->themeModel()->itemByIndex(0))) {
                        made->setName(name);
                        if (own && random.bounded(2) == 0)
                            themes->setWallpaper(true, own);
                        themes->syncCustomTheme();
                        if (twice)
                            themes->syncCustomTheme();
                    }
                    ++done[QStringLiteral("theme add")];
                } else if (random.bounded(3) == 0) {
                    // A colour circle on one of the user's own themes, sent now or later.
                    themes->setCurrentTheme(custom->itemByIndex(int(random.bounded(custom->count()))));
                    themes->updateThemeWithColorCircle(int(random.bounded(10, 17)));
                    if (random.bounded(2) == 0)
                        themes->onTimeout();
                    ++done[QStringLiteral("theme colour")];
                } else if (random.bounded(2) == 0) {
                    themes->editTheme(custom->itemByIndex(int(random.bounded(custom->count()))))
                        ->setName(name);
                    if (own && random.bounded(2) == 0)
                        themes->setWallpaper(false, own);
                    themes->syncEditTheme();
                    if (twice)
                        themes->syncEditTheme();
                    ++done[QStringLiteral("theme edit")];
                } else {
                    themes->removeTheme(custom->itemByIndex(int(random.bounded(custom->count())))->themeId());
                    ++done[QStringLiteral("theme delete")];
                }
            } else if (kind < 68 || (wide && kind >= 86 && kind < 92)) {
                ringtoneOp(t);
            } else if (kind < 70) {
                // Photos added in quick succession, or one removed.
                AlternativeProfilePhoto* photos = t.composition->alternativeProfilePhoto();
                if (photos->rowCount() < 3) {
                    for (int n = 0; n < 2; ++n) {
                        const QString stem = dir.filePath(QStringLiteral("photo%1-%2").arg(op).arg(n));
                        photos->addPrfilePhoto(
                            {{QStringLiteral("loImagePath"),
                              media::writeImage(stem + QStringLiteral("-lo.jpg"), QSize(48, 48),
                                                QColor::fromHsv(op % 360, 200, 200))},
                             {QStringLiteral("hiImagePath"),
                              media::writeImage(stem + QStringLiteral("-hi.jpg"), QSize(160, 160),
                                                QColor::fromHsv(op % 360, 200, 200))}});
                    }
                    ++done[QStringLiteral("photo adds")];
                } else if (!photos->modifying()) {
                    photos->items().at(int(random.bounded(photos->rowCount())))->deletePhoto();
                    ++done[QStringLiteral("photo delete")];
                }
            } else if (kind < 73 && wide) {
                GroupMutedSettingModel* muted = t.account->groupMutedSettingModel();
                const QString group = QStringLiteral("g%1").arg(random.bounded(1, 3));
                if (random.bounded(3) == 0)
                    muted->deleteGroupNotification(group, true);
                else
                    muted->updateGroupNotification(group, random.bounded(2) == 1, true, false);
                ++done[QStringLiteral("muted group")];
            } else if (kind < 74 && wide) {
                // A reset, also while an upload or a save of the device's own is on its way.
                t.account->wallpaperHandler()->resetWallpaper();
                ++done[QStringLiteral("wallpaper reset")];
            } else if (kind < 76) {
                const bool online = !t.account->isOnline();
                server.setDeviceOnline(deviceId, online);
                t.account->setOnline(online);
                if (online) {
                    // What a client does when it is connected again: ask what it missed.
                    t.prefs->getNewData();
                    t.cmd->listPrivacySettings();
                    t.account->wallpaperHandler()->getNewData();
                }
                ++done[QStringLiteral("offline/online")];
            } else if (kind < 84) {
                // Refused, lost either way, carried out twice, or echoed ahead of the answer.
                const int commands[] = {SettingServiceCmd::UpdateSharedPreferences,
                                        SettingServiceCmd::UpdatePrivacySetting,
                                        SettingServiceCmd::ListSharedPreferences, 242, 243};
                const int command = commands[random.bounded(wide ? int(std::size(commands)) : 3)];
                switch (random.bounded(wide ? 5 : 2)) {
                case 0: server.failCommand(command, 500, 1); break;
                case 1: server.dropCommand(command, 1); break;
                case 2: server.loseAnswer(command, 1); break;
                case 3: server.handleTwice(command, 1); break;
                default: server.pushBeforeAnswer(command, 1); break;
                }
                ++done[QStringLiteral("fault")];
            } else if (kind < 86 && wide) {
                // Both devices migrate the old client's exception into the notification value.
                const QString group = QStringLiteral("g%1").arg(random.bounded(1, 3));
                im::misc::UpdateSharedPreferencesV2Req req;
                im::SharedPreference* record = req.add_preferences();
                record->set_key(QStringLiteral("ringtone_%1").arg(group).toStdString());
                record->set_type(SharedPreferenceModel::ChatRingtone);
                record->set_version(world);
                record->set_value(QJsonDocument(QJsonObject{{QStringLiteral("reply"), random.bounded(2) == 1},
                                                            {QStringLiteral("at"), true},
                                                            {QStringLiteral("atAll"), false},
                                                            {QStringLiteral("updateTime"), world}})
                                      .toJson(QJsonDocument::Compact)
                                      .toStdString());
                oldClient->send(SettingServiceCmd::UpdateSharedPreferences, bytesOf(req),
                                [](int, const QByteArray&) {}, false, {});
                ++done[QStringLiteral("old-client map")];
            } else if (kind == 99 && restarts) {
                // The device starts again; the other deletes meanwhile, and what it deleted must
                // not come back.
                TestAccount& other = *devices[2 - deviceId];
                for (const WallpaperItemPtr& item :
                     other.account->wallpaperHandler()->wallpaperModel()->items()) {
                    if (item->isOwner() && !item->unsynced()) {
                        other.account->wallpaperHandler()->deleteWallpaper(item->wallpaperId());
                        break;
                    }
                }
                const auto tonesThere = other.account->ringtoneManager()->customRingtoneModel()->items();
                if (!tonesThere.isEmpty())
                    other.account->ringtoneManager()->deleteRingtone(tonesThere.first()->fileId());
                QVERIFY(startDevice(deviceId - 1));
                ++done[QStringLiteral("restart")];
            } else {
                QTest::qWait(int(random.bounded(1, 20)));
                ++done[QStringLiteral("wait")];
            }
            QCoreApplication::processEvents();
        }
        qInfo("soak operations: %s", qPrintable([&done] {
                  QStringList parts;
                  for (auto it = done.cbegin(); it != done.cend(); ++it)
                      parts.append(QStringLiteral("%1 %2").arg(it.value()).arg(it.key()));
                  return parts.join(QStringLiteral(", "));
              }()));

        // Everyone connected, no more faults: unanswered edits go out, both ask what they missed;
        // colours chosen in the last five seconds go as they would.
        server.clearFaults();
        for (const auto& t : devices)
            t->account->themeHandler()->onTimeout();
        server.setLatency(1);
        for (int i = 0; i < 2; ++i) {
            server.setDeviceOnline(i + 1, true);
            devices[i]->account->setOnline(true);
        }
        const auto quiet = [&] {
            return unsettled(*devices[0]).isEmpty() && unsettled(*devices[1]).isEmpty();
        };
        const auto why = [&] {
            return QStringLiteral("seed %1: A %2; B %3; the server holds %4 own wallpapers")
                .arg(seed)
                .arg(unsettled(*devices[0]), unsettled(*devices[1]))
                .arg(server.ownWallpaperCount());
        };
        // Asking for news also uploads the wallpapers whose upload failed and sends the deletes
        // that did not go; a client asks again now and then, so one that failed only after one
        // asking is tried at the next.
        QTimer refresh;
        connect(&refresh, &QTimer::timeout, this, [&devices] {
            for (const auto& t : devices) {
                if (!t->account->wallpaperHandler()->failedUploads().isEmpty() ||
                    !t->account->wallpaperHandler()->unsentDeletes().isEmpty())
                    t->account->wallpaperHandler()->getNewData();
            }
        });
        refresh.start(300);
        QVERIFY2(QTest::qWaitFor(quiet, TestAccount::kWaitMs), qPrintable(why()));
        refresh.stop();
        // A wallpaper refused for good (its files went with another device's reset while it was
        // uploading) is deleted by the user, who was told.
        for (const auto& t : devices) {
            WallpaperHandler* wallpapers = t->account->wallpaperHandler();
            const QSet<QString> refused = wallpapers->refusedUploads();
            if (!refused.isEmpty())
                wallpapers->deleteWallpapers(QStringList(refused.cbegin(), refused.cend()));
        }
        QSignalSpy listedA(devices[0]->prefs, &SharedPreferenceBase::listFinished);
        QSignalSpy listedB(devices[1]->prefs, &SharedPreferenceBase::listFinished);
        for (const auto& t : devices) {
            t->prefs->getNewData();
            t->cmd->listPrivacySettings();
            t->account->wallpaperHandler()->getNewData();
            t->account->refUserManager()->refUserServiceCmd()->fetchAccountInfo(
                AlternativeProfilePhoto::kAccountInfoType);
        }
        QVERIFY2(QTest::qWaitFor([&] { return !listedA.isEmpty() && !listedB.isEmpty() && quiet(); },
                                 TestAccount::kWaitMs),
                 qPrintable(why()));

        const auto agree = [&](const QString& what, const QByteArray& a, const QByteArray& b,
                               const QByteArray& onServer) {
            QVERIFY2(a == b && b == onServer,
                     qPrintable(QStringLiteral("seed %1, %2: A %3, B %4, server %5")
                                    .arg(seed)
                                    .arg(what, QString::fromUtf8(a), QString::fromUtf8(b),
                                         QString::fromUtf8(onServer))));
        };
        const auto value = [&server](const QString& key, int type) {
            const auto record = server.preference(key, type);
            return record ? QByteArray::fromStdString(record->value()) : QByteArray();
        };
        for (const QString& key : folders) {
            const auto record = server.preference(key, SharedPreferenceModel::ChatFolder);
            agree(key + QStringLiteral(" (versions %1, %2, %3)")
                            .arg(devices[0]->prefs->keyVersion(key, SharedPreferenceModel::ChatFolder))
                            .arg(devices[1]->prefs->keyVersion(key, SharedPreferenceModel::ChatFolder))
                            .arg(record ? qint64(record->version()) : 0),
                  devices[0]->prefs->getKeyValue(key), devices[1]->prefs->getKeyValue(key),
                  value(key, SharedPreferenceModel::ChatFolder));
        }
        agree(QStringLiteral("notification"), devices[0]->prefs->getKeyValue(QStringLiteral("notification")),
              devices[1]->prefs->getKeyValue(QStringLiteral("notification")),
              value(QStringLiteral("notification"), SharedPreferenceModel::Notification));
        for (const QString& chat : chats) {
            const QString key = QStringLiteral("ringtone_") + chat;
            agree(key, devices[0]->prefs->getKeyValue(key), devices[1]->prefs->getKeyValue(key),
                  value(key, SharedPreferenceModel::ChatRingtone));
            const auto silent = [&chat](TestAccount& t) {
                const RingtoneSetting* setting = t.account->ringtoneManager()->getRingtoneSetting(chat);
                return QByteArray(setting && setting->silence() ? "silent" : "sounds");
            };
            agree(chat, silent(*devices[0]), silent(*devices[1]), silent(*devices[0]));
        }
        const QVariantMap privacy = server.privacySummary();
        for (const char* name : {"findMeByPhone", "enableStrangerChat"}) {
            const auto read = [name](TestAccount& t) {
                return t.privacy->property(name).toBool() ? QByteArray("on") : QByteArray("off");
            };
            agree(QLatin1String(name), read(*devices[0]), read(*devices[1]),
                  privacy.value(QLatin1String(name)).toBool() ? "on" : "off");
        }
        // The wallpaper list answers after the preferences' list: waited for, not assumed.
        QStringList onServer = server.wallpapers()->ids();
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         return wallpaperIds(*devices[0]) == joined(onServer) &&
                                wallpaperIds(*devices[1]) == joined(onServer);
                     },
                     TestAccount::kWaitMs),
                 qPrintable(QStringLiteral("seed %1, wallpapers: A %2, B %3, server %4")
                                .arg(seed)
                                .arg(QString::fromUtf8(wallpaperIds(*devices[0])),
                                     QString::fromUtf8(wallpaperIds(*devices[1])), onServer.join(','))));
        agree(QStringLiteral("themes"), customThemes(*devices[0], true), customThemes(*devices[1], true),
              customThemes(*devices[0], true));
        agree(QStringLiteral("theme ids"), customThemes(*devices[0], false), customThemes(*devices[1], false),
              joined(server.preferenceKeys(SharedPreferenceModel::Theme)));
        QStringList listed;
        for (const QVariant& entry : jsonToList(value(QLatin1String(hostkeys::CUSTOM_RINGTONE_LIST),
                                                      SharedPreferenceModel::CustomRingtoneList)))
            listed.append(entry.toMap().value(QStringLiteral("fileId")).toString());
        // Lists built off the main thread from the value the store took: waited for.
        const auto settled = [&](const QString& what, QByteArray (*read)(TestAccount&),
                                 const QByteArray& onServer) {
            // On a timeout the comparison below names what differs.
            if (!QTest::qWaitFor(
                    [&] { return read(*devices[0]) == onServer && read(*devices[1]) == onServer; },
                    TestAccount::kWaitMs))
                qWarning("%s did not settle", qPrintable(what));
            agree(what, read(*devices[0]), read(*devices[1]), onServer);
        };
        settled(QStringLiteral("ringtone list"), ringtoneIds, joined(listed));
        qInfo("custom ringtones at the end: %lld", qint64(listed.size()));
        if (wide)
            settled(
                QStringLiteral("muted groups"), mutedGroups,
                mutedGroupsIn(value(QStringLiteral("notification"), SharedPreferenceModel::Notification)));
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         return photoKeys(*devices[0]) == photoKeys(*devices[1]) &&
                                devices[0]->composition->alternativeProfilePhoto()->rowCount() ==
                                    server.alternativePhotoCount();
                     },
                     TestAccount::kWaitMs),
                 qPrintable(QStringLiteral("seed %1, photos: A %2, B %3, server %4")
                                .arg(seed)
                                .arg(QString::fromUtf8(photoKeys(*devices[0])),
                                     QString::fromUtf8(photoKeys(*devices[1])))
                                .arg(server.alternativePhotoCount())));
        QVERIFY(!photoKeys(*devices[0]).split(',').contains(QByteArray()) ||
                photoKeys(*devices[0]).isEmpty());

        // What is left behind: the user's files on the server that nothing there names, and the
        // file records of a device that nothing it lists uses.
        qInfo("files left on the server: %lld; file records left: A %lld, B %lld",
              qint64(server.unreferencedFiles().size()), qint64(orphanedRecords(*devices[0]).size()),
              qint64(orphanedRecords(*devices[1]).size()));
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
            QVERIFY(
                QTest::qWaitFor([&] { return writer.canReadLine() || writer.state() != QProcess::Running; },
                                TestAccount::kWaitMs));
            QCOMPARE(writer.readLine().trimmed(), QByteArray("ready"));
            if (round == 0) {
                // Another process holds the data while it runs.
                const RefAccount probe(QStringLiteral("crash"), dir.path(), nullptr);
                QCOMPARE(probe.storageState(), int(RefAccount::StorageInUse));
                QCOMPARE(probe.storageHolder(), writer.processId());
            }
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

            // The killed writer's lock is stale: the data is free again.
            TestAccount reopened(dir.path(), QStringLiteral("crash"));
            QCOMPARE(reopened.account->storageState(), int(RefAccount::StorageOk));
            QHash<QString, QByteArray> stored;
            for (const auto& row : reopened.account->storage()->sharedPreferenceStorage()->allInfos())
                stored.insert(row.key, row.value);
            for (auto it = preferences.cbegin(); it != preferences.cend(); ++it)
                QVERIFY2(stored.value(it.key()) == it.value(),
                         qPrintable(QStringLiteral("round %1: %2").arg(round).arg(it.key())));
            QSet<QString> storedWallpapers;
            for (const auto& info : reopened.account->storage()->wallpaperStorage()->allInfos())
                storedWallpapers.insert(info.id);
            for (const QString& id : std::as_const(wallpapers))
                QVERIFY2(storedWallpapers.contains(id),
                         qPrintable(QStringLiteral("round %1: wallpaper %2").arg(round).arg(id)));
        }
        QVERIFY(preferences.size() > rounds);
        qInfo("reported and found: %lld preferences, %lld wallpapers", qint64(preferences.size()),
              qint64(wallpapers.size()));
    }
};

SETTINGMODEL_TEST_MAIN(TestReliability)
#include "tst_reliability.moc"
