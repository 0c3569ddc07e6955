#pragma once

#include "service/Records.h"

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QUrl>
#include <chrono>
#include <optional>

class Api;
class Clock;
class Desktop;
class QNetworkAccessManager;
class Store;

// Where an installation reads and writes. The defaults are the running app's; tests point every
// path into a temporary folder and the pid at a stand-in process.
struct UpdaterSetup {
    QString installPath; // the AppDir every installation replaces, wherever the running copy lies
    QString publicKey;   // PEM public key the update's signature must verify against
    QString codesign;    // the vemko-codesign tool
    QString tempDir;     // holds "vemko-update.zip", "vemko-update" and "vemko-update.sh"; made
                         // private (0700, ours) before use, refused when it cannot be
    qint64 waitPid = 0;  // the install script waits for this process to exit
    // Bounds on what an update may cost: the archive's size, the bytes its unpacking writes (as
    // written, whatever the archive declares) and its entries, and how long unpacking and the
    // signature check (vemko-codesign) may each run.
    qint64 downloadLimit = qint64{256} << 20;
    qint64 unpackedLimit = qint64{1} << 30;
    qint64 entryLimit = 100'000;
    std::chrono::milliseconds toolLimit{std::chrono::seconds(60)};
    // Installed by the system's package manager (the app runs from under /usr): that manager
    // brings updates, so the check still offers a newer version but install() never runs.
    bool packageManaged = false;

    // ~/.local/opt/Vemko VPN.AppDir; the key and tool among the app's helpers, next to the
    // running executable in an AppDir ("vemko-update-key.pem", "vemko-codesign");
    // <temp>/vemko-vpn-update-<uid>; this process's id.
    static UpdaterSetup defaults();
    static QString defaultInstallPath();
};

// Keeps the app itself current: asks the service for the newest build, then downloads, unpacks
// and verifies it and hands over to a script that swaps the installed AppDir and relaunches it.
// Unpacking and the signature check run as child processes the event loop waits for without
// blocking: the screens stay live and follow `progress`.
class Updater : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool hasAvailable READ hasAvailable NOTIFY availableChanged)
    Q_PROPERTY(QString availableVersionName READ availableVersionName NOTIFY availableChanged)
    Q_PROPERTY(QString availableNotes READ availableNotes NOTIFY availableChanged)
    Q_PROPERTY(int progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(bool hasMessage READ hasMessage NOTIFY messageChanged)
    Q_PROPERTY(QString message READ messageText NOTIFY messageChanged)
    Q_PROPERTY(bool packageManaged READ packageManaged CONSTANT)

public:
    // The tools' time limits run on `clock`.
    Updater(Api& api, const Store& store, Desktop& desktop, QNetworkAccessManager& network, Clock& clock,
            UpdaterSetup setup = UpdaterSetup::defaults(), QObject* parent = nullptr);
    ~Updater() override;

    // The running application's updater, set once by main(); only main() and the shell reach it.
    static Updater& shared();
    static void setShared(Updater& updater);

    // The newer version found by the last check that found one; never cleared.
    std::optional<AppVersion> available() const { return m_available; }
    bool hasAvailable() const { return m_available.has_value(); }
    QString availableVersionName() const { return m_available ? m_available->version_name : QString(); }
    QString availableNotes() const { return m_available ? m_available->notes : QString(); }

    // -1 when no installation runs (or the last one failed); 0, 60 (downloaded), on to 80 as the
    // archive unpacks, 90 (verified), 100 while one runs.
    int progress() const { return m_progress; }

    // The last installation failure, ready to show.
    std::optional<QString> message() const { return m_message; }
    bool hasMessage() const { return m_message.has_value(); }
    QString messageText() const { return m_message.value_or(QString()); }

    // The app came from a system package: the update card shows packageManagedText() instead of
    // offering the download.
    bool packageManaged() const { return m_setup.packageManaged; }
    static QString packageManagedText() {
        return QStringLiteral("Обновления приходят через менеджер пакетов системы");
    }

    QString installPath() const { return m_setup.installPath; }
    const UpdaterSetup& setup() const { return m_setup; }

    // Asks the service for the newest build; with `automatic` and automatic updates on, installs
    // it at once. Never throws: a failed request is only logged.
    QCoro::Task<> check(bool automatic);
    // Downloads, unpacks and verifies `available`, then starts the install script and asks the
    // app to quit. Does nothing for a package-managed install. Never throws: a failure lands in `message`
    // with progress back at -1.
    QCoro::Task<> install();

signals:
    void availableChanged();
    void progressChanged();
    void messageChanged();
    // A check could not reach the service (the screens stay silent; the command line says so).
    void checkFailed(const QString& description);

private:
    QCoro::Task<QString> download(QUrl url);
    QCoro::Task<QString> unpack(QString archive);
    QCoro::Task<> verify(QString bundle);
    void replaceAndRelaunch(const QString& bundle);

    void setAvailable(const AppVersion& version);
    void setProgress(int progress);
    void setMessage(std::optional<QString> message);

    Api& m_api;
    const Store& m_store;
    Desktop& m_desktop;
    QNetworkAccessManager& m_network;
    Clock& m_clock;
    UpdaterSetup m_setup;

    std::optional<AppVersion> m_available;
    int m_progress = -1;
    std::optional<QString> m_message;
};
