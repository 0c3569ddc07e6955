#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <thread>

class QAbstractScrollArea;
class QApplication;
class QPushButton;
class QWidget;

// The look every screen shares: the brand colour, the text colours, fonts by pixel size, the
// symbols drawn for the app, and whether the style wants animations at all.
namespace Brand {

// sRGB (0.059, 0.624, 0.541).
QColor brand();
QColor primaryText();
QColor secondaryText();
// `color` with its alpha set to `opacity` (0…1).
QColor tinted(QColor color, qreal opacity);

// The system font at `pixels` (points on a 1x screen) and weight.
QFont font(int pixels, QFont::Weight weight = QFont::Normal);

// One of the app's symbols ("shield", "shield.fill", "shield.lefthalf.filled", "power",
// "creditcard", "laptopcomputer", "slider.horizontal.3", "checkmark.circle.fill") in `color`,
// `pixels` square. An unknown name gives a transparent picture of that size.
QPixmap symbol(const QString& name, const QColor& color, int pixels, qreal devicePixelRatio = 1.0);
QIcon symbolIcon(const QString& name, const QColor& color);

// False when the style asks for no animations (SH_Widget_Animate off or a zero duration): views
// then show their resting state.
bool animationsEnabled(const QWidget* widget);

// A plain bordered button in the app's look (rounded, light, brand outline when focused).
void makeBordered(QPushButton* button);

// A thin, quiet scroll bar for a scrolling screen.
void makeQuietScrolling(QAbstractScrollArea* area);

// The app's fixed light look: Fusion, the window and text colours, the system font at 13 px.
void applyLook(QApplication& app);

// Loads the system's font list on a thread of its own while the app sets up everything else. The
// thread is joined when the handle goes, so hold it in a variable declared after the application:
// an app that ends at once must not leave it reading fonts after the application is gone.
[[nodiscard]] std::jthread warmUpFonts();

} // namespace Brand
