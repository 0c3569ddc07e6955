#include "SingleInstance.h"

#include "platform/TunnelPaths.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>

namespace {
constexpr char ack = '\x06';
constexpr int forwardTimeoutMs = 5000;
constexpr qint32 maxMessage = 1 << 20; // a forwarded argument list is small; refuse anything huge
} // namespace

SingleInstance::SingleInstance(QString folder, QObject* parent)
    : QObject(parent), m_folder(std::move(folder)) {}

SingleInstance::~SingleInstance() {
    if (m_server)
        m_server->close();
}

QString SingleInstance::socketPath() const {
    return QDir(m_folder).filePath(QStringLiteral("gui.socket"));
}

SingleInstance::Role SingleInstance::claim(const QStringList& arguments) {
    if (!TunnelPaths::ensurePrivateDir(m_folder))
        return Role::Failed;
    const QDeadlineTimer deadline(forwardTimeoutMs);
    m_lock = std::make_unique<QLockFile>(QDir(m_folder).filePath(QStringLiteral("gui.lock")));
    m_lock->setStaleLockTime(0); // a lock whose process is gone is stale at once
    while (!deadline.hasExpired()) {
        if (m_lock->tryLock(0))
            return listen() ? Role::First : Role::Failed;
        // Another process holds the lock: it runs, or is just starting to listen.
        if (forward(arguments, static_cast<int>(qMax<qint64>(100, deadline.remainingTime()))))
            return Role::Forwarded;
        QThread::msleep(50);
    }
    return Role::Failed;
}

bool SingleInstance::forward(const QStringList& arguments, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(qMin(timeoutMs, 1000)))
        return false;
    QByteArray body;
    {
        QDataStream out(&body, QIODevice::WriteOnly);
        out << arguments;
    }
    QByteArray message;
    {
        QDataStream out(&message, QIODevice::WriteOnly);
        out << static_cast<qint32>(body.size());
    }
    message.append(body);
    socket.write(message);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // The first instance answers once it has taken the arguments.
    while (socket.bytesAvailable() < 1)
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    return socket.read(1) == QByteArray(1, ack);
}

bool SingleInstance::listen() {
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock, so a socket file left here belongs to a process that crashed.
    QLocalServer::removeServer(socketPath());
    if (!m_server->listen(socketPath()))
        return false;
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    return true;
}

void SingleInstance::accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->bytesAvailable() < 4)
                return;
            qint32 size = 0;
            QDataStream(socket->peek(4)) >> size;
            if (size < 0 || size > maxMessage) {
                socket->abort();
                return;
            }
            if (socket->bytesAvailable() < 4 + size)
                return;
            socket->read(4);
            QStringList arguments;
            QDataStream stream(socket->read(size));
            stream >> arguments;
            if (stream.status() != QDataStream::Ok) {
                socket->abort();
                return;
            }
            socket->write(QByteArray(1, ack));
            socket->flush();
            deliver(arguments);
        });
    }
}

void SingleInstance::deliver(const QStringList& arguments) {
    if (m_handler)
        m_handler(arguments);
    else
        m_pending.append(arguments);
}

void SingleInstance::setHandler(std::function<void(const QStringList&)> handler) {
    m_handler = std::move(handler);
    const QList<QStringList> pending = std::exchange(m_pending, {});
    for (const QStringList& arguments : pending)
        m_handler(arguments);
}
