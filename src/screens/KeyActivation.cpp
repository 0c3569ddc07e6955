#include "KeyActivation.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>

namespace {

class KeyActivation : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter)
            return false;
        auto* button = qobject_cast<QAbstractButton*>(watched);
        if (!button || !button->hasFocus() || !button->isEnabled())
            return false;
        button->click();
        return true;
    }
};

} // namespace

void installKeyActivation(QApplication& app) {
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    app.installEventFilter(new KeyActivation(&app));
}
