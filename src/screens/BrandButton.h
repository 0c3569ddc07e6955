#pragma once

#include <QPushButton>

// The app's own button: filled with the brand colour and white text, or unfilled (brand text on a
// light brand tint). Wide by default; a dimmed look while disabled, a darker one while pressed.
class BrandButton : public QPushButton {
    Q_OBJECT
public:
    enum class Fill { Filled, Unfilled };
    explicit BrandButton(const QString& text, Fill fill = Fill::Filled, QWidget* parent = nullptr);
    Fill fill() const { return m_fill; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Fill m_fill;
};
