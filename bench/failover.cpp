// Fail-over over the real tunnel host and engine on loopback, against a baseline of the same run:
//   direct      Vpn::connect to a live server, until the probe passed
//   dead first  Vpn::connect when the first candidate's server refuses connections, until the
//               second one is on (goal: at most 2 s more than direct)
//   recovery    the server of a running tunnel is killed and the user's next request fails: until
//               the tunnel is on again through the next server
// Medians of several runs.

#include "TunnelBenchRig.h"

#include <QSignalSpy>

using namespace engine_fixture;
using namespace bench;

namespace {
constexpr int kRuns = 5;
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TunnelRig rig;
    const ServerProfile next = serverAt("Европа авто", rig.server.port(), rig.server.uuid());
    std::vector<double> direct, deadFirst, recovery;
    for (int run = 0; run < kRuns; ++run) {
        rig.defaults.setValue("lastGood", QJsonValue()); // the ordering must not skip the dead one
        direct.push_back(rig.connect(next, {next}));
        rig.disconnect();

        const ServerProfile refused = serverAt("Европа 1", freePort(), rig.server.uuid());
        deadFirst.push_back(rig.connect(refused, {refused, next}));
        rig.disconnect();

        auto dying = std::make_unique<V2rayServer>();
        waitUntil([&] { return dying->ready(); });
        const ServerProfile first = serverAt("Европа 1", dying->port(), dying->uuid());
        if (rig.connect(first, {first, next}) < 0)
            return 1;
        QSignalSpy switched(&rig.vpn, &Vpn::switchedServer);
        dying.reset();
        QElapsedTimer took;
        took.start();
        getThroughTunnel(QUrl(rig.service.origin() + "/api/v1/ip")); // the user's request that fails
        waitUntil([&] { return !switched.isEmpty(); }, 60s);
        recovery.push_back(switched.isEmpty() ? -1 : static_cast<double>(took.nsecsElapsed()) / 1e6);
        rig.disconnect();
        if (direct.back() < 0 || deadFirst.back() < 0 || recovery.back() < 0) {
            std::fprintf(stderr, "run %d: a tunnel did not come up\n", run);
            return 1;
        }
    }

    const double bare = spread(direct).median, dead = spread(deadFirst).median;
    std::printf("load average %s\n", qPrintable(loadAverage()));
    std::printf("direct connect to a passed probe, median of %d: %.0f ms\n", kRuns, bare);
    std::printf("first server refused, second on, median of %d: %.0f ms (%.0f ms more; goal <= 2000)\n",
                kRuns, dead, dead - bare);
    std::printf("server killed under a running tunnel to on through the next, median of %d: %.0f ms\n", kRuns,
                spread(recovery).median);
    return 0;
}
