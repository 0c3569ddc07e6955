#pragma once

#include <QPixmap>
#include <QWidget>

// The app's mascot from the resource ":/mascot.png", scaled to a square of the given size (or
// ":/mascot-SIZE.png", made at that size by the build).
class Mascot : public QWidget {
    Q_OBJECT
public:
    explicit Mascot(int size, QWidget* parent = nullptr);

    // The picture at `size`; a missing resource gives a transparent picture of that size.
    static QPixmap picture(int size, const QString& resource = QStringLiteral(":/mascot.png"));

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_picture;
};
