#pragma once

#include <QLockFile>
#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

class QLocalServer;

// One GUI process per user. The first one listens on a per-user local socket; a later one hands
// its arguments over, waits for the first to acknowledge them, and ends. Arguments that arrive
// before a handler is set are kept for it.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `folder`: the private per-user runtime folder that holds the socket and its lock.
    explicit SingleInstance(QString folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    enum class Role { First, Forwarded, Failed };
    // Becomes the first instance, or forwards `arguments` to the running one.
    Role claim(const QStringList& arguments);

    // Receives every forwarded argument list, including those that came before it was set.
    void setHandler(std::function<void(const QStringList&)> handler);
    QString socketPath() const;

private:
    bool forward(const QStringList& arguments, int timeoutMs);
    bool listen();
    void accept();
    void deliver(const QStringList& arguments);

    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
    std::function<void(const QStringList&)> m_handler;
    QList<QStringList> m_pending;
};
