// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/StatusLabel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

void TStatusLabel::SetPathText(const QString& text, const QString& path)
{
    path_ = path;
    setText(text);
    UpdateToolTip();
}

QString TStatusLabel::FittedText() const
{
    const QString whole = text();
    const QFontMetrics metrics(font());
    const int room = contentsRect().width();
    if (metrics.horizontalAdvance(whole) <= room)
        return whole;
    const QString dots = QStringLiteral("…");
    // The path gives way first, in its middle: its start and its name stay.
    const qsizetype pathAt = path_.isEmpty() ? -1 : whole.lastIndexOf(path_);
    if (pathAt >= 0) {
        const QString before = whole.left(pathAt);
        const QString after = whole.mid(pathAt + path_.size());
        const int pathRoom = room - metrics.horizontalAdvance(before) - metrics.horizontalAdvance(after);
        if (pathRoom > metrics.horizontalAdvance(dots))
            return before + metrics.elidedText(path_, Qt::ElideMiddle, pathRoom) + after;
    }
    const QString separator = QStringLiteral("  ::::  ");
    const qsizetype at = whole.lastIndexOf(separator);
    if (at < 0)
        return metrics.elidedText(whole, Qt::ElideRight, room);
    const QString tail = whole.mid(at + separator.size());
    const QString head = whole.left(at + separator.size());
    const int headRoom = room - metrics.horizontalAdvance(tail);
    if (headRoom <= metrics.horizontalAdvance(dots))
        return metrics.elidedText(tail, Qt::ElideRight, room);
    return metrics.elidedText(head, Qt::ElideMiddle, headRoom) + tail;
}

void TStatusLabel::UpdateToolTip()
{
    const QString tip = FittedText() == text() ? QString() : text();
    if (toolTip() != tip)
        setToolTip(tip);
}

void TStatusLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    UpdateToolTip();
}

void TStatusLabel::paintEvent(QPaintEvent* event)
{
    // The text may have changed since the last look (setText is no event).
    UpdateToolTip();
    const QString fitted = FittedText();
    if (fitted == text()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(), isEnabled(), fitted,
                          foregroundRole());
}
