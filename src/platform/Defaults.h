#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <optional>

// The app's small persistent settings (the counterpart of the user-defaults domain).
// Typed reads return nothing when the key is absent or holds another JSON type, so a text
// "false" is never read as a Boolean. Writes never report failure.
class Defaults {
public:
    virtual ~Defaults() = default;

    virtual std::optional<QJsonValue> value(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QJsonValue& value) = 0;

    std::optional<QString> string(const QString& key) const;
    std::optional<bool> boolean(const QString& key) const;
    std::optional<qint64> integer(const QString& key) const;

    void setString(const QString& key, const QString& value) { setValue(key, value); }
    void setBoolean(const QString& key, bool value) { setValue(key, value); }
    void setInteger(const QString& key, qint64 value) { setValue(key, value); }
};

// JSON file, mode 0600, replaced atomically on every write. A file that is not a JSON object is
// moved aside (kept, with a timestamp in its name) and the store starts empty.
// Shared by every process of the app (the window, vemkoctl): a read picks up the file another
// process replaced, and a write re-reads the file and changes only its own key, under an advisory
// lock on the settings folder, so two processes never undo each other's settings.
class FileDefaults final : public Defaults {
public:
    // The default file: $XDG_CONFIG_HOME/vemko-vpn/defaults.json (or ~/.config/...).
    static QString defaultPath();
    explicit FileDefaults(QString path = defaultPath());

    std::optional<QJsonValue> value(const QString& key) const override;
    void setValue(const QString& key, const QJsonValue& value) override;
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
    void save() const;

    QString m_path;
    mutable QJsonObject m_values;
    mutable std::optional<Stamp> m_stamp; // none: no file was there
    // Set when a bad file could not be moved aside: it is then never replaced.
    mutable bool m_saveBlocked = false;
};

// In-memory store for tests and tools.
class MemoryDefaults final : public Defaults {
public:
    std::optional<QJsonValue> value(const QString& key) const override;
    void setValue(const QString& key, const QJsonValue& value) override;

private:
    QJsonObject m_values;
};
