// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Whether the texts of a window fit where they are shown, as the user sees
// them: every visible label, check box, radio button, push button, group box
// title, combo box and empty line edit's placeholder of the window is measured
// with its own font against the room it has. A status line counts as it is
// painted (shortened, when it is). What does not fit is named, with its text.

#include "ui/StatusLabel.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QWidget>

#include <algorithm>

namespace textsfit {

// The widest line of a caption ("&&" shows as "&", a lone "&" not at all).
inline int CaptionWidth(const QFontMetrics& metrics, QString caption)
{
    caption.replace("&&", "\x01");
    caption.remove('&');
    caption.replace('\x01', '&');
    int widest = 0;
    for (const QString& line : caption.split('\n'))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest;
}

inline QString Name(const QWidget* widget, const QString& text)
{
    return (widget->objectName().isEmpty() ? QString(widget->metaObject()->className()) : widget->objectName()) +
           " \"" + text + "\"";
}

inline QStringList Unfitted(const QWidget* window)
{
    QStringList bad;
    for (const QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisible())
            continue;
        if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            if (label->text().isEmpty() || label->textFormat() == Qt::RichText || label->text().contains('<'))
                continue;
            const QFontMetrics metrics(label->font());
            const QRect room = label->contentsRect();
            if (label->wordWrap()) {
                if (label->height() < label->heightForWidth(label->width()))
                    bad << Name(label, label->text()) + " (wrapped, too low)";
                continue;
            }
            const auto* status = dynamic_cast<const TStatusLabel*>(label);
            const QString shown = status ? status->FittedText() : label->text();
            if (metrics.horizontalAdvance(shown) > room.width())
                bad << Name(label, shown) + QString(" (%1 > %2)").arg(metrics.horizontalAdvance(shown)).arg(room.width());
            else if (metrics.height() > room.height())
                bad << Name(label, shown) + QString(" (%1 px high in %2)").arg(metrics.height()).arg(room.height());
        } else if (const auto* push = qobject_cast<const QPushButton*>(widget)) {
            if (push->text().isEmpty())
                continue;
            // The room the style draws the caption in.
            QStyleOptionButton option;
            option.initFrom(push);
            option.text = push->text();
            const int room = push->style()->subElementRect(QStyle::SE_PushButtonContents, &option, push).width();
            const int icon = push->icon().isNull() ? 0 : push->iconSize().width() + 4;
            const int need = CaptionWidth(QFontMetrics(push->font()), push->text()) + icon;
            if (need > room)
                bad << Name(push, push->text()) + QString(" (%1 > %2)").arg(need).arg(room);
        } else if (qobject_cast<const QCheckBox*>(widget) || qobject_cast<const QRadioButton*>(widget)) {
            const auto* button = static_cast<const QAbstractButton*>(widget);
            if (button->sizeHint().width() > button->width() || button->sizeHint().height() > button->height())
                bad << Name(button, button->text()) + QString(" (%1x%2 in %3x%4)")
                                                          .arg(button->sizeHint().width())
                                                          .arg(button->sizeHint().height())
                                                          .arg(button->width())
                                                          .arg(button->height());
        } else if (const auto* box = qobject_cast<const QGroupBox*>(widget)) {
            const int need = CaptionWidth(QFontMetrics(box->font()), box->title());
            if (need > box->width())
                bad << Name(box, box->title());
        } else if (const auto* combo = qobject_cast<const QComboBox*>(widget)) {
            if (combo->isEditable())
                continue;
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.currentText = combo->currentText();
            const QRect field =
                combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
            const int need = QFontMetrics(combo->font()).horizontalAdvance(combo->currentText());
            if (need > field.width())
                bad << Name(combo, combo->currentText()) + QString(" (%1 > %2)").arg(need).arg(field.width());
        } else if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
            if (!edit->text().isEmpty() || edit->placeholderText().isEmpty())
                continue;
            const int frame = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit) : 0;
            const int room = edit->width() - 2 * frame - 4;  // the frame, and the text's margins
            const int need = QFontMetrics(edit->font()).horizontalAdvance(edit->placeholderText());
            if (need > room)
                bad << Name(edit, edit->placeholderText()) + QString(" (%1 > %2)").arg(need).arg(room);
        }
    }
    return bad;
}

} // namespace textsfit
