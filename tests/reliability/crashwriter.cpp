// A device that writes preferences and adds wallpapers until it is killed. Each write is
// reported ("pref <key> <value>", "wallpaper <id>") once the storage thread has run past it, so
// everything reported must be in the database whenever the process dies.
#include "host/threadmanager.h"
#include "im/common.pb.h"
#include "im/misc.pb.h"
#include "media.h"
#include "preferences/sharedpreferencemodel.h"
#include "testaccount.h"
#include "wallpapers/wallpaperhandler.h"
#include "wallpapers/wallpapermodel.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>

namespace {

void report(const QByteArray& line)
{
    // After every write posted before it: the storage thread runs its work in order.
    ThreadManager::getInstance()->invoke(
        [line] {
            std::fputs(line.constData(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        },
        false);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QLoggingCategory::setFilterRules(QStringLiteral("*=false"));
    if (argc != 3) {
        std::fprintf(stderr, "usage: crashwriter <data folder> <first index>\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    int next = QByteArray(argv[2]).toInt();
    const QString image = media::writeImage(dir + QStringLiteral("/source.jpg"), QSize(640, 480));
    TestAccount t(dir, QStringLiteral("crash"));
    if (!t.startLocal())
        return 1;
    WallpaperHandler* wallpapers = t.account->wallpaperHandler();
    QObject::connect(wallpapers->wallpaperModel(), &QAbstractItemModel::rowsInserted, &app,
                     [wallpapers](const QModelIndex&, int first, int last) {
                         for (int row = first; row <= last; ++row) {
                             const WallpaperItem* item = wallpapers->wallpaperModel()->itemByIndex(row);
                             if (item && item->isOwner())
                                 report("wallpaper " + item->wallpaperId().toUtf8());
                         }
                     });
    std::puts("ready");
    std::fflush(stdout);

    QTimer writer;
    QObject::connect(&writer, &QTimer::timeout, &app, [&] {
        const int i = next++;
        if (i % 8 == 0 && !wallpapers->wallpaperModel()->upToLimite())
            wallpapers->add(image);
        const QString key = QStringLiteral("folder_%1").arg(i);
        const QByteArray value = "value " + QByteArray::number(i);
        im::misc::UpdateSharedPreferencesV2Req req;
        t.prefs->chatFolder(req.add_preferences(), key, value);
        t.prefs->updateSharedPreferences(req, true);
        report("pref " + key.toUtf8() + ' ' + value);
    });
    writer.start(2);
    return app.exec();
}
