#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

// Exit statuses: scripts tell a failed action from a mistyped command.
namespace exitcode {
constexpr int ok = 0;
constexpr int failed = 1;
constexpr int usage = 2;
constexpr int interrupted = 130; // the shell's own value for a Ctrl-C
} // namespace exitcode

// One command as typed, its options already taken out.
struct Invocation {
    QString command;
    QStringList words; // the positional arguments after the command
    bool json = false;
    std::optional<qint64> devices; // plans --devices N
    bool thisDevice = false;       // unbind --this
    bool cached = false;           // servers --cached: no request to the service
};

// What the command line says without starting the app: help, the version, a usage error.
struct Immediate {
    int exit = exitcode::ok;
    QString out; // for standard output
    QString err; // for standard error
};

// Reads the arguments after the program name.
std::variant<Invocation, Immediate> parseCommandLine(const QStringList& arguments);

// The general help, or one command's (nothing for an unknown command).
QString generalHelp();
std::optional<QString> commandHelp(const QString& command);
// The command names, for completion.
QStringList commandNames();
