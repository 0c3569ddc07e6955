#pragma once

#include "service/ServerProfile.h"

#include <QAbstractButton>
#include <optional>

// One server in the server card: its name, and when chosen a brand check mark on a brand tint.
// A server this machine's engine cannot run is dimmed, with the reason under its name; the server
// that carries the tunnel when it is not the chosen one (after a fail-over) says so in brand
// letters. The whole row is the button.
class ServerRow : public QAbstractButton {
    Q_OBJECT
public:
    ServerRow(const ServerProfile& profile, bool selected, std::optional<QString> unusable = std::nullopt,
              QWidget* parent = nullptr);

    const ServerProfile& profile() const { return m_profile; }
    bool selected() const { return m_selected; }
    const std::optional<QString>& unusable() const { return m_unusable; }
    void setSelected(bool selected);
    bool carrying() const { return m_carrying; }
    void setCarrying(bool carrying);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void updateAccessibleName();

    ServerProfile m_profile;
    std::optional<QString> m_unusable;
    bool m_selected = false;
    bool m_carrying = false;
    bool m_hover = false;
};
