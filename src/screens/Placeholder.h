#pragma once

#include <QWidget>

// A screen not built yet: the mascot and the screen's name.
class Placeholder : public QWidget {
    Q_OBJECT
public:
    Placeholder(const QString& objectName, const QString& title, QWidget* parent = nullptr);
};
