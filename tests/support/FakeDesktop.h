#pragma once

#include "platform/Desktop.h"

#include <QList>

// Records what the app asked of the desktop.
class FakeDesktop final : public Desktop {
public:
    bool openUrl(const QUrl& url) override {
        opened.append(url);
        return acceptUrls;
    }
    void copyText(const QString& text) override { copied.append(text); }
    void terminate() override { ++terminations; }

    QList<QUrl> opened;
    QStringList copied;
    int terminations = 0;
    bool acceptUrls = true;
};
