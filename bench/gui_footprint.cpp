// The GUI's footprint against a bare QWidget window of the same size, each in a process of its
// own: resident memory after start (signed in, home tab, 20 servers), growth after 1,000 status
// cycles off → connecting → on → off through the fake tunnel, CPU time over 10 s hidden and shown
// connected, and the time from process start to the first painted frame.
//
//   bench_gui_footprint            runs both children and prints the figures
//   bench_gui_footprint --child bare|app   (internal)

#include "MainWindow.h"
#include "screens/Brand.h"
#include "screens/Phase.h"
#include "screens/UiRig.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <cstdio>
#include <ctime>

namespace {

constexpr int kCycles = 1000;
constexpr int kCpuSeconds = 10;

double rssMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// CPU time spent while the event loop runs for `seconds` of real time.
double cpuOver(int seconds) {
    const double start = cpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    return cpuSeconds() - start;
}

class FirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            std::printf("painted\n");
            std::fflush(stdout);
        }
        return QObject::eventFilter(watched, event);
    }
    bool m_done = false;
};

void report(const char* key, double value) {
    std::printf("%s=%.4f\n", key, value);
    std::fflush(stdout);
}

int bareChild() {
    QWidget window;
    window.setFixedSize(460, 720);
    FirstPaint paint;
    window.installEventFilter(&paint);
    window.show();
    QEventLoop settleLoop;
    QTimer::singleShot(500, &settleLoop, &QEventLoop::quit);
    settleLoop.exec();
    report("rss", rssMb());
    window.hide();
    report("cpu_hidden", cpuOver(kCpuSeconds));
    window.show();
    report("cpu_shown", cpuOver(kCpuSeconds));
    return 0;
}

int appChild() {
    QStringList servers;
    for (int i = 1; i <= 20; ++i)
        servers.append(QStringLiteral("Сервер %1").arg(i));
    UiRig rig;
    rig.account(true, 44, servers);
    MainWindow window(rig.context());
    FirstPaint paint;
    window.installEventFilter(&paint);
    window.show();
    QEventLoop settleLoop;
    QTimer::singleShot(500, &settleLoop, &QEventLoop::quit);
    settleLoop.exec();
    report("rss", rssMb());

    for (int cycle = 0; cycle < kCycles; ++cycle) {
        startMainTask(rig.tunnel().connect(*rig.model->selected()));
        drive([&] { return rig.tunnel().status() == VpnStatus::On; }, &rig.clock);
        rig.tunnel().disconnect();
        drive([&] { return rig.tunnel().status() == VpnStatus::Off; }, &rig.clock);
    }
    settle();
    report("rss_cycles", rssMb());

    startMainTask(rig.tunnel().connect(*rig.model->selected()));
    drive([&] { return rig.tunnel().status() == VpnStatus::On; }, &rig.clock);
    window.hide();
    int running = 0;
    for (Phase* phase : window.findChildren<Phase*>())
        running += phase->running() ? 1 : 0;
    report("timers_hidden", running);
    report("cpu_hidden", cpuOver(kCpuSeconds));
    window.show();
    report("cpu_shown", cpuOver(kCpuSeconds));
    return 0;
}

struct Figures {
    QMap<QString, double> values;
    double firstFrameMs = 0;
};

Figures runChild(const QString& mode) {
    Figures figures;
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer started;
    started.start();
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), mode});
    while (child.state() != QProcess::NotRunning || child.canReadLine()) {
        if (!child.canReadLine() && !child.waitForReadyRead(60000))
            if (child.state() == QProcess::NotRunning && !child.canReadLine())
                break;
        while (child.canReadLine()) {
            const QString line = QString::fromUtf8(child.readLine()).trimmed();
            if (line == QLatin1String("painted"))
                figures.firstFrameMs = static_cast<double>(started.nsecsElapsed()) / 1e6;
            else if (const int eq = line.indexOf(u'='); eq > 0)
                figures.values.insert(line.left(eq), line.mid(eq + 1).toDouble());
        }
    }
    child.waitForFinished(-1);
    return figures;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--child")) {
        stillStyle();
        Brand::applyLook(app);
        return args[2] == QLatin1String("bare") ? bareChild() : appChild();
    }

    // Median of three first-frame times; one run for the rest.
    QList<double> bareFrames, appFrames;
    Figures bare, vemko;
    for (int round = 0; round < 3; ++round) {
        bare = runChild(QStringLiteral("bare"));
        bareFrames.append(bare.firstFrameMs);
        if (round == 0)
            vemko = runChild(QStringLiteral("app"));
        else
            appFrames.append(runChild(QStringLiteral("app")).firstFrameMs);
    }
    appFrames.append(vemko.firstFrameMs);
    std::sort(bareFrames.begin(), bareFrames.end());
    std::sort(appFrames.begin(), appFrames.end());

    const auto ratio = [](double a, double b) {
        return b > 0 ? a / b : 0.0;
    };
    const double rss = vemko.values.value("rss"), bareRss = bare.values.value("rss");
    std::printf("RSS after start: %.1f MB, bare %.1f MB, ratio %.2f\n", rss, bareRss, ratio(rss, bareRss));
    std::printf("RSS growth after %d status cycles: %.2f MB\n", kCycles,
                vemko.values.value("rss_cycles") - rss);
    std::printf("our timers running while hidden: %d\n",
                static_cast<int>(vemko.values.value("timers_hidden")));
    const double hidden = vemko.values.value("cpu_hidden"), bareHidden = bare.values.value("cpu_hidden");
    std::printf("CPU over %d s hidden: %.3f s (%.2f %% of a core), bare %.3f s\n", kCpuSeconds, hidden,
                100 * hidden / kCpuSeconds, bareHidden);
    const double shown = vemko.values.value("cpu_shown"), bareShown = bare.values.value("cpu_shown");
    std::printf("CPU over %d s shown connected: %.3f s (%.2f %% of a core), bare %.3f s, ratio %.2f\n",
                kCpuSeconds, shown, 100 * shown / kCpuSeconds, bareShown, ratio(shown, bareShown));
    std::printf("first painted frame: %.1f ms, bare %.1f ms, ratio %.2f\n", appFrames[1], bareFrames[1],
                ratio(appFrames[1], bareFrames[1]));
    return 0;
}
