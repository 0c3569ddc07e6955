#pragma once

#include <QString>
#include <QUrl>

// The desktop around the app: opening links, the clipboard, quitting.
class Desktop {
public:
    virtual ~Desktop() = default;
    // True when the desktop accepted the URL.
    virtual bool openUrl(const QUrl& url) = 0;
    virtual void copyText(const QString& text) = 0;
    // Ends the application (after the current event is handled), whatever windows are open.
    virtual void terminate() = 0;
};

// xdg-open for links and QCoreApplication::exit, without Qt Gui: the core library never links it.
// The GUI supplies its own Desktop with the clipboard; here copying does nothing.
class LinuxDesktop final : public Desktop {
public:
    bool openUrl(const QUrl& url) override;
    void copyText(const QString& text) override;
    void terminate() override;
};
