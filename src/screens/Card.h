#pragma once

#include <QFrame>

class QVBoxLayout;

// A content panel stretched to the full width: an inner margin of 18 on a light panel with a
// faint border and a light shadow. Content goes into body().
class Card : public QFrame {
    Q_OBJECT
public:
    explicit Card(QWidget* parent = nullptr);
    QVBoxLayout* body() const { return m_body; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* m_body;
};
