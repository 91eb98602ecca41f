// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A one-line status label whose text is never cut off at its edge. When the
// whole text does not fit: a path in it (SetPathText) is shortened in its
// middle with "…", else the part before the last "  ::::  " separator is, so
// "Complete: 15 %" stays readable at every width; anything else ends in "…".
// A shortened text has the whole one as its tooltip. text() keeps the whole text.

#include <QLabel>

class TStatusLabel : public QLabel {
public:
    using QLabel::QLabel;

    // The text, with the path it holds (shortened first when it does not fit).
    void SetPathText(const QString& text, const QString& path);
    // What is painted at the label's current width.
    QString FittedText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The tooltip is the whole text while less of it is shown.
    void UpdateToolTip();

    QString path_;
};
