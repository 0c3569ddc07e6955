#include "cli/Console.h"

#include <QByteArray>
#include <cerrno>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace {

void writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += n;
    }
}

// One line from `fd`, without its line end; nothing at end of input before any byte, or when a
// signal interrupts the read (Ctrl-C at the prompt).
std::optional<QByteArray> readLine(int fd) {
    QByteArray line;
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0)
            return std::nullopt; // EINTR included: the interrupt ends the prompt
        if (n == 0)
            return line.isEmpty() ? std::nullopt : std::optional<QByteArray>(line);
        if (c == '\n')
            break;
        line.append(c);
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

// Echo off for as long as it lives; the previous mode comes back however the prompt ends.
class NoEcho {
public:
    explicit NoEcho(int fd) : m_fd(fd) {
        if (::tcgetattr(fd, &m_saved) != 0)
            return;
        termios quiet = m_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        m_active = ::tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
    }
    ~NoEcho() {
        if (m_active)
            ::tcsetattr(m_fd, TCSAFLUSH, &m_saved);
    }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;

private:
    int m_fd;
    termios m_saved{};
    bool m_active = false;
};

} // namespace

ProcessConsole::ProcessConsole() : m_errTerminal(::isatty(STDERR_FILENO) == 1) {}

void ProcessConsole::out(const QString& line) {
    clearProgress();
    writeAll(STDOUT_FILENO, (line + u'\n').toUtf8());
}

void ProcessConsole::err(const QString& line) {
    clearProgress();
    writeAll(STDERR_FILENO, (line + u'\n').toUtf8());
}

void ProcessConsole::progress(const QString& text) {
    if (!m_errTerminal)
        return;
    // Back to the line's start, the text, then erase whatever a longer earlier text left.
    writeAll(STDERR_FILENO, "\r" + text.toUtf8() + "\033[K");
    m_progressShown = !text.isEmpty();
}

void ProcessConsole::clearProgress() {
    if (!m_progressShown)
        return;
    writeAll(STDERR_FILENO, "\r\033[K");
    m_progressShown = false;
}

std::optional<QString> ProcessConsole::secret(const QString& prompt) {
    clearProgress();
    if (::isatty(STDIN_FILENO) != 1) {
        const auto line = readLine(STDIN_FILENO);
        return line ? std::optional<QString>(QString::fromUtf8(*line)) : std::nullopt;
    }
    writeAll(STDERR_FILENO, prompt.toUtf8());
    std::optional<QByteArray> line;
    {
        const NoEcho quiet(STDIN_FILENO);
        line = readLine(STDIN_FILENO);
    }
    if (!line)
        writeAll(STDERR_FILENO, "\n"); // ECHONL did not end the prompt's line
    return line ? std::optional<QString>(QString::fromUtf8(*line)) : std::nullopt;
}

bool ProcessConsole::hasDesktop() const {
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || !qEnvironmentVariableIsEmpty("DISPLAY");
}
