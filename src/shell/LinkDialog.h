#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class QUrl;

// Where no browser opens links (no xdg-open): the link itself, to copy and open by hand.
class LinkDialog : public QDialog {
    Q_OBJECT
public:
    explicit LinkDialog(QWidget* parent = nullptr);
    void showLink(const QUrl& url);

private:
    QLineEdit* m_link;
    QPushButton* m_copy;
};
