// Measures the muted-group exceptions at 5,000 groups: the flush of a notification preference
// naming all of them, a search and its end, each as the longest main-thread event against
// half a frame (8 ms).
#include "benchsupport.h"
#include "host/contacts.h"
#include "host/jsonutil.h"
#include "im/notif.pb.h"
#include "notifications/groupmutedsettingmodel.h"
#include "notifications/ringtonemanager.h"
#include "preferences/sharedpreferencemodel.h"
#include "testaccount.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kGroups = 5000;
constexpr double kBudgetMs = 8.0;

} // namespace

int main(int argc, char** argv)
{
    TimedApp app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    TestAccount device(dir.path(), QStringLiteral("bench"));
    if (!device.start()) {
        std::fprintf(stderr, "the account did not start\n");
        return 1;
    }
    QVariantList exceptions;
    for (int i = 0; i < kGroups; ++i) {
        const QString id = QStringLiteral("g%1").arg(i);
        device.account->addDialog(
            id, true,
            QSharedPointer<GroupModel>::create(i, i % 10 ? QStringLiteral("Group %1").arg(i)
                                                         : QStringLiteral("Hiking club %1").arg(i)));
        exceptions.append(QVariantMap{{QStringLiteral("dialogID"), id},
                                      {QStringLiteral("reply"), true},
                                      {QStringLiteral("at"), i % 2 == 0},
                                      {QStringLiteral("atAll"), false}});
    }
    im::notif::SharedPreferenceUpdatedNotif notif;
    auto* record = notif.add_preferences();
    record->set_key("notification");
    record->set_type(SharedPreferenceModel::Notification);
    record->set_version(1'000);
    record->set_value(
        mapToJson({{QStringLiteral("group"), QVariantMap{{QStringLiteral("exceptionMention"), exceptions}}}})
            .toStdString());

    GroupMutedSettingModel* model = device.account->groupMutedSettingModel();
    const auto measure = [&app, model](const char* what, const std::function<void()>& step, int expected) {
        app.resetLongest();
        QTimer::singleShot(0, model, step);
        const bool done = waitUntil([model, expected] { return model->count() == expected; }, 60000);
        std::printf("%-44s longest main-thread event %6.2f ms (%s)\n", what, app.longestMs(),
                    done ? "done" : "NOT DONE");
        return done && app.longestMs() < kBudgetMs;
    };
    bool ok = measure(
        "flush of 5,000 exceptions:", [&device, &notif] { device.prefs->sharedPreferencesNotify(notif); },
        kGroups);
    ok = measure(
             "search \"club\" (500 of 5,000):", [model] { model->search(QStringLiteral("club")); },
             kGroups / 10) &&
         ok;
    ok = measure(
             "end of the search:", [model] { model->searchFinish(); }, kGroups) &&
         ok;
    std::printf("target: every step under %.0f ms\n", kBudgetMs);
    return ok ? 0 : 2;
}
