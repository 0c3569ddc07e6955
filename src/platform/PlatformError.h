#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// A failure reported by an operating-system service (saving the tunnel configuration, starting
// the tunnel, activating the tunnel host), with the system's own description.
struct PlatformError : std::exception {
    QString description;

    explicit PlatformError(QString text) : description(std::move(text)), m_what(description.toUtf8()) {}
    const char* what() const noexcept override { return m_what.constData(); }

private:
    QByteArray m_what;
};
