#include "SocksPort.h"

#include <QFile>
#include <QSet>
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace SocksPort {

bool accepts() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

namespace {

// Socket inodes of listeners on 127.0.0.1:10808, from /proc/net/tcp
// ("sl local_address rem_address st ... inode": local "0100007F:2A30", state 0A = LISTEN).
QSet<QByteArray> listenerInodes() {
    QSet<QByteArray> inodes;
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return inodes;
    const QByteArray local =
        QByteArray("0100007F:") + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    table.readLine(); // header
    while (!table.atEnd()) {
        const QList<QByteArray> fields = table.readLine().simplified().split(' ');
        if (fields.size() > 9 && fields.at(1) == local && fields.at(3) == "0A")
            inodes.insert(fields.at(9));
    }
    return inodes;
}

} // namespace

bool listenedBy(qint64 pid) {
    const QSet<QByteArray> inodes = listenerInodes();
    if (inodes.isEmpty())
        return false;
    const QByteArray fdDir = "/proc/" + QByteArray::number(pid) + "/fd";
    DIR* folder = ::opendir(fdDir.constData());
    if (!folder)
        return false;
    bool found = false;
    while (const dirent* entry = ::readdir(folder)) {
        char target[64] = {};
        const QByteArray link = fdDir + '/' + entry->d_name;
        const ssize_t length = ::readlink(link.constData(), target, sizeof target - 1);
        const QByteArray text(target, length > 0 ? length : 0);
        // a socket reads "socket:[<inode>]"
        if (text.startsWith("socket:[") && text.endsWith(']') && inodes.contains(text.mid(8).chopped(1))) {
            found = true;
            break;
        }
    }
    ::closedir(folder);
    return found;
}

} // namespace SocksPort
