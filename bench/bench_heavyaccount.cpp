// A heavy account loaded from disk by every model at once: 10,000 preferences (among them 100
// themes, a ringtone list of 20 and a notification value with 5,000 muted-group exceptions) and
// 1,000 wallpapers. Measures the whole local load against reading the same rows from SQLite
// alone, and the longest time the main thread spends on one event meanwhile.
#include "benchsupport.h"
#include "host/cryptoaes.h"
#include "host/jsonutil.h"
#include "host/storage.h"
#include "host/threadmanager.h"
#include "im/common.pb.h"
#include "notifications/groupmutedsettingmodel.h"
#include "notifications/ringtonemanager.h"
#include "notifications/ringtonemodel.h"
#include "preferences/sharedpreferencemodel.h"
#include "refcontacts.h"
#include "testaccount.h"
#include "themes/presetthemes.h"
#include "themes/themehandler.h"
#include "themes/themeitem.h"
#include "themes/thememodel.h"
#include "wallpapers/wallpaperhandler.h"
#include "wallpapers/wallpapermodel.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

#include <sys/resource.h>

namespace {

constexpr int kPreferences = 10000;
constexpr int kThemes = 100;
constexpr int kRingtones = 20;
constexpr int kGroups = 5000;
constexpr int kWallpapers = 1000;
constexpr double kBudgetMs = 8.0;

// CPU time (user and system) of every thread of the process so far, and its page faults: on
// some virtual machines a first touch of fresh memory costs more than the work done in it.
struct Usage {
    double cpuMs = 0;
    long pageFaults = 0;

    static Usage now()
    {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
        return {ms(usage.ru_utime) + ms(usage.ru_stime), usage.ru_minflt + usage.ru_majflt};
    }
    Usage operator-(const Usage& o) const { return {cpuMs - o.cpuMs, pageFaults - o.pageFaults}; }
};

QByteArray bytesOf(const google::protobuf::MessageLite& message)
{
    return QByteArray::fromStdString(message.SerializeAsString());
}

QList<storage::SharedPreferenceInfo> preferenceRows()
{
    QList<storage::SharedPreferenceInfo> rows;
    qint64 version = 1'690'000'000'000;
    QVariantList exceptions;
    for (int i = 0; i < kGroups; ++i)
        exceptions.append(QVariantMap{{QStringLiteral("dialogID"), QStringLiteral("g%1").arg(i)},
                                      {QStringLiteral("reply"), true},
                                      {QStringLiteral("at"), i % 2 == 0},
                                      {QStringLiteral("atAll"), false}});
    rows.append({QStringLiteral("notification"),
                 mapToJson({{QStringLiteral("group"),
                             QVariantMap{{QStringLiteral("exceptionMention"), exceptions}}}}),
                 SharedPreferenceModel::Notification,
                 0,
                 ++version,
                 {}});
    QVariantList ringtones;
    for (int i = 0; i < kRingtones; ++i)
        ringtones.append(
            QVariantMap{{QStringLiteral("fileId"), QStringLiteral("tone%1").arg(i)},
                        {QStringLiteral("timestamp"), 100 + i},
                        {QStringLiteral("type"), 2},
                        {QStringLiteral("name"), QStringLiteral("Tone %1.ogg").arg(i)},
                        {QStringLiteral("aesKey"), QString::fromLatin1(CryptoAES::createKey(32).toBase64())},
                        {QStringLiteral("volume"), 3}});
    rows.append({QStringLiteral("custom_ringtone_list"),
                 listToJson(ringtones),
                 SharedPreferenceModel::CustomRingtoneList,
                 0,
                 ++version,
                 {}});
    for (int i = 0; i < kThemes; ++i) {
        ThemeItem theme(ThemeHandler::getPresetThemeData(i % 4), 500 + i);
        theme.setName(QStringLiteral("Theme %1").arg(i));
        im::Theme message;
        theme.serialize(&message);
        const QString id = QStringLiteral("theme-%1").arg(i);
        message.set_id(id.toStdString());
        rows.append({id, bytesOf(message).toBase64(), SharedPreferenceModel::Theme, 0, ++version, {}});
    }
    while (rows.size() < kPreferences) {
        const int i = int(rows.size());
        if (i % 2 == 0)
            rows.append({QStringLiteral("folder_%1").arg(i),
                         QStringLiteral(R"({"name":"folder %1"})").arg(i).toUtf8(),
                         SharedPreferenceModel::ChatFolder,
                         0,
                         ++version,
                         {}});
        else
            rows.append({QStringLiteral("pin_message_blacklist_d%1").arg(i),
                         QStringLiteral(R"({"dialog_id":"d%1","message_ids":[%1]})").arg(i).toUtf8(),
                         SharedPreferenceModel::PinMessageBlackList,
                         0,
                         ++version,
                         {}});
    }
    return rows;
}

QList<storage::WallpaperInfo> wallpaperRows()
{
    QList<storage::WallpaperInfo> rows;
    for (int i = 0; i < kWallpapers; ++i) {
        im::WallPaper wallpaper;
        const QString id = QStringLiteral("w%1").arg(i);
        wallpaper.set_id(id.toStdString());
        wallpaper.set_update_time(1000 + i);
        wallpaper.set_is_owner(i % 50 == 0);
        auto* hi = wallpaper.mutable_photo_set()->mutable_hi_res();
        hi->set_file_id((id + QStringLiteral("-hi")).toStdString());
        hi->set_aes_key(std::string(32, 'k'));
        hi->set_size(10);
        rows.append({id, bytesOf(wallpaper), true, 1000 + i});
    }
    return rows;
}

} // namespace

