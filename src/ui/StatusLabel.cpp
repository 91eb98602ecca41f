#include "ui/StatusLabel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

QString TStatusLabel::FittedText() const
{
    const QString whole = text();
    const QFontMetrics metrics(font());
    const int room = contentsRect().width();
    if (metrics.horizontalAdvance(whole) <= room)
        return whole;
    const QString separator = QStringLiteral("  ::::  ");
    const qsizetype at = whole.lastIndexOf(separator);
    const QString tail = at < 0 ? whole : whole.mid(at + separator.size());
    const QString head = at < 0 ? QString() : whole.left(at + separator.size());
    const int headRoom = room - metrics.horizontalAdvance(tail);
    if (head.isEmpty() || headRoom <= metrics.horizontalAdvance(QStringLiteral("…")))
        return tail;
    return metrics.elidedText(head, Qt::ElideMiddle, headRoom) + tail;
}

void TStatusLabel::paintEvent(QPaintEvent* event)
{
    const QString fitted = FittedText();
    if (fitted == text()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(), isEnabled(), fitted,
                          foregroundRole());
}
