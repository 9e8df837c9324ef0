// Writes the fuzz targets' seed corpora from real traffic: two devices of one user on the
// simulated server do what the tests do, and every answer and push device A receives, and
// every preference record in them, becomes a seed (the selector byte first).
#include "emoji/recentemojimodel.h"
#include "fuzztables.h"
#include "host/accountsettingmodel.h"
#include "host/datainfomodel.h"
#include "host/storage.h"
#include "host/threadmanager.h"
#include "im/misc.pb.h"
#include "im/notif.pb.h"
#include "notifications/ringtonemanager.h"
#include "preferences/sharedpreferencemodel.h"
#include "simserver.h"
#include "testaccount.h"
#include "themes/colorcirclemodel.h"
#include "themes/themehandler.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

QString g_out;

void writeSeed(const char* family, int selector, const QByteArray& body)
{
    if (selector < 0)
        return;
    const QByteArray seed = QByteArray(1, char(selector)) + body;
    const QString dir = g_out + QLatin1Char('/') + QLatin1String(family);
    QDir().mkpath(dir);
    QFile file(dir + QLatin1Char('/') +
               QString::fromLatin1(QCryptographicHash::hash(seed, QCryptographicHash::Sha1).toHex()));
    if (file.open(QIODevice::WriteOnly))
        file.write(seed);
}

template <class Records> void writeValues(const Records& records)
{
    for (const im::SharedPreference& record : records) {
        for (size_t i = 0; i < std::size(fuzztables::kValues); ++i) {
            if (fuzztables::kValues[i].first == record.type())
                writeSeed("values", int(i), QByteArray::fromStdString(record.value()));
        }
    }
}

// Hands everything on to the server's transport, keeping a copy of what comes back.
class RecordingTransport : public Transport {
public:
    explicit RecordingTransport(std::unique_ptr<Transport> inner) : m_inner(std::move(inner))
    {
        m_inner->setPushHandler([this](int type, const QByteArray& body) {
            writeSeed("pushes", fuzztables::indexOf(fuzztables::kPushes, type), body);
            im::notif::SharedPreferenceUpdatedNotif notif;
            if (type == PushSharedPreferenceUpdated &&
                notif.ParseFromArray(body.constData(), int(body.size())))
                writeValues(notif.preferences());
            deliverPush(type, body);
        });
        m_inner->setServerTimeHandler([this](qint64 time) { deliverServerTime(time); });
    }

    qint64 send(int command, const QByteArray& body, AccountBase::ResponseCallback callback, bool flag,
                const QVariantMap& context) override
    {
        return m_inner->send(
            command, body,
            [command, callback](int code, const QByteArray& reply) {
                if (code == 0) {
                    writeSeed("answers", fuzztables::indexOf(fuzztables::kAnswered, quint16(command)), reply);
                    im::misc::ListSharedPreferencesResp list;
                    if (command == SettingServiceCmd::ListSharedPreferences &&
                        list.ParseFromArray(reply.constData(), int(reply.size())))
                        writeValues(list.preferences());
                }
                callback(code, reply);
            },
            flag, context);
    }

private:
    std::unique_ptr<Transport> m_inner;
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*=false"));
    if (argc != 2) {
        std::fprintf(stderr, "usage: makeseeds <corpus folder>\n");
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir dir;
    SimServer server;
    server.setLatency(1);
    server.setPassword(QStringLiteral("password"));
    TestAccount b(dir.path(), QStringLiteral("b"),
                  server.connectDevice(2, QStringLiteral("B"), QStringLiteral("desktop")));
    TestAccount a(dir.path(), QStringLiteral("a"),
                  std::make_unique<RecordingTransport>(
                      server.connectDevice(1, QStringLiteral("A"), QStringLiteral("desktop"))));
    if (!b.start() || !a.start())
        return 1;

    // B writes what users write; A hears of it by push and lists it.
    b.prefs->syncNotifySetting(R"({"sound":1,"preview":true,"muted_groups":{"43":{"update_time":5}}})");
    b.prefs->syncDeskTopNotifySetting(R"({"sound":"bell","flash":1})");
    b.prefs->syncChatFolderConfig(R"({"enable":1})");
    b.prefs->syncChatFolderOrder("[1,2,3]", "[4]");
    b.prefs->syncReactionTags(QStringLiteral("👍"), QStringLiteral("good"));
    b.prefs->syncMessageExif(true, true);
    b.prefs->syncPinnedMessageBlackList(QStringLiteral("d1"), {1, 2});
    b.prefs->updateUserStatusSettingReq({QVariantMap{{QStringLiteral("description"), QStringLiteral("Lunch")},
                                                     {QStringLiteral("emoji"), QStringLiteral("🍜")}}});
    b.account->ringtoneManager()->setChatSilence(QStringLiteral("d1"), true);
    QTest::qWait(200);
    for (quint16 command : fuzztables::kAnswered)
        fuzztables::ask(a, command, R"({"sound":2})");
    // What A keeps on its own disk: recent emoji and reactions, colour circles, wallpaper rows.
    a.composition->recentEmojiModel(RecentEmojiModel::Emoji)->emojiUsed(QStringLiteral("😀"), 0, 1);
    a.composition->recentEmojiModel(RecentEmojiModel::Reaction)->emojiUsed(QStringLiteral("👍"), 0, 2);
    a.account->themeHandler()->colorCircleModel()->resetOrder();
    QTest::qWait(300);
    ThreadManager::getInstance()->waitForIdle();
    writeSeed("stored", fuzztables::RecentEmoji, a.account->dataInfoModel()->emojiRecent());
    writeSeed("stored", fuzztables::RecentReactions, a.account->dataInfoModel()->reactionEmojiRecent());
    writeSeed("stored", fuzztables::ColorCircles, a.account->accountSettingModel()->colorCircles());
    for (const storage::WallpaperInfo& row : a.account->storage()->wallpaperStorage()->allInfos())
        writeSeed("stored", fuzztables::WallpaperRow, row.data);
    std::printf("seeds written to %s\n", qPrintable(g_out));
    return 0;
}