int main(int argc, char** argv)
{
    TimedApp app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    {
        TestAccount seed(dir.path(), QStringLiteral("heavy"));
        auto* preferences = seed.account->storage()->sharedPreferenceStorage();
        auto* wallpapers = seed.account->storage()->wallpaperStorage();
        const auto prefRows = preferenceRows();
        const auto wallRows = wallpaperRows();
        ThreadManager::getInstance()->invoke(
            [=] {
                preferences->save(prefRows);
                wallpapers->save(wallRows);
            },
            true);
        ThreadManager::getInstance()->waitForIdle();
    }

    TestAccount device(dir.path(), QStringLiteral("heavy"));
    for (int i = 0; i < kGroups; ++i)
        device.account->addDialog(
            QStringLiteral("g%1").arg(i), true,
            device.account->refGroupModelMgr()->addGroup(10000 + i, QStringLiteral("Group %1").arg(i)));
    auto* preferences = device.account->storage()->sharedPreferenceStorage();
    auto* wallpapers = device.account->storage()->wallpaperStorage();
    QElapsedTimer timer;
    double sqliteMs = 1e9;
    int rowCount = 0;
    for (int round = 0; round < 5; ++round) {
        timer.start();
        ThreadManager::getInstance()->invoke(
            [&] { rowCount = int(preferences->allInfos().size() + wallpapers->allInfos().size()); }, true);
        ThreadManager::getInstance()->waitForIdle();
        sqliteMs = std::min(sqliteMs, timer.nsecsElapsed() / 1e6);
    }

    WallpaperHandler* wallpaperHandler = device.account->wallpaperHandler();
    GroupMutedSettingModel* muted = device.account->groupMutedSettingModel();
    RingtoneModel* ringtones = device.account->ringtoneManager()->customRingtoneModel();
    ThemeHandler* themes = device.account->themeHandler();
    app.resetLongest();
    const Usage before = Usage::now();
    timer.start();
    QTimer::singleShot(0, device.composition.get(), [&device] { device.composition->startLocal(); });
    // When each part was in, as the event loop saw it.
    double preferencesAt = 0, wallpapersAt = 0, mutedAt = 0;
    const auto mark = [&timer](double& at, bool done) {
        if (done && at == 0)
            at = timer.nsecsElapsed() / 1e6;
        return done;
    };
    const bool loaded = waitUntil(
        [&] {
            const bool preferences = mark(preferencesAt, device.prefs->localDataLoaded());
            const bool walls = mark(wallpapersAt, wallpaperHandler->wallpaperModel()->count() >= kWallpapers);
            const bool groups = mark(mutedAt, muted->count() == kGroups);
            return preferences && walls && groups &&
                   device.composition->stage() == AccountComposition::LocalDataLoaded &&
                   ringtones->count() == kRingtones;
        },
        60000);
    const double loadMs = timer.nsecsElapsed() / 1e6;
    const Usage used = Usage::now() - before;
    const double longest = app.longestMs();

    std::printf("rows: %d (%d preferences, %d wallpapers)\n", rowCount, kPreferences, kWallpapers);
    std::printf("SQLite read alone (storage thread): %8.2f ms\n", sqliteMs);
    std::printf("local load of every model:          %8.2f ms (%.2fx SQLite alone, target <= 2x)%s\n", loadMs,
                loadMs / sqliteMs, loaded ? "" : "  NOT DONE");
    std::printf("  meanwhile: CPU time of all threads %.1f ms, page faults %ld\n", used.cpuMs,
                used.pageFaults);
    std::printf("  in at: preferences %.1f ms, wallpapers %.1f ms, muted groups %.1f ms\n", preferencesAt,
                wallpapersAt, mutedAt);
    std::printf("  wallpapers %d, muted groups %d, ringtones %d, themes listed %d\n",
                wallpaperHandler->wallpaperModel()->count(), muted->count(), ringtones->count(),
                themes->themeModel()->count() + themes->customThemeModel()->count());
    std::printf("  longest main-thread event: %.2f ms (target < %.0f ms), to %s\n", longest, kBudgetMs,
                qPrintable(app.longestWhat()));
    return loaded && longest < kBudgetMs && loadMs <= 2 * sqliteMs ? 0 : 2;
}
