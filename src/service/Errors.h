#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QString>
#include <exception>

// A refusal by the service: the HTTP status (0 for a reply that was not HTTP), the Russian text
// to show, and the service's machine code ("" when it sent none).
struct ApiError : std::exception {
    qint64 code = 0;
    QString message;
    QString apiCode;

    ApiError(qint64 code, QString message, QString apiCode = {});
    const char* what() const noexcept override { return m_what.constData(); }

private:
    QByteArray m_what;
};

// The app's own failure, carrying the complete Russian text to show.
struct Fail : std::exception {
    QString text;

    explicit Fail(QString text);
    const char* what() const noexcept override { return m_what.constData(); }

private:
    QByteArray m_what;
};

// The network failed before a reply could be judged (no connection, time-out, TLS, bad URL).
struct TransportError : std::exception {
    QNetworkReply::NetworkError code = QNetworkReply::UnknownNetworkError;
    QString description;

    TransportError(QNetworkReply::NetworkError code, QString description);
    const char* what() const noexcept override { return m_what.constData(); }

private:
    QByteArray m_what;
};

// A reply that did not decode into its record: which field, and why.
struct DecodingError : std::exception {
    QString field;
    QString reason;

    DecodingError(QString field, QString reason);
    const char* what() const noexcept override { return m_what.constData(); }

private:
    QByteArray m_what;
};

// The text a failure shows the user: the app's own and the service's texts as they are, the
// platform's descriptions as the platform gave them. Empty for a failure that carries no text.
QString describeError(std::exception_ptr error);
