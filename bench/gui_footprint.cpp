// The GUI's footprint against a bare QWidget window of the same size, each in a process of its
// own: the time from process start to the first painted frame, resident memory after start (signed
// in, home tab, 20 servers), growth after 1,000 status cycles (BENCH_CYCLES) off → connecting → on → off
// through the fake tunnel, CPU time and repaints over 10 s hidden and shown connected (a second after it came
// back on screen), and the longest
// stalls of the GUI thread while the status cycles, while the account is loaded again and while an
// update is downloaded, unpacked and verified. Every figure is printed with its ratio to the bare
// window and the machine's load average at the time.
//
//   bench_gui_footprint            runs the children and prints the figures
//   bench_gui_footprint --child bare|app|bare-frame|text-frame|app-frame|app-loaded-frame   (internal)

#include "Figures.h"
#include "MainWindow.h"
#include "codesign/BundleKit.h"
#include "screens/Brand.h"
#include "screens/Phase.h"
#include "screens/UiRig.h"
#include "update/Updater.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <malloc.h>

namespace {

const int kCycles = qEnvironmentVariableIntValue("BENCH_CYCLES") > 0
                        ? qEnvironmentVariableIntValue("BENCH_CYCLES")
                        : 1000;
constexpr int kLoads = 20;
constexpr int kCpuSeconds = 10;
constexpr int kFrameRounds = 7;

double rssMb() {
    return bench::rssMb(QCoreApplication::applicationPid());
}

// The machine's load average over the last minute.
double loadAverage() {
    return bench::loadAverage().section(u' ', 0, 0).toDouble();
}

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Counts the window's repaints (one update request per frame) while it runs.
class Repaints : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::UpdateRequest)
            ++count;
        return QObject::eventFilter(watched, event);
    }
    int count = 0;
};

// CPU time spent while the event loop runs for `seconds` of real time.
double cpuOver(int seconds) {
    const double start = cpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    return cpuSeconds() - start;
}

void report(const QString& key, double value) {
    std::printf("%s=%.4f\n", qPrintable(key), value);
    std::fflush(stdout);
}

// A figure and the load average the moment it was taken.
void reportWithLoad(const QString& key, double value) {
    report(key, value);
    report(key + QStringLiteral("_load"), loadAverage());
}

// Says when the first widget starts painting ("painting") and when that first frame is done
// ("painted", once the pass that painted it has returned to the event loop). Watches the whole
// application: an opaque child spares the window itself any paint event.
class FirstPaint : public QObject {
public:
    FirstPaint() { qApp->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_started) {
            m_started = true;
            std::printf("painting\n");
            std::fflush(stdout);
            QTimer::singleShot(0, this, [this] {
                std::printf("painted\n");
                std::fflush(stdout);
                m_done = true;
            });
        }
        return QObject::eventFilter(watched, event);
    }
    // Runs the event loop until the first frame is done.
    void wait() {
        while (!m_done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

private:
    bool m_started = false;
    bool m_done = false;
};

// The bench's application: while recording, it times each event the GUI thread handles (the
// outermost delivery; nested ones are part of it). The longest is the longest time the thread could
// not answer. (A 1 ms probe timer would say the same, but it keeps the rig's settle() from ever
// seeing a quiet loop, and the flows it drives would never settle.) Whatever else runs on the
// thread, here also the rig's test service, counts too.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        if (QThread::currentThread() != thread()) // other threads' events are not the GUI thread's
            return QApplication::notify(receiver, event);
        if (!recording || m_depth > 0) {
            ++m_depth;
            const bool handled = QApplication::notify(receiver, event);
            --m_depth;
            return handled;
        }
        QElapsedTimer took;
        took.start();
        ++m_depth;
        const bool handled = QApplication::notify(receiver, event);
        --m_depth;
        times.append(took.nsecsElapsed());
        return handled;
    }

    bool recording = false;
    QList<qint64> times;

private:
    int m_depth = 0;
};

class StallProbe {
public:
    void start() {
        app().times.clear();
        app().recording = true;
    }
    void stop() { app().recording = false; }
    // Frees the record, which is the bench's memory, not the app's.
    void forget() { app().times = {}; }
    // Prints the longest stall and the 99th percentile of all event times, in milliseconds.
    void report(const QString& phase) {
        QList<qint64> times = app().times;
        std::sort(times.begin(), times.end());
        const double longest = times.isEmpty() ? 0 : times.last() / 1e6;
        const double p99 = times.isEmpty() ? 0 : times[qsizetype(0.99 * double(times.size() - 1))] / 1e6;
        reportWithLoad(QStringLiteral("stall_max_") + phase, longest);
        ::report(QStringLiteral("stall_p99_") + phase, p99);
    }

private:
    static TimedApplication& app() { return *static_cast<TimedApplication*>(qApp); }
};

