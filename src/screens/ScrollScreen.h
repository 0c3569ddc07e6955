#pragma once

class QVBoxLayout;
class QWidget;

// Makes `screen` a vertically scrolling column with the tab screens' margins and returns the
// column to fill; the content never scrolls sideways.
QVBoxLayout* scrollColumn(QWidget* screen);

// Adds `widget` to `column` in line with the cards' panels (a card keeps room for its shadow).
void addInset(QVBoxLayout* column, QWidget* widget);
