#include "update/UpdaterFixture.h"

#include <QSignalSpy>
#include <QTest>

class TestUpdaterCheck : public QObject {
    Q_OBJECT

private slots:
    // Our build is 42. An offer once made stays: a lower answer later never withdraws it.
    void offers_data() {
        QTest::addColumn<qint64>("earlier"); // an earlier check's build, 0 for none
        QTest::addColumn<qint64>("build");
        QTest::addColumn<bool>("automatic");
        QTest::addColumn<bool>("autoUpdate");
        QTest::addColumn<qint64>("offered"); // 0 for no offer
        QTest::addColumn<bool>("installs");
        QTest::addColumn<bool>("packaged"); // installed by the system's package manager
        QTest::newRow("equal build") << 0LL << 42LL << true << true << 0LL << false << false;
        QTest::newRow("higher, on demand") << 0LL << 43LL << false << true << 43LL << false << false;
        QTest::newRow("higher, automatic, updates on")
            << 0LL << 43LL << true << true << 43LL << true << false;
        QTest::newRow("higher, automatic, updates off")
            << 0LL << 43LL << true << false << 43LL << false << false;
        QTest::newRow("lower after an offer") << 44LL << 41LL << true << true << 44LL << false << false;
        QTest::newRow("higher, automatic, from a package")
            << 0LL << 43LL << true << true << 43LL << false << true;
    }
    void offers() {
        QFETCH(qint64, earlier);
        QFETCH(qint64, build);
        QFETCH(bool, automatic);
        QFETCH(bool, autoUpdate);
        QFETCH(qint64, offered);
        QFETCH(bool, installs);
        QFETCH(bool, packaged);
        UpdaterFixture f;
        if (packaged) {
            f.setup.packageManaged = true;
            f.updater =
                std::make_unique<Updater>(f.api.api, f.api.store, f.desktop, f.api.network, f.clock, f.setup);
            QVERIFY(f.updater->packageManaged());
        }
        f.api.defaults.setBoolean(u"auto_update"_qs, autoUpdate);
        if (earlier) {
            f.offer(earlier);
            QVERIFY(f.checkNow());
        }
        f.offer(build); // same version name as ours: only the build decides
        QSignalSpy changed(f.updater.get(), &Updater::availableChanged);
        QVERIFY(f.checkNow(automatic));

        QCOMPARE(f.log.value(earlier ? 1 : 0), info(u"проверка: на сервере %1, у нас 42"_qs.arg(build)));
        QCOMPARE(f.updater->available() ? f.updater->available()->version_code : 0, offered);
        QCOMPARE(changed.count(), offered && !earlier ? 1 : 0);
        // The archive is not found: an installation that ran ends in the download's failure.
        QCOMPARE(f.archiveRequests(), installs ? 1 : 0);
        QCOMPARE(f.updater->message(),
                 installs ? std::optional(u"Не удалось обновиться: сервер не отдал файл"_qs) : std::nullopt);
        QCOMPARE(f.progress, installs ? QList<int>({0, -1}) : QList<int>());
    }

    // A failed check only logs the service's word; the earlier offer stays.
    void failedRequestOnlyLogs() {
        UpdaterFixture f;
        f.offer(43);
        QVERIFY(f.checkNow());
        f.log.clear();
        f.api.service.on("GET", "/api/v1/app/version",
                         ScriptedReply::json(503, QJsonObject{{"error", "Техработы"}}));
        QSignalSpy available(f.updater.get(), &Updater::availableChanged);
        QSignalSpy message(f.updater.get(), &Updater::messageChanged);
        QVERIFY(f.checkNow(true));
        QCOMPARE(f.log, QStringList{critical(u"проверка не удалась: Техработы"_qs)});
        QCOMPARE(f.updater->available()->version_code, 43);
        QCOMPARE(available.count() + message.count(), 0);
        QCOMPARE(f.updater->progress(), -1);
        QCOMPARE(f.archiveRequests(), 0);
    }
};

QTEST_GUILESS_MAIN(TestUpdaterCheck)
#include "tst_updater_check.moc"
