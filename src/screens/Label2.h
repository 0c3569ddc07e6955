#pragma once

#include <QLabel>

// A card caption: the text in capitals, small, medium weight, spaced out, in the secondary colour.
class Label2 : public QLabel {
    Q_OBJECT
public:
    explicit Label2(const QString& text = {}, QWidget* parent = nullptr);
    void setCaption(const QString& text);
};
