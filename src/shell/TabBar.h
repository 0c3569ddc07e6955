#pragma once

#include <QAbstractButton>
#include <QWidget>

// The four tabs of the signed-in window, in the bar's order.
enum class Tab { Home, Tariffs, Devices, More };

// One tab: its symbol over its title; the selected one in the brand colour on a light brand tint.
class TabButton : public QAbstractButton {
    Q_OBJECT
public:
    TabButton(Tab tab, QWidget* parent = nullptr);
    Tab tab() const { return m_tab; }
    QString title() const;
    void setSelected(bool selected);
    bool selected() const { return m_selected; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Tab m_tab;
    bool m_selected = false;
};

// The bar of tab buttons under a thin divider, on a translucent background.
class TabBar : public QWidget {
    Q_OBJECT
public:
    explicit TabBar(QWidget* parent = nullptr);
    void setCurrent(Tab tab);
    TabButton* button(Tab tab) const;

signals:
    void chosen(Tab tab);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<TabButton*> m_buttons;
};
