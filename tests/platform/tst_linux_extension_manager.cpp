// Activation of the tunnel component on Linux: vemko-tunnel and the engine must be there and run.
#include "engine/Discovery.h"
#include "platform/LinuxExtensionManager.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

class RecordingDelegate : public QObject, public ExtensionRequestDelegate {
    Q_OBJECT
public:
    ReplacementAction actionForReplacingExtension(const QString&) override {
        return ReplacementAction::Replace;
    }
    void requestNeedsUserApproval(const QString&) override { outcomes << "approval"; }
    void requestDidFinish(const QString& identifier, Result) override {
        outcomes << "finished:" + identifier;
        emit answered();
    }
    void requestDidFail(const QString& identifier, const QString& error) override {
        outcomes << "failed:" + identifier + ":" + error;
        emit answered();
    }
    QStringList outcomes;

signals:
    void answered();
};

const QString id = "app.vemko.vpn.tunnel";

} // namespace

class LinuxExtensionManagerTest : public QObject {
    Q_OBJECT

    QString m_host;
    QTemporaryDir m_dir;

    QStringList activate(LinuxExtensionManager& manager) {
        RecordingDelegate delegate;
        QSignalSpy answered(&delegate, &RecordingDelegate::answered);
        manager.submitActivation(id, delegate);
        // Answers come later on the event loop, never from inside submitActivation().
        if (!delegate.outcomes.isEmpty())
            return {"answered synchronously"};
        if (!answered.wait(30000))
            return {"no answer"};
        QCoreApplication::processEvents(); // a second, wrong answer would show up here
        return delegate.outcomes;
    }

    QString script(const QString& name, const QByteArray& body) {
        const QString path = m_dir.path() + '/' + name;
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("#!/bin/sh\n" + body + "\n");
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return path;
    }

private slots:
    void initTestCase() {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_dir.path() + "/cache"));
        m_host = qEnvironmentVariable("VEMKO_BUILD_DIR") + "/bin/vemko-tunnel";
        QVERIFY2(QFileInfo(m_host).isExecutable(), qPrintable(m_host));
    }

    void finishesWhenHostAndEngineRun() {
        if (QStandardPaths::findExecutable("v2ray").isEmpty())
            QSKIP("the v2ray engine is not installed");
        LinuxExtensionManager manager(m_host, "v2ray");
        QCOMPARE(activate(manager), QStringList{"finished:" + id});
    }

    void failsNamingWhatIsMissing_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("message");
        const QString hostMissing = "Не найден компонент vemko-tunnel. Переустановите Вемко VPN.";
        const QString engineMissing =
            "Не найден движок туннеля: установите Xray или пакет v2ray (sudo apt install v2ray) и повторите.";
        QTest::newRow("no host") << "/nonexistent/vemko-tunnel"
                                 << "v2ray" << hostMissing;
        QTest::newRow("host not executable") << "plain file"
                                             << "v2ray" << hostMissing;
        QTest::newRow("no engine at a path") << ""
                                             << "/nonexistent/v2ray" << engineMissing;
        QTest::newRow("no engine on PATH") << ""
                                           << "v2ray-not-installed-here" << engineMissing;
        // The engine named by the environment when none is given.
        QTest::newRow("no engine from the environment") << ""
                                                        << "$VEMKO_ENGINE" << engineMissing;
    }
    void failsNamingWhatIsMissing() {
        QFETCH(QString, host);
        QFETCH(QString, engine);
        QFETCH(QString, message);
        if (host == "plain file") {
            host = script("vemko-tunnel", "exit 0");
            QFile::setPermissions(host, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
        if (engine == "$VEMKO_ENGINE")
            qputenv("VEMKO_ENGINE", "/nonexistent/v2ray");
        LinuxExtensionManager manager(host.isEmpty() ? m_host : host,
                                      engine == "$VEMKO_ENGINE" ? TunnelPaths::engineProgram() : engine);
        qunsetenv("VEMKO_ENGINE");
        QCOMPARE(activate(manager), QStringList{"failed:" + id + ":" + message});
    }

    // The engine's own check runs once per process and engine file (a working one finishes, a
    // broken one fails naming it); that it is still there is checked on every activation.
    void engineCheckRunsOncePerEngineFile() {
        const QString runs = m_dir.path() + "/runs";
        const QString engine = script("v2ray-counted", "echo run >> '" + QFile::encodeName(runs) + "'");
        const auto runCount = [&] {
            QFile file(runs);
            return file.open(QIODevice::ReadOnly) ? file.readAll().count("run") : 0;
        };
        for (int attempt = 0; attempt < 3; ++attempt) {
            LinuxExtensionManager manager(m_host, engine);
            QCOMPARE(activate(manager), QStringList{"finished:" + id});
        }
        QCOMPARE(runCount(), 1);

        // An engine the engine search already asked for its version, here or in an earlier run,
        // is not asked again: the first connect of a session starts no extra process.
        const QString found =
            script("xray-found", "echo run >> '" + QFile::encodeName(runs) +
                                     "'; echo 'Xray 25.1.1 (Xray, Penetrates Everything.)'");
        engine::Places places;
        places.override = found.toStdString();
        places.cacheFile =
            QFile::encodeName(TunnelPaths::defaultCacheDir()).toStdString() + "/engine-version";
        QVERIFY(engine::discover(places).engine);
        LinuxExtensionManager searched(m_host, found);
        QCOMPARE(activate(searched), QStringList{"finished:" + id});
        QCOMPARE(runCount(), 2);
        QFile::remove(found);

        // A replaced binary is a different engine: checked again, and a broken one fails.
        QFile::remove(engine);
        script("v2ray-counted", "echo run >> '" + QFile::encodeName(runs) + "'; exit 1");
        LinuxExtensionManager replaced(m_host, engine);
        const QStringList broken = activate(replaced); // one answer, naming the engine
        QVERIFY2(broken.size() == 1 &&
                     broken[0].startsWith("failed:" + id + ":Движок туннеля не запускается"),
                 qPrintable(broken.join(u'|')));
        QCOMPARE(runCount(), 3);

        QFile::remove(engine);
        LinuxExtensionManager removed(m_host, engine);
        QVERIFY(activate(removed).value(0).startsWith("failed:" + id + ":Не найден движок туннеля"));
    }

    void goneDelegateOrManagerGetsNoCallback() {
        LinuxExtensionManager failing("/nonexistent/vemko-tunnel", "v2ray");
        auto delegate = std::make_unique<RecordingDelegate>();
        failing.submitActivation(id, *delegate);
        delegate.reset();
        QCoreApplication::processEvents(); // the queued answer must find the delegate gone and drop it

        RecordingDelegate survivor;
        QSignalSpy answered(&survivor, &RecordingDelegate::answered);
        {
            LinuxExtensionManager checking(m_host, script("v2ray-slow", "sleep 0.2"));
            checking.submitActivation(id, survivor);
        }
        QVERIFY(!answered.wait(500)); // the check would have answered after 0.2 s
    }
};

QTEST_GUILESS_MAIN(LinuxExtensionManagerTest)
#include "tst_linux_extension_manager.moc"
