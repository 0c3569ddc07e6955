#include "RootView.h"

#include "Phase.h"
#include "Toast.h"
#include "model/AppModel.h"
#include "screens/Brand.h"

#include <QEasingCurve>
#include <QPainter>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {
constexpr double fadeTime = 0.18;
} // namespace

// The screen that was left, fading out over the new one: a picture taken at the change, painted
// with falling opacity (no graphics effects on nested widgets).
class RootView::Fade : public QWidget {
public:
    explicit Fade(QWidget* parent)
        : QWidget(parent), m_phase(new Phase(this, 60, [this] {
              if (m_phase->seconds() >= fadeTime) {
                  m_phase->stop();
                  hide();
              }
              update();
          })) {
        setObjectName(QStringLiteral("screenFade"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }
    void start(QPixmap picture, const QRect& area) {
        m_picture = std::move(picture);
        setGeometry(area);
        show();
        raise();
        m_phase->start();
    }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const double progress = qBound(0.0, m_phase->seconds() / fadeTime, 1.0);
        painter.setOpacity(1.0 - QEasingCurve(QEasingCurve::InOutQuad).valueForProgress(progress));
        painter.drawPixmap(0, 0, m_picture);
    }
    void hideEvent(QHideEvent*) override { m_phase->stop(); }

private:
    QPixmap m_picture;
    Phase* m_phase;
};

RootView::RootView(const ScreenContext& context, QWidget* parent)
    : QWidget(parent), m_context(context), m_root(new QStackedWidget(this)) {
    setObjectName(QStringLiteral("rootView"));
    // It paints all of itself (paintEvent): the window under it need not be painted first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(m_root);

    m_tabbed = new QWidget(m_root);
    auto* column = new QVBoxLayout(m_tabbed);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_screens = new QStackedWidget(m_tabbed);
    m_screens->setCurrentWidget(screen(m_tab));
    column->addWidget(m_screens, 1);
    m_bar = new TabBar(m_tabbed);
    column->addWidget(m_bar);
    m_root->addWidget(m_tabbed);
    connect(m_bar, &TabBar::chosen, this, &RootView::setTab);
    m_bar->setCurrent(m_tab);

    m_fade = new Fade(m_tabbed);
    m_toast = new Toast(context.model, context.clock, this);

    followSignIn();
    connect(&context.model, &AppModel::signedInChanged, this, &RootView::followSignIn);
}

QWidget* RootView::screen(Tab tab) {
    QWidget*& made = m_made[static_cast<size_t>(tab)];
    if (!made) {
        switch (tab) {
        case Tab::Home:
            made = makeHomeScreen(m_context, m_screens);
            break;
        case Tab::Tariffs:
            made = makeTariffsScreen(m_context, m_screens);
            break;
        case Tab::Devices:
            made = makeDevicesScreen(m_context, m_screens);
            break;
        case Tab::More:
            made = makeMoreScreen(m_context, m_screens);
            break;
        }
        m_screens->addWidget(made);
        if (m_bar)
            keepTabsAfter(made);
    }
    return made;
}

// A screen built later joins the focus chain at its end, behind the tab bar; the tabs move behind it
// again, so the chain reads screen, then tabs, and the window's first focus lands where it did when
// every screen was built at start.
void RootView::keepTabsAfter(QWidget* screen) {
    QWidget* last = nullptr;
    for (QWidget* widget = screen; widget == screen || screen->isAncestorOf(widget);
         widget = widget->nextInFocusChain())
        if (widget->focusPolicy() & Qt::TabFocus)
            last = widget;
    if (!last)
        return;
    for (Tab tab : {Tab::Home, Tab::Tariffs, Tab::Devices, Tab::More}) {
        QWidget::setTabOrder(last, m_bar->button(tab));
        last = m_bar->button(tab);
    }
}

QWidget* RootView::signInScreen() {
    if (!m_signIn) {
        m_signIn = makeSignInScreen(m_context, m_root);
        m_root->addWidget(m_signIn);
    }
    return m_signIn;
}

void RootView::followSignIn() {
    m_root->setCurrentWidget(m_context.model.signedIn() ? m_tabbed : signInScreen());
}

void RootView::setTab(Tab tab) {
    if (tab == m_tab)
        return;
    if (m_screens->isVisible() && Brand::animationsEnabled(this))
        m_fade->start(m_screens->grab(), m_screens->geometry());
    m_tab = tab;
    m_screens->setCurrentWidget(screen(tab));
    m_bar->setCurrent(tab);
}

void RootView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_toast->place();
}

void RootView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
}
