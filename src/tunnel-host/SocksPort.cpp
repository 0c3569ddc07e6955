#include "SocksPort.h"

#include <QFile>
#include <QSet>
#include <arpa/inet.h>
#include <dirent.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace SocksPort {

namespace {

constexpr quint32 loopback = 0x7F000001;

// Socket inodes of TCP listeners on 127.0.0.1:10808, asked of the kernel over sock_diag with only
// the LISTEN state: the kernel walks just its listening table, however many connections (say,
// thousands in TIME_WAIT) the machine holds. Nothing when the kernel cannot answer.
std::optional<QSet<quint32>> listenerInodesByNetlink() {
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0)
        return std::nullopt;
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } query{};
    query.header.nlmsg_len = sizeof query;
    query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    query.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    query.request.sdiag_family = AF_INET;
    query.request.sdiag_protocol = IPPROTO_TCP;
    query.request.idiag_states = 1U << TCP_LISTEN;

    std::optional<QSet<quint32>> inodes;
    if (::send(fd, &query, sizeof query, 0) == ssize_t(sizeof query)) {
        alignas(nlmsghdr) char buffer[16 * 1024];
        QSet<quint32> found;
        bool done = false;
        bool failed = false;
        while (!done && !failed) {
            ssize_t length = ::recv(fd, buffer, sizeof buffer, 0);
            if (length <= 0)
                break; // neither done nor an answer: not found
            for (auto* message = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(message, length);
                 message = NLMSG_NEXT(message, length)) {
                if (message->nlmsg_type == NLMSG_DONE) {
                    done = true;
                    break;
                }
                if (message->nlmsg_type == NLMSG_ERROR) {
                    failed = true;
                    break;
                }
                const auto* socket = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
                if (ntohs(socket->id.idiag_sport) == port && ntohl(socket->id.idiag_src[0]) == loopback)
                    found.insert(socket->idiag_inode);
            }
        }
        if (done)
            inodes = std::move(found);
    }
    ::close(fd);
    return inodes;
}

// The same from /proc/net/tcp ("sl local_address rem_address st ... inode": local "0100007F:2A30",
// state 0A = LISTEN), for a kernel without sock_diag. Slow on a machine with many connections.
QSet<quint32> listenerInodesFromProc() {
    QSet<quint32> inodes;
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return inodes;
    const QByteArray local =
        QByteArray("0100007F:") + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (qsizetype at = 1; at < lines.size(); ++at) { // the first line is the header
        const QList<QByteArray> fields = lines.at(at).simplified().split(' ');
        if (fields.size() > 9 && fields.at(1) == local && fields.at(3) == "0A")
            inodes.insert(fields.at(9).toUInt());
    }
    return inodes;
}

} // namespace

bool listenedBy(qint64 pid) {
    const auto fromKernel = listenerInodesByNetlink();
    const QSet<quint32> inodes = fromKernel ? *fromKernel : listenerInodesFromProc();
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
        if (text.startsWith("socket:[") && text.endsWith(']') &&
            inodes.contains(text.mid(8).chopped(1).toUInt())) {
            found = true;
            break;
        }
    }
    ::closedir(folder);
    return found;
}

} // namespace SocksPort
