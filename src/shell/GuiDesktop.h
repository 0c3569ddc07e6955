#pragma once

#include "platform/Desktop.h"

#include <memory>

class LinkDialog;

// The desktop as the GUI sees it: links in the default browser, the system clipboard, quitting.
// A link no browser opens (no xdg-open) is shown to copy instead, whatever opened it: a payment,
// the Telegram sign-in, the support and account pages.
class GuiDesktop final : public Desktop {
public:
    GuiDesktop();
    ~GuiDesktop() override;
    bool openUrl(const QUrl& url) override;
    void copyText(const QString& text) override;
    void terminate() override;

private:
    std::unique_ptr<LinkDialog> m_linkDialog; // made the first time a link does not open
};
