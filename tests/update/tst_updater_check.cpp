#include "update/UpdaterFixture.h"

#include <QSignalSpy>
#include <QTest>

namespace {
LogLine info(const QString& text) {
    return {QtInfoMsg, text};
}
LogLine error(const QString& text) {
    return {QtCriticalMsg, text};
}
} // namespace

class TestUpdaterCheck : public QObject {
    Q_OBJECT

private slots:
    void sameBuildOffersNothing() {
        UpdaterFixture f;
        f.offer(42);
        QSignalSpy changed(f.updater.get(), &Updater::availableChanged);
        QVERIFY(f.checkNow(true));
        QVERIFY(!f.updater->available());
        QCOMPARE(changed.count(), 0);
        QCOMPARE(f.log.lines, QList<LogLine>{info("проверка: на сервере 42, у нас 42")});
        QCOMPARE(f.archiveRequests(), 0);
        // The check asks without the account's token and names this platform.
        const auto asked = f.api.service.requests("GET", "/api/v1/app/version");
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].path, QByteArray("/api/v1/app/version?platform=linux"));
    }

    void higherBuildIsOffered_data() {
        QTest::addColumn<bool>("automatic");
        QTest::addColumn<bool>("autoUpdate");
        QTest::addColumn<bool>("installs");
        QTest::newRow("on demand") << false << true << false;
        QTest::newRow("automatic, updates on") << true << true << true;
        QTest::newRow("automatic, updates off") << true << false << false;
    }

    void higherBuildIsOffered() {
        QFETCH(bool, automatic);
        QFETCH(bool, autoUpdate);
        QFETCH(bool, installs);
        UpdaterFixture f;
        f.api.defaults.setBoolean(QStringLiteral("auto_update"), autoUpdate);
        f.offer(43); // same version name as ours: only the build decides
        QSignalSpy changed(f.updater.get(), &Updater::availableChanged);
        QVERIFY(f.checkNow(automatic));

        QVERIFY(f.updater->hasAvailable());
        QCOMPARE(f.updater->available()->version_code, 43);
        QCOMPARE(f.updater->availableVersionName(), QStringLiteral("1.2.3"));
        QCOMPARE(f.updater->availableNotes(), QStringLiteral("Быстрее"));
        QCOMPARE(changed.count(), 1);
        // No archive is served: an installation that ran ends in the download's failure.
        QCOMPARE(f.archiveRequests(), installs ? 1 : 0);
        QCOMPARE(f.updater->message(),
                 installs ? std::optional(QStringLiteral("Не удалось обновиться: сервер не отдал файл"))
                          : std::nullopt);
        const QList<int> expected = installs ? QList<int>{0, -1} : QList<int>{};
        QCOMPARE(f.progress, expected);
    }

    void lowerBuildKeepsTheOffer() {
        UpdaterFixture f;
        f.offer(44);
        QVERIFY(f.checkNow());
        f.offer(41);
        QSignalSpy changed(f.updater.get(), &Updater::availableChanged);
        QVERIFY(f.checkNow());
        QCOMPARE(f.updater->available()->version_code, 44);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(f.log.lines.last(), info("проверка: на сервере 41, у нас 42"));
    }

    void failedRequestOnlyLogs_data() {
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QString>("logged");
        QTest::newRow("refusal") << ScriptedReply::empty(500) << "проверка не удалась: Ошибка сети (500)";
        QTest::newRow("service's own text") << ScriptedReply::json(503, QJsonObject{{"error", "Техработы"}})
                                            << "проверка не удалась: Техработы";
    }

    void failedRequestOnlyLogs() {
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, logged);
        UpdaterFixture f;
        f.offer(43);
        QVERIFY(f.checkNow());
        f.log.lines.clear();
        f.api.service.on("GET", "/api/v1/app/version", reply);
        QSignalSpy available(f.updater.get(), &Updater::availableChanged);
        QSignalSpy message(f.updater.get(), &Updater::messageChanged);
        QVERIFY(f.checkNow(true));
        QCOMPARE(f.log.lines, QList<LogLine>{error(logged)});
        QCOMPARE(f.updater->available()->version_code, 43);
        QCOMPARE(available.count(), 0);
        QCOMPARE(message.count(), 0);
        QCOMPARE(f.updater->progress(), -1);
        QCOMPARE(f.archiveRequests(), 0);
    }
};

QTEST_GUILESS_MAIN(TestUpdaterCheck)
#include "tst_updater_check.moc"
