// A heavy account loaded from disk by every model at once: 10,000 preferences (among them 100
// themes, a ringtone list of 20 and a notification value with 5,000 muted-group exceptions) and
// 1,000 wallpapers. Each measurement runs in a process of its own (so that memory and page faults
// are its own), in alternating order over the rounds, and the figures are paired by round:
//   read     the rows read from SQLite on the storage thread
//   prefread the preference rows alone
//   floor    the rows read and every value the load needs decoded (JSON, Base64, protobuf), on
//            one thread, no objects
//   structs  the floor, plus one plain struct per item
//   prefs    the preference store's own load
//   load     the module's whole local load, every model at once
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
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace {

constexpr int kPreferences = 10000;
constexpr int kThemes = 100;
constexpr int kRingtones = 20;
constexpr int kGroups = 5000;
constexpr int kWallpapers = 1000;
constexpr double kLoadBudgetMs = 4.0;

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

// Resident memory of the process, in KiB.
long residentKib()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLong() * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

// One plain record per item the load makes, for the struct floor.
struct MutedGroup {
    QString dialogId;
    bool reply = false;
    bool at = false;
    bool atAll = false;
};
struct Ringtone {
    QString fileId;
    QString name;
    qint64 timestamp = 0;
    QByteArray key;
};
struct Theme {
    QString id;
    QString name;
    qint64 version = 0;
};
struct Wallpaper {
    QString id;
    qint64 time = 0;
    bool owner = false;
    QString hiFileId;
};
struct Pinned {
    QString dialogId;
    QList<qint64> messageIds;
};
struct Structs {
    QList<MutedGroup> muted;
    QList<Ringtone> ringtones;
    QList<Theme> themes;
    QList<Wallpaper> wallpapers;
    QList<Pinned> pinned;
    QList<storage::SharedPreferenceInfo> preferences;
};

// Decodes every value the load needs, as the module's parsers do (QJsonDocument, Base64,
// protobuf); with out, keeps one plain struct per item. Returns the items decoded.
int decode(const QList<storage::SharedPreferenceInfo>& preferences,
           const QList<storage::WallpaperInfo>& walls, Structs* out)
{
    int items = 0;
    for (const storage::SharedPreferenceInfo& row : preferences) {
        switch (row.type) {
        case SharedPreferenceModel::Notification: {
            const QJsonArray exceptions = QJsonDocument::fromJson(row.value)
                                              .object()
                                              .value(QLatin1String("group"))
                                              .toObject()
                                              .value(QLatin1String("exceptionMention"))
                                              .toArray();
            for (const QJsonValue& value : exceptions) {
                const QJsonObject e = value.toObject();
                MutedGroup group{
                    e.value(QLatin1String("dialogID")).toString(), e.value(QLatin1String("reply")).toBool(),
                    e.value(QLatin1String("at")).toBool(), e.value(QLatin1String("atAll")).toBool()};
                if (out)
                    out->muted.append(std::move(group));
                ++items;
            }
            break;
        }
        case SharedPreferenceModel::CustomRingtoneList:
            for (const QJsonValue& value : QJsonDocument::fromJson(row.value).array()) {
                const QJsonObject r = value.toObject();
                Ringtone tone{r.value(QLatin1String("fileId")).toString(),
                              r.value(QLatin1String("name")).toString(),
                              r.value(QLatin1String("timestamp")).toInteger(),
                              QByteArray::fromBase64(r.value(QLatin1String("aesKey")).toString().toLatin1())};
                if (out)
                    out->ringtones.append(std::move(tone));
                ++items;
            }
            break;
        case SharedPreferenceModel::Theme: {
            im::Theme theme;
            const QByteArray bytes = QByteArray::fromBase64(row.value);
            theme.ParseFromArray(bytes.constData(), int(bytes.size()));
            if (out)
                out->themes.append({row.key, QString::fromStdString(theme.name()), row.version});
            ++items;
            break;
        }
        case SharedPreferenceModel::PinMessageBlackList: {
            const QJsonObject object = QJsonDocument::fromJson(row.value).object();
            Pinned pinned{object.value(QLatin1String("dialog_id")).toString(), {}};
            for (const QJsonValue& id : object.value(QLatin1String("message_ids")).toArray())
                pinned.messageIds.append(id.toInteger());
            if (out)
                out->pinned.append(std::move(pinned));
            ++items;
            break;
        }
        default: break;
        }
        if (out)
            out->preferences.append(row);
    }
    for (const storage::WallpaperInfo& row : walls) {
        im::WallPaper wallpaper;
        wallpaper.ParseFromArray(row.data.constData(), int(row.data.size()));
        if (out)
            out->wallpapers.append({QString::fromStdString(wallpaper.id()), wallpaper.update_time(),
                                    wallpaper.is_owner(),
                                    QString::fromStdString(wallpaper.photo_set().hi_res().file_id())});
        ++items;
    }
    return items;
}

struct Result {
    double wallMs = 0;
    double cpuMs = 0;
    long pageFaults = 0;
    long rssKib = 0;
    double longestMs = 0;
    double longestCpuMs = 0; // the main thread's own CPU in its longest event
    bool done = false;
    QString longestWhat; // the receiver of the longest main-thread event and its type
};

// One measurement in this process: the account is open and its groups known before it starts.
Result measure(const QString& mode, const QString& dataDir, TimedApp& app)
{
    TestAccount device(dataDir, QStringLiteral("heavy"));
    for (int i = 0; i < kGroups; ++i)
        device.account->addDialog(
            QStringLiteral("g%1").arg(i), true,
            device.account->refGroupModelMgr()->addGroup(10000 + i, QStringLiteral("Group %1").arg(i)));
    auto* preferences = device.account->storage()->sharedPreferenceStorage();
    auto* wallpapers = device.account->storage()->wallpaperStorage();
    ThreadManager::getInstance()->waitForIdle();
    Result result;
    // Held until memory is measured, as the models hold what they load.
    Structs structs;
    const long rssBefore = residentKib();
    const Usage before = Usage::now();
    QElapsedTimer timer;
    timer.start();
    app.resetLongest();
    if (mode == QLatin1String("load") || mode == QLatin1String("prefs")) {
        WallpaperHandler* wallpaperHandler = device.account->wallpaperHandler();
        GroupMutedSettingModel* muted = device.account->groupMutedSettingModel();
        RingtoneModel* ringtones = device.account->ringtoneManager()->customRingtoneModel();
        const bool whole = mode == QLatin1String("load");
        QTimer::singleShot(0, device.composition.get(), [&device, whole] {
            if (whole)
                device.composition->startLocal();
            else
                device.prefs->loadLocalData(false);
        });
        result.done = waitUntil(
            [&] {
                if (!whole)
                    return device.prefs->localDataLoaded();
                return device.prefs->localDataLoaded() &&
                       wallpaperHandler->wallpaperModel()->count() >= kWallpapers &&
                       muted->count() == kGroups &&
                       device.composition->stage() == AccountComposition::LocalDataLoaded &&
                       ringtones->count() == kRingtones;
            },
            60000);
    } else {
        ThreadManager::getInstance()->invoke(
            [&] {
                const auto rows = preferences->allInfos();
                if (mode == QLatin1String("prefread"))
                    return;
                const auto walls = wallpapers->allInfos();
                if (mode == QLatin1String("floor"))
                    decode(rows, walls, nullptr);
                else if (mode == QLatin1String("structs"))
                    decode(rows, walls, &structs);
            },
            true);
        result.done = ThreadManager::getInstance()->waitForIdle();
    }
    result.wallMs = timer.nsecsElapsed() / 1e6;
    const Usage used = Usage::now() - before;
    result.cpuMs = used.cpuMs;
    result.pageFaults = used.pageFaults;
    result.rssKib = residentKib() - rssBefore;
    result.longestMs = app.longestMs();
    result.longestCpuMs = app.longestCpuMs();
    return result;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n == 0 ? 0 : n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    TimedApp app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args.at(1) == QLatin1String("--one")) {
        const Result r = measure(args.at(2), args.at(3), app);
        const QString what = QString(app.longestWhat()).remove(QLatin1Char(' '));
        std::printf("RESULT %.3f %.3f %ld %ld %.3f %d %s %.3f\n", r.wallMs, r.cpuMs, r.pageFaults, r.rssKib,
                    r.longestMs, r.done ? 1 : 0, what.isEmpty() ? "-" : qPrintable(what), r.longestCpuMs);
        return r.done ? 0 : 1;
    }

    QTemporaryDir dir;
    // BENCH_KEEP keeps the seeded folder for a profiler: bench_heavyaccount --one load FOLDER.
    if (qEnvironmentVariableIsSet("BENCH_KEEP")) {
        dir.setAutoRemove(false);
        std::printf("data kept in %s\n", qPrintable(dir.path()));
    }
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

    const QStringList modes{QStringLiteral("read"),    QStringLiteral("prefread"), QStringLiteral("floor"),
                            QStringLiteral("structs"), QStringLiteral("prefs"),    QStringLiteral("load")};
    const int rounds =
        qEnvironmentVariableIsSet("BENCH_ROUNDS") ? qEnvironmentVariableIntValue("BENCH_ROUNDS") : 10;
    QHash<QString, QList<Result>> results;
    for (int round = 0; round < rounds; ++round) {
        // Each round starts with another mode, so no mode always runs first or last.
        for (int k = 0; k < modes.size(); ++k) {
            const QString mode = modes.at((round + k) % modes.size());
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--one"), mode, dir.path()});
            if (!child.waitForFinished(120000)) {
                std::fprintf(stderr, "%s did not finish\n", qPrintable(mode));
                return 1;
            }
            const QList<QByteArray> line =
                child.readAllStandardOutput().trimmed().split('\n').last().split(' ');
            if (line.size() != 9 || line.first() != "RESULT" || line.at(6) != "1") {
                std::fprintf(stderr, "%s failed: %s\n", qPrintable(mode),
                             child.readAllStandardError().constData());
                return 1;
            }
            results[mode].append({line.at(1).toDouble(), line.at(2).toDouble(), line.at(3).toLong(),
                                  line.at(4).toLong(), line.at(5).toDouble(), line.at(8).toDouble(), true,
                                  QString::fromUtf8(line.at(7))});
        }
    }

    // Paired by round: the ratio of two modes in each round, then its median and range.
    const auto ratio = [&](const char* what, const QString& a, const QString& b, auto field, double target) {
        QList<double> ratios;
        for (int round = 0; round < rounds; ++round)
            ratios.append(double(field(results[a].at(round))) /
                          std::max(1e-9, double(field(results[b].at(round)))));
        const double m = median(ratios);
        std::printf(
            "%-44s %6.2fx  [%5.2f-%5.2f]%s\n", what, m, *std::min_element(ratios.cbegin(), ratios.cend()),
            *std::max_element(ratios.cbegin(), ratios.cend()),
            target > 0 ? (m <= target ? qPrintable(QStringLiteral("  target <= %1x: met").arg(target))
                                      : qPrintable(QStringLiteral("  target <= %1x: NOT MET").arg(target)))
                       : "");
        return target <= 0 || m <= target;
    };
    const auto wall = [](const Result& r) { return r.wallMs; };
    const auto cpu = [](const Result& r) { return r.cpuMs; };
    const auto rss = [](const Result& r) { return double(r.rssKib); };
    std::printf("rows: %d preferences, %d wallpapers; %d rounds, each mode in a process of its own\n\n",
                kPreferences, kWallpapers, rounds);
    std::printf("%-9s %10s %10s %12s %12s %12s\n", "mode", "wall ms", "cpu ms", "page faults", "rss +KiB",
                "longest ms");
    for (const QString& mode : modes) {
        QList<double> w, c, f, r, l;
        for (const Result& one : results[mode]) {
            w.append(one.wallMs);
            c.append(one.cpuMs);
            f.append(double(one.pageFaults));
            r.append(double(one.rssKib));
            l.append(one.longestMs);
        }
        std::printf("%-9s %10.2f %10.2f %12.0f %12.0f %12.2f   (medians)\n", qPrintable(mode), median(w),
                    median(c), median(f), median(r), median(l));
    }
    std::printf("\n");
    bool ok = true;
    ratio("decode floor / read (wall)", QStringLiteral("floor"), QStringLiteral("read"), wall, 0);
    ratio("struct floor / read (wall)", QStringLiteral("structs"), QStringLiteral("read"), wall, 0);
    ratio("whole load / read (wall)", QStringLiteral("load"), QStringLiteral("read"), wall, 0);
    ok &=
        ratio("whole load / decode floor (wall)", QStringLiteral("load"), QStringLiteral("floor"), wall, 1.0);
    ok &=
        ratio("whole load / struct floor (cpu)", QStringLiteral("load"), QStringLiteral("structs"), cpu, 1.2);
    ok &= ratio("whole load / struct floor (rss growth)", QStringLiteral("load"), QStringLiteral("structs"),
                rss, 1.5);
    ok &= ratio("preference store / its rows' read (wall)", QStringLiteral("prefs"),
                QStringLiteral("prefread"), wall, 1.5);
    QList<double> longest;
    QList<double> longestCpu;
    QString worstWhat;
    double worst = 0;
    for (const Result& one : results[QStringLiteral("load")]) {
        longest.append(one.longestMs);
        longestCpu.append(one.longestCpuMs);
        if (one.longestMs >= worst) {
            worst = one.longestMs;
            worstWhat = one.longestWhat;
        }
    }
    std::printf("%-44s %6.2f ms (median %.2f, its cpu %.2f; %s)  target <= %.0f ms: %s\n",
                "longest main-thread event in the load", worst, median(longest), median(longestCpu),
                qPrintable(worstWhat), kLoadBudgetMs, worst <= kLoadBudgetMs ? "met" : "NOT MET");
    ok &= worst <= kLoadBudgetMs;
    return ok ? 0 : 2;
}
