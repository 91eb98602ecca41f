#pragma once
// A one-line status label whose last part is never cut: when the whole text does
// not fit, the part before the last "  ::::  " separator is shortened with "…",
// so "Complete: 15 %" stays readable at every width. text() keeps the whole text.

#include <QLabel>

class TStatusLabel : public QLabel {
public:
    using QLabel::QLabel;

    // What is painted at the label's current width.
    QString FittedText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};
