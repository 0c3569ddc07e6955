#pragma once

#include "platform/Desktop.h"

// The desktop as the GUI sees it: links in the default browser, the system clipboard, quitting.
class GuiDesktop final : public Desktop {
public:
    bool openUrl(const QUrl& url) override;
    void copyText(const QString& text) override;
    void terminate() override;
};
