#pragma once

class QVBoxLayout;
class QWidget;

// Makes `screen` a vertically scrolling column with the tab screens' margins and returns the
// column to fill; the content never scrolls sideways.
QVBoxLayout* scrollColumn(QWidget* screen);
