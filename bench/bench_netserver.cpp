// Measures the server process (settingmodel-server over a WebSocket on this machine) against the
// in-process simulated server: the round trip of one preference write, sequential, with the
// process keeping its data (a SQLite commit per write) and without, and with thousands of the
// user's preferences already kept; then how many pushes per second reach 10 devices of one user
// while one of them writes.
#include "benchsupport.h"
#include "im/common.pb.h"
#include "im/misc.pb.h"
#include "serverprocess.h"
#include "simserver.h"
#include "websockettransport.h"

#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kWrites = 300;
constexpr int kDevices = 10;
constexpr int kPushedWrites = 200;
constexpr int kWaitMs = 120000;
constexpr int kPreferenceWrite = 180;
constexpr int kManyPreferences = 5000;

// One write of `count` preferences (bench_key, then bench_key_1 ...).
QByteArray write(int version, int count = 1)
{
    im::misc::UpdateSharedPreferencesV2Req request;
    for (int i = 0; i < count; ++i) {
        im::SharedPreference* preference = request.add_preferences();
        preference->set_key(i == 0 ? std::string("bench_key") : "bench_key_" + std::to_string(i));
        preference->set_type(11);
        preference->set_value("a value of some length, as a chat folder list would be");
        preference->set_version(version);
    }
    return QByteArray::fromStdString(request.SerializeAsString());
}

// Sequential writes: the median and 95th percentile round trip in microseconds.
std::pair<double, double> roundTrips(Transport& transport)
{
    std::vector<double> micros;
    for (int i = 1; i <= kWrites; ++i) {
        bool answered = false;
        QElapsedTimer clock;
        clock.start();
        transport.send(kPreferenceWrite, write(i), [&answered](int, const QByteArray&) { answered = true; },
                       false, {});
        if (!waitUntil([&answered] { return answered; }, kWaitMs))
            return {-1, -1};
        micros.push_back(clock.nsecsElapsed() / 1000.0);
    }
    std::sort(micros.begin(), micros.end());
    return {micros[micros.size() / 2], micros[micros.size() * 95 / 100]};
}

// One device writes; the pushes the other devices receive, per second.
double pushesPerSecond(std::vector<std::unique_ptr<Transport>>& devices)
{
    int pushes = 0;
    for (size_t i = 1; i < devices.size(); ++i)
        devices[i]->setPushHandler([&pushes](int, const QByteArray&) { ++pushes; });
    const int expected = kPushedWrites * int(devices.size() - 1);
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= kPushedWrites; ++i)
        devices[0]->send(kPreferenceWrite, write(1000 + i), [](int, const QByteArray&) {}, false, {});
    if (!waitUntil([&] { return pushes >= expected; }, kWaitMs))
        return -1;
    return expected / (clock.nsecsElapsed() / 1e9);
}

std::unique_ptr<WebSocketTransport> connectTo(const QUrl& url, int deviceId)
{
    WebSocketTransport::Options options;
    options.url = url;
    options.user = QStringLiteral("bench");
    options.password = QStringLiteral("bench");
    options.deviceId = deviceId;
    auto transport = std::make_unique<WebSocketTransport>(options);
    return waitUntil([&transport] { return transport->isConnected(); }, kWaitMs) ? std::move(transport)
                                                                                 : nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    TimedApp app(argc, argv);
    std::printf("Preference write round trip (%d sequential writes): median / 95th percentile\n", kWrites);
    {
        SimServer server;
        std::unique_ptr<Transport> device =
            server.connectDevice(1, QStringLiteral("Bench"), QStringLiteral("desktop"));
        const auto [median, p95] = roundTrips(*device);
        std::printf("  in-process server:              %8.0f us / %8.0f us\n", median, p95);
    }
    const struct {
        bool keeping;
        int kept;
        const char* label;
    } setups[] = {{false, 0, "server process:               "},
                  {true, 0, "server process, keeping data: "},
                  {true, kManyPreferences, "... with 5,000 preferences:   "}};
    for (const auto& setup : setups) {
        QTemporaryDir data;
        ServerProcess process;
        QStringList arguments{QStringLiteral("--user"), QStringLiteral("bench:bench")};
        if (setup.keeping)
            arguments << QStringLiteral("--data") << data.path();
        if (!process.start(arguments))
            return 1;
        std::unique_ptr<WebSocketTransport> device = connectTo(process.url(), 1);
        if (!device)
            return 1;
        if (setup.kept > 0) {
            bool stored = false;
            device->send(kPreferenceWrite, write(1, setup.kept),
                         [&stored](int, const QByteArray&) { stored = true; }, false, {});
            if (!waitUntil([&stored] { return stored; }, kWaitMs))
                return 1;
        }
        const auto [median, p95] = roundTrips(*device);
        std::printf("  %s %8.0f us / %8.0f us\n", setup.label, median, p95);
    }

    std::printf("Pushes to %d devices of one user while one writes %d times\n", kDevices, kPushedWrites);
    {
        SimServer server;
        std::vector<std::unique_ptr<Transport>> devices;
        for (int id = 1; id <= kDevices; ++id)
            devices.push_back(server.connectDevice(id, QStringLiteral("Bench"), QStringLiteral("desktop")));
        std::printf("  in-process server:              %8.0f pushes/s\n", pushesPerSecond(devices));
    }
    {
        QTemporaryDir data;
        ServerProcess process;
        if (!process.start({QStringLiteral("--user"), QStringLiteral("bench:bench"), QStringLiteral("--data"),
                            data.path()}))
            return 1;
        std::vector<std::unique_ptr<Transport>> devices;
        for (int id = 1; id <= kDevices; ++id) {
            std::unique_ptr<WebSocketTransport> device = connectTo(process.url(), 100 + id);
            if (!device)
                return 1;
            devices.push_back(std::move(device));
        }
        std::printf("  server process, keeping data:   %8.0f pushes/s\n", pushesPerSecond(devices));
    }
    return 0;
}
