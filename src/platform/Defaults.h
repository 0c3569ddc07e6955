#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <optional>

// The app's small persistent settings (the counterpart of the user-defaults domain).
// Typed reads return nothing when the key is absent or holds another JSON type, so a text
// "false" is never read as a Boolean. A write returns false when the value could not be stored
// (the store then still holds the old value); a change the user made reports that where it was made.
class Defaults {
public:
    virtual ~Defaults() = default;

    virtual std::optional<QJsonValue> value(const QString& key) const = 0;
    // True when the value is stored (or was already).
    virtual bool setValue(const QString& key, const QJsonValue& value) = 0;
    // Why the last write failed, in Russian, for the user ("нет места на диске"); empty after a
    // write that succeeded.
    virtual QString lastWriteError() const { return {}; }
    // The last failure as the screens and the command line report it: "Настройка не сохранилась: …".
    QString notSavedText() const { return QStringLiteral("Настройка не сохранилась: ") + lastWriteError(); }

    std::optional<QString> string(const QString& key) const;
    std::optional<bool> boolean(const QString& key) const;
    std::optional<qint64> integer(const QString& key) const;

    bool setString(const QString& key, const QString& value) { return setValue(key, value); }
    bool setBoolean(const QString& key, bool value) { return setValue(key, value); }
    bool setInteger(const QString& key, qint64 value) { return setValue(key, value); }
};

// JSON file, mode 0600, replaced on every write by a synced temporary file renamed over it, so
// a write that cannot complete (a full disk, a file-size limit) leaves the old file whole. A file
// that is not a JSON object is moved aside (kept, with a timestamp in its name) and the store
// starts empty.
// Shared by every process of the app (the window, vemkoctl): a read picks up the file another
// process replaced, and a write re-reads the file and changes only its own key, under an advisory
// lock on the settings folder, so two processes never undo each other's settings.
class FileDefaults final : public Defaults {
public:
    // The default file: $XDG_CONFIG_HOME/vemko-vpn/defaults.json (or ~/.config/...).
    static QString defaultPath();
    explicit FileDefaults(QString path = defaultPath());

    std::optional<QJsonValue> value(const QString& key) const override;
    bool setValue(const QString& key, const QJsonValue& value) override;
    QString lastWriteError() const override { return m_writeError; }
    QString path() const { return m_path; }

private:
    // Identity of the file as last read: a replaced file has another inode or time.
    struct Stamp {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        bool operator==(const Stamp&) const = default;
    };
    static std::optional<Stamp> stampOf(const QString& path);
    // Reads the file again when it is not the one last read.
    void reload() const;
    bool ensureFolder() const;
    // Empty on success, else why the file could not be written.
    QString save() const;

    QString m_path;
    mutable QJsonObject m_values;
    mutable std::optional<Stamp> m_stamp; // none: no file was there
    // Set when a bad file could not be moved aside: it is then never replaced.
    mutable bool m_saveBlocked = false;
    QString m_writeError;
};

// In-memory store for tests and tools.
class MemoryDefaults final : public Defaults {
public:
    std::optional<QJsonValue> value(const QString& key) const override;
    bool setValue(const QString& key, const QJsonValue& value) override;

private:
    QJsonObject m_values;
};
