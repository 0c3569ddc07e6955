#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>

// Tells when the settings file has been replaced, by another process of the app (vemkoctl, the
// window) or by this one. The file is replaced by rename, which ends a watch on the file itself:
// the folder is watched.
class DefaultsWatcher : public QObject {
    Q_OBJECT
public:
    explicit DefaultsWatcher(QString file, QObject* parent = nullptr);

signals:
    void changed();

private:
    struct Stamp {
        quint64 inode = 0;
        qint64 modifiedNs = 0;
        bool operator==(const Stamp&) const = default;
    };
    static Stamp stampOf(const QString& file);
    void look();

    QString m_file;
    QFileSystemWatcher m_watcher;
    Stamp m_stamp; // the file last seen
};
