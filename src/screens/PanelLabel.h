#pragma once

#include <QLabel>
#include <QStaticText>

// A plain one-line label on the drifting status panel, which repaints it several times a second. Its
// text is laid out once for each text and font, not at every paint; it looks exactly like the
// QLabel it is (anything beyond one centred, unclipped line is painted by QLabel itself).
class PanelLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool plain() const;

    QStaticText m_laidOut;
    QString m_laidOutText;
    QFont m_laidOutFont;
    qreal m_advance = 0;
};
