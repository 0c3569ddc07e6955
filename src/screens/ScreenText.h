#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QLabel;
class QWidget;

// A wrapping label of the screens: `pixels` high text in `weight`, the primary text colour unless
// `color` is given.
QLabel* screenLabel(QWidget* parent, const QString& name, int pixels = 13,
                    QFont::Weight weight = QFont::Normal, const QColor& color = {});

// The red of failure lines.
QColor failureRed();
