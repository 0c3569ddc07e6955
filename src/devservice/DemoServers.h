#pragma once

#include <QHostAddress>
#include <QJsonArray>
#include <QList>
#include <QString>

// The servers the configs document offers, read from the file the demo stack writes:
// a JSON array of {"name", "address", "port", "id", and optionally "exit" and "city"}, where
// "exit" is the loopback address the server sends its traffic from.
class DemoServers {
public:
    struct Entry {
        QString name;
        QString address;
        qint64 port = 0;
        QString id;
        QString exit;
        QString city;
    };

    // An absent file name gives no servers; a malformed file fails with `error` set.
    bool load(const QString& fileName, QString* error);

    // The configs document: one complete tunnel configuration per server.
    QJsonArray configs() const;
    // The city of the server whose traffic leaves from `address`; "Москва" for any other address.
    QString cityOf(const QHostAddress& address) const;

private:
    QList<Entry> m_entries;
};