// Runs the event loop for `milliseconds` of real time.
void idle(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Hidden, then shown for kCpuSeconds each: CPU time, and how often the window repainted shown.
void cpuHiddenAndShown(QWidget& window) {
    window.hide();
    int ticking = 0;
    for (Phase* phase : window.findChildren<Phase*>())
        ticking += phase->ticking() ? 1 : 0;
    report(QStringLiteral("timers_hidden"), ticking);
    reportWithLoad(QStringLiteral("cpu_hidden"), cpuOver(kCpuSeconds));
    Repaints repaints;
    window.show();
    // Coming back on screen repaints everything once; the figure is the window idling after that.
    report(QStringLiteral("cpu_showing"), cpuOver(1));
    window.installEventFilter(&repaints);
    reportWithLoad(QStringLiteral("cpu_shown"), cpuOver(kCpuSeconds));
    report(QStringLiteral("repaints_shown"), double(repaints.count) / kCpuSeconds);
}

// The bare window; with `text`, one line of text in it (what starting the fonts costs any window).
int bareChild(bool frameOnly, bool text = false) {
    std::printf("building\n");
    std::fflush(stdout);
    QWidget window;
    window.setFixedSize(460, 720);
    if (text)
        (new QLabel(QStringLiteral("Vemko VPN"), &window))->move(20, 20);
    FirstPaint paint;
    window.show();
    if (frameOnly) {
        paint.wait();
        return 0;
    }
    idle(500);
    reportWithLoad(QStringLiteral("rss"), rssMb());
    StallProbe probe;
    probe.start();
    idle(2000);
    probe.stop();
    probe.report(QStringLiteral("idle"));
    cpuHiddenAndShown(window);
    return 0;
}

// An update the service offers as build 43: an AppDir with the app's own programs, signed with a
// fresh key, installed into a temporary folder. Returns false when the tools to make it are missing.
struct UpdateFixture {
    bool prepare(UiRig& rig) {
        if (!dir.isValid() || !QFile::exists(bundlekit::codesignPath()))
            return false;
        const QString staging = dir.filePath(QStringLiteral("staging"));
        const QString bundle = staging + QStringLiteral("/Vemko VPN.AppDir");
        bundlekit::makeBundle(bundle, QStringLiteral("1.0.1"), dir.filePath(QStringLiteral("launched")));
        const QDir bin(QFileInfo(bundlekit::codesignPath()).absolutePath());
        QDir().mkpath(bundle + QStringLiteral("/bin"));
        for (const char* program :
             {"vemko-vpn", "vemkoctl", "vemko-tunnel", "vemko-codesign", "vemko-install"}) {
            const QString target = bundle + QStringLiteral("/bin/") + QLatin1String(program);
            if (QFile::copy(bin.filePath(QLatin1String(program)), target)) // as the release ships them
                bundlekit::run(QStringLiteral("strip"), {QStringLiteral("--strip-unneeded"), target});
        }
        const bundlekit::KeyPair key = bundlekit::makeKeyPair(dir.path(), QStringLiteral("release"));
        if (bundlekit::codesign(QStringLiteral("sign"), key.privatePem, bundle) != 0)
            return false;
        const QByteArray archive = bundlekit::zipFolder(staging, dir.filePath(QStringLiteral("update.zip")));
        if (archive.isEmpty())
            return false;
        report(QStringLiteral("update_mb"), double(archive.size()) / (1 << 20));
        rig.service().on("GET", "/update.zip", ScriptedReply::text(200, archive, "application/zip"));
        rig.service().on("GET", "/api/v1/app/version",
                         ScriptedReply::json(200, QJsonObject{{"version_code", ModelRig::build + 1},
                                                              {"version_name", "1.0.1"},
                                                              {"url", rig.service().origin() + "/update.zip"},
                                                              {"notes", ""}}));
        // The install script waits for this stand-in of the app to end.
        standIn.start(QStringLiteral("sleep"), {QStringLiteral("600")});
        standIn.waitForStarted();
        UpdaterSetup setup;
        setup.installPath = dir.filePath(QStringLiteral("opt/Vemko VPN.AppDir"));
        setup.tempDir = dir.filePath(QStringLiteral("tmp"));
        setup.publicKey = key.publicPem;
        setup.codesign = bundlekit::codesignPath();
        setup.waitPid = standIn.processId();
        updater = std::make_unique<Updater>(rig.api.api, rig.api.store, rig.desktop, rig.api.network,
                                            Clock::system(), setup);
        return true;
    }

    // The install script has swapped the bundle in and started it.
    void finish() {
        standIn.kill();
        standIn.waitForFinished();
        QElapsedTimer waited;
        waited.start();
        while (!QFile::exists(dir.filePath(QStringLiteral("launched"))) && waited.elapsed() < 10'000)
            idle(50);
    }

    QTemporaryDir dir;
    QProcess standIn;
    std::unique_ptr<Updater> updater;
};

// The stalls while an update is downloaded, then while it is unpacked and verified.
void updateStalls(UiRig& rig) {
    UpdateFixture update;
    if (!update.prepare(rig)) {
        std::fprintf(stderr, "bench_gui_footprint: no update to install (vemko-codesign, zip, openssl?)\n");
        return;
    }
    runTask(update.updater->check(false));
    StallProbe probe;
    QObject::connect(update.updater.get(), &Updater::progressChanged, [&] {
        if (update.updater->progress() == 60) { // downloaded: the unpacking starts
            probe.stop();
            probe.report(QStringLiteral("download"));
            probe.start();
        }
    });
    probe.start();
    const bool installed = runTask(update.updater->install(), nullptr, std::chrono::minutes(5));
    probe.stop();
    if (!installed || update.updater->progress() != 100) {
        std::fprintf(stderr, "bench_gui_footprint: the update did not install: %s\n",
                     qPrintable(update.updater->messageText()));
        return;
    }
    probe.report(QStringLiteral("unpack"));
    update.finish();
}

QStringList twentyServers() {
    QStringList servers;
    for (int i = 1; i <= 20; ++i)
        servers.append(QStringLiteral("Сервер %1").arg(i));
    return servers;
}

// The window's first frame, as the app starts (signed in, the servers cached by an earlier run, the
// refresh once the window is up) or, with `loadedFirst`, over an account the rig loads before.
int appFrameChild(bool loadedFirst) {
    UiRig rig;
    if (loadedFirst) {
        rig.account(true, 44, twentyServers());
    } else {
        rig.cache(configs(twentyServers()));
        rig.api.signIn();
        // As the app makes it: the window does not wait for the tunnel's saved configuration.
        rig.vpn = std::make_unique<Vpn>(rig.tunnels, rig.extensions, rig.api.store, rig.clock, rig.desktop,
                                        rig.lookupNetwork, rig.service().origin(),
                                        rig.service().origin() + QStringLiteral("/json"), nullptr,
                                        QNetworkProxy(QNetworkProxy::NoProxy));
        rig.make();
    }
    std::printf("building\n"); // the model, the tunnel and the rig's service are ready
    std::fflush(stdout);
    MainWindow window(rig.context());
    FirstPaint paint;
    window.show();
    paint.wait();
    return 0;
}

int appChild() {
    UiRig rig;
    rig.account(true, 44, twentyServers());
    MainWindow window(rig.context());
    window.show();
    idle(500);
    reportWithLoad(QStringLiteral("rss"), rssMb());

    StallProbe probe;
    probe.start();
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        if (cycle == kCycles / 2) // growth in the second half too would be a leak, not a cache filling
            report(QStringLiteral("rss_half_cycles"), rssMb());
        startMainTask(rig.tunnel().connect(*rig.model->selected()));
        drive([&] { return rig.tunnel().status() == VpnStatus::On; }, &rig.clock);
        rig.tunnel().disconnect();
        drive([&] { return rig.tunnel().status() == VpnStatus::Off; }, &rig.clock);
        // What the fakes record of each cycle is the rig's memory, not the app's.
        if (FakeTunnelConnection* connection = rig.tunnels.connection()) {
            connection->starts.clear();
            connection->startedServers.clear();
        }
        rig.service().clearRequests();
    }
    probe.stop();
    probe.report(QStringLiteral("cycles"));
    probe.forget();
    settle();
    report(QStringLiteral("rss_cycles"), rssMb());
    malloc_trim(0); // what of the growth is freed memory the allocator keeps
    report(QStringLiteral("rss_cycles_trimmed"), rssMb());

    probe.start();
    for (int load = 0; load < kLoads; ++load)
        rig.finish(rig.model->load());
    probe.stop();
    probe.report(QStringLiteral("load"));
    rig.service().clearRequests();

    updateStalls(rig);
    rig.service().clearRequests();

    startMainTask(rig.tunnel().connect(*rig.model->selected()));
    drive([&] { return rig.tunnel().status() == VpnStatus::On; }, &rig.clock);
    cpuHiddenAndShown(window);
    return 0;
}

struct Figures {
    QMap<QString, double> values;
    double buildingMs = 0;
    double firstPaintingMs = 0;
    double firstFrameMs = 0;
    double firstFrameLoad = 0;
};

Figures runChild(const QString& mode) {
    Figures figures;
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer started;
    started.start();
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), mode});
    while (child.state() != QProcess::NotRunning || child.canReadLine()) {
        if (!child.canReadLine() && !child.waitForReadyRead(600'000))
            if (child.state() == QProcess::NotRunning && !child.canReadLine())
                break;
        while (child.canReadLine()) {
            const QString line = QString::fromUtf8(child.readLine()).trimmed();
            if (line == QLatin1String("building")) {
                figures.buildingMs = static_cast<double>(started.nsecsElapsed()) / 1e6;
            } else if (line == QLatin1String("painting")) {
                figures.firstPaintingMs = static_cast<double>(started.nsecsElapsed()) / 1e6;
            } else if (line == QLatin1String("painted")) {
                figures.firstFrameMs = static_cast<double>(started.nsecsElapsed()) / 1e6;
                figures.firstFrameLoad = loadAverage();
            } else if (const qsizetype eq = line.indexOf(u'='); eq > 0) {
                figures.values.insert(line.left(eq), line.mid(eq + 1).toDouble());
            }
        }
    }
    child.waitForFinished(-1);
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        std::fprintf(stderr, "bench_gui_footprint: the %s child failed\n", qPrintable(mode));
    return figures;
}

double median(const QList<double>& values) {
    return bench::spread({values.begin(), values.end()}).median;
}

double ratio(double a, double b) {
    return b > 0 ? a / b : 0.0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("VEMKO_BUILD_DIR")) // where the update's tools are
        qputenv("VEMKO_BUILD_DIR",
                QFileInfo(app.applicationDirPath() + QStringLiteral("/..")).canonicalFilePath().toUtf8());
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--child")) {
        stillStyle();
        Brand::applyLook(app);
        const std::jthread fonts = Brand::warmUpFonts();
        const QString mode = args[2];
        if (mode == QLatin1String("app-frame") || mode == QLatin1String("app-loaded-frame"))
            return appFrameChild(mode == QLatin1String("app-loaded-frame"));
        if (mode == QLatin1String("text-frame"))
            return bareChild(true, true);
        return mode.startsWith(QLatin1String("bare")) ? bareChild(mode.endsWith(QLatin1String("-frame")))
                                                      : appChild();
    }

    std::printf("load average at start: %.2f\n", loadAverage());
    // First frames: alternating rounds of processes that end at their first paint, medians.
    QList<double> bareFrames, barePaintings, textFrames, appFrames, appPaintings, loadedFrames, frameLoads;
    QList<double> bareWindows, appWindows; // from building the window to its first frame
    for (int round = 0; round < kFrameRounds; ++round) {
        const Figures bareFrame = runChild(QStringLiteral("bare-frame"));
        bareFrames.append(bareFrame.firstFrameMs);
        barePaintings.append(bareFrame.firstPaintingMs);
        bareWindows.append(bareFrame.firstFrameMs - bareFrame.buildingMs);
        textFrames.append(runChild(QStringLiteral("text-frame")).firstFrameMs);
        const Figures appFrame = runChild(QStringLiteral("app-frame"));
        appFrames.append(appFrame.firstFrameMs);
        appPaintings.append(appFrame.firstPaintingMs);
        appWindows.append(appFrame.firstFrameMs - appFrame.buildingMs);
        frameLoads.append(appFrame.firstFrameLoad);
        loadedFrames.append(runChild(QStringLiteral("app-loaded-frame")).firstFrameMs);
    }
    const Figures bare = runChild(QStringLiteral("bare"));
    const Figures vemko = runChild(QStringLiteral("app"));
    const auto value = [](const Figures& figures, const char* key) {
        return figures.values.value(QLatin1String(key));
    };
    const auto load = [&](const char* key) {
        return value(vemko, (QByteArray(key) + "_load").constData());
    };

    const double bareFrame = median(bareFrames);
    std::printf("first painted frame as the app starts (servers cached, refreshed after the frame): %.1f ms, "
                "bare %.1f ms, ratio %.2f (median of %d; load %.2f)\n",
                median(appFrames), bareFrame, ratio(median(appFrames), bareFrame), kFrameRounds,
                median(frameLoads));
    std::printf("  until its painting began: %.1f ms, bare %.1f ms, ratio %.2f\n", median(appPaintings),
                median(barePaintings), ratio(median(appPaintings), median(barePaintings)));
    std::printf("  from building the window to its first frame: %.1f ms, bare %.1f ms, ratio %.2f\n",
                median(appWindows), median(bareWindows), ratio(median(appWindows), median(bareWindows)));
    std::printf("  with the rig loading the account first: %.1f ms, ratio %.2f\n", median(loadedFrames),
                ratio(median(loadedFrames), bareFrame));
    std::printf("  a bare window with one line of text (the fonts' start-up alone): %.1f ms, ratio %.2f\n",
                median(textFrames), ratio(median(textFrames), bareFrame));
    const double rss = value(vemko, "rss"), bareRss = value(bare, "rss");
    std::printf("RSS after start: %.1f MB, bare %.1f MB, ratio %.2f (load %.2f)\n", rss, bareRss,
                ratio(rss, bareRss), load("rss"));
    std::printf("RSS growth after %d status cycles: %.2f MB (%.2f MB of it in the second half)\n", kCycles,
                value(vemko, "rss_cycles") - rss,
                value(vemko, "rss_cycles") - value(vemko, "rss_half_cycles"));
    std::printf("our timers ticking while hidden: %d\n", static_cast<int>(value(vemko, "timers_hidden")));
    const double hidden = value(vemko, "cpu_hidden"), bareHidden = value(bare, "cpu_hidden");
    std::printf("CPU over %d s hidden: %.3f s (%.2f %% of a core), bare %.3f s, ratio %.2f (load %.2f)\n",
                kCpuSeconds, hidden, 100 * hidden / kCpuSeconds, bareHidden, ratio(hidden, bareHidden),
                load("cpu_hidden"));
    const double shown = value(vemko, "cpu_shown"), bareShown = value(bare, "cpu_shown");
    std::printf(
        "CPU over %d s shown connected: %.3f s (%.2f %% of a core), bare %.3f s, ratio %.2f (load %.2f)\n",
        kCpuSeconds, shown, 100 * shown / kCpuSeconds, bareShown, ratio(shown, bareShown), load("cpu_shown"));
    std::printf("  (the second it came back on screen: %.3f s, bare %.3f s)\n", value(vemko, "cpu_showing"),
                value(bare, "cpu_showing"));
    std::printf("repaints a second shown connected: %.1f, bare %.1f\n", value(vemko, "repaints_shown"),
                value(bare, "repaints_shown"));
    const double bareStall = value(bare, "stall_max_idle");
    std::printf("GUI thread stalls (the longest event it handled, and the 99th percentile), bare window "
                "idle: %.1f ms, %.2f ms\n",
                bareStall, value(bare, "stall_p99_idle"));
    const std::pair<const char*, const char*> phases[] = {
        {"cycles", "status cycles"},
        {"load", "account refresh"},
        {"download", "update download (the rig's service serves it on this thread)"},
        {"unpack", "update unpack + verify"},
    };
    for (const auto& [key, name] : phases) {
        const QString longest = QStringLiteral("stall_max_") + QLatin1String(key);
        if (!vemko.values.contains(longest))
            continue;
        const double max = vemko.values.value(longest);
        std::printf("  %s: longest %.1f ms (ratio %.1f), 99th percentile %.2f ms (load %.2f)\n", name, max,
                    ratio(max, bareStall),
                    vemko.values.value(QStringLiteral("stall_p99_") + QLatin1String(key)),
                    vemko.values.value(longest + QStringLiteral("_load")));
    }
    if (vemko.values.contains(QStringLiteral("update_mb")))
        std::printf("  (the update archive: %.1f MB)\n", value(vemko, "update_mb"));
    std::printf("load average at end: %.2f\n", loadAverage());
    return 0;
}
