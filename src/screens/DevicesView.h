#pragma once

#include <QWidget>

class AppModel;
class QLabel;
class QVBoxLayout;
class ScreenHeader;

// The devices tab: the account's devices in the service's order, this computer marked, each
// with its unbind button.
class DevicesView : public QWidget {
    Q_OBJECT
public:
    DevicesView(AppModel& model, QString localHwid, QWidget* parent = nullptr);

private:
    void refresh();

    AppModel& m_model;
    QString m_localHwid;
    ScreenHeader* m_header;
    QVBoxLayout* m_cards;
    QLabel* m_empty;
};
