#pragma once

#include <QWidget>

class QLabel;

// The top row of a screen: the mascot, then the title over a smaller grey subtitle.
class ScreenHeader : public QWidget {
    Q_OBJECT
public:
    ScreenHeader(const QString& title, const QString& subtitle, QWidget* parent = nullptr);
    void setTitle(const QString& title);
    void setSubtitle(const QString& subtitle);
    QString title() const;
    QString subtitle() const;

private:
    QLabel* m_title;
    QLabel* m_subtitle;
};
