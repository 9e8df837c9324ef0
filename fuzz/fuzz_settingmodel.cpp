// libFuzzer targets over a whole account of the module on a scripted transport: the bytes are
// a server's answer to a command, a push, the value of a synchronised preference, or a value the
// module stored on this device and reads back. The first byte picks which; the rest is what the
// module has to survive. Built once per family (FUZZ_FAMILY: 0 answers, 1 pushes, 2 preference
// values, 3 stored values).
#include "commands/settingservicecmd.h"
#include "emoji/recentemojimodel.h"
#include "fuzztables.h"
#include "host/accountsettingmodel.h"
#include "host/datainfomodel.h"
#include "host/storage.h"
#include "host/threadmanager.h"
#include "im/common.pb.h"
#include "im/notif.pb.h"
#include "preferences/sharedpreferencemodel.h"
#include "privacy/privacymodel.h"
#include "refcontacts.h"
#include "testaccount.h"
#include "themes/colorcirclemodel.h"
#include "themes/themehandler.h"
#include "transport.h"
#include "wallpapers/wallpaperhandler.h"

#include <google/protobuf/stubs/logging.h>

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QThreadPool>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

struct World {
    std::unique_ptr<QGuiApplication> app;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TestAccount> account;
    qint64 version = 1'700'000'000'000;
};
World* world = nullptr;

void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        ThreadManager::getInstance()->waitForIdle();
        QThreadPool::globalInstance()->waitForDone();
    }
}

#if FUZZ_FAMILY == 3
// Reads the model's local copy again, as a sign-in does.
void reload(ModelBase* model)
{
    model->prepareToClearData(false);
    model->clearData(false);
    model->initData();
    model->loadLocalData(false);
}
#endif

} // namespace

// Signs the account out and ends its background work: the replay calls it before it returns.
void fuzzShutDown()
{
    settle();
    world->account.reset();
    QThreadPool::globalInstance()->waitForDone();
    delete world;
    world = nullptr;
}

namespace {

#ifdef FUZZ_LIBFUZZER
// libFuzzer ends with exit(): no work may still run while the statics go.
void waitAtExit()
{
    settle();
}
#endif

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    google::protobuf::SetLogHandler(nullptr);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QLoggingCategory::setFilterRules(QStringLiteral("*=false"));
    world = new World;
    world->app = std::make_unique<QGuiApplication>(*argc, *argv);
    world->dir = std::make_unique<QTemporaryDir>();
    world->account = std::make_unique<TestAccount>(world->dir->path());
    world->account->account->refUserManager()->addUser(42, QStringLiteral("Someone"));
    world->account->account->refGroupModelMgr()->addGroup(43, QStringLiteral("Group"));
    if (!world->account->start())
        return 1;
#ifdef FUZZ_LIBFUZZER
    std::atexit(waitAtExit);
#endif
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray body(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    TestAccount& t = *world->account;
#if FUZZ_FAMILY == 0
    const quint16 command = fuzztables::kAnswered[data[0] % std::size(fuzztables::kAnswered)];
    fuzztables::ask(t, command, QByteArray::number(++world->version));
    settle();
    t.transport->answerNext(command, 0, body);
#elif FUZZ_FAMILY == 1
    t.transport->push(fuzztables::kPushes[data[0] % std::size(fuzztables::kPushes)], body);
#elif FUZZ_FAMILY == 3
    switch (data[0] % fuzztables::kStoredCount) {
    case fuzztables::RecentEmoji:
        t.account->dataInfoModel()->saveEmojiRecent(body);
        reload(t.composition->recentEmojiModel(RecentEmojiModel::Emoji));
        break;
    case fuzztables::RecentReactions:
        t.account->dataInfoModel()->saveReactionEmojiRecent(body);
        reload(t.composition->recentEmojiModel(RecentEmojiModel::Reaction));
        break;
    case fuzztables::ColorCircles:
        t.account->accountSettingModel()->updateColorCircles(body);
        t.account->themeHandler()->colorCircleModel()->load(nullptr);
        break;
    default: {
        auto* table = t.account->storage()->wallpaperStorage();
        const storage::WallpaperInfo row{QStringLiteral("stored"), body, true, 1};
        ThreadManager::getInstance()->invoke([table, row] { table->save(row); }, true);
        reload(t.account->wallpaperHandler());
        break;
    }
    }
#else
    const auto& [type, key] = fuzztables::kValues[data[0] % std::size(fuzztables::kValues)];
    im::notif::SharedPreferenceUpdatedNotif notif;
    im::SharedPreference* record = notif.add_preferences();
    record->set_key(key);
    record->set_type(type);
    record->set_version(++world->version);
    record->set_value(body.toStdString());
    t.transport->push(PushSharedPreferenceUpdated, QByteArray::fromStdString(notif.SerializeAsString()));
#endif
    settle();
    return 0;
}
