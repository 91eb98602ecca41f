// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MessageBoxes.h"

#include "base/ZQ_Strings.h"

#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
TMessageHook& Hook()
{
    static TMessageHook hook;
    return hook;
}

TDetailedMessageHook& DetailedHook()
{
    static TDetailedMessageHook hook;
    return hook;
}

const char* AutoAnswer()
{
    const char* value = std::getenv("BRIMTALE_AUTO_ANSWER");
    return value && *value ? value : nullptr;
}
} // namespace

void SetMessageHook(TMessageHook hook)
{
    Hook() = std::move(hook);
}

void SetDetailedMessageHook(TDetailedMessageHook hook)
{
    DetailedHook() = std::move(hook);
}

TMsgAnswer ShowMessage(QWidget* owner, const QString& title, const QString& text, TMsgKind kind)
{
    return ShowMessage(owner, title, text, kind, QString());
}

TMsgAnswer ShowMessage(QWidget* owner, const QString& shownTitle, const QString& shownText, TMsgKind kind,
                       const QString& shownDetails)
{
    // Texts may quote words from outside: no control character of theirs is shown.
    const QString title = QString::fromStdString(PrintableText(shownTitle.toStdString()));
    const QString text = QString::fromStdString(PrintableText(shownText.toStdString(), true));
    const QString details = QString::fromStdString(PrintableText(shownDetails.toStdString(), true));
    if (DetailedHook())
        return DetailedHook()(owner, title, text, kind, details);
    if (Hook())
        return Hook()(owner, title, text, kind);
    if (const char* answer = AutoAnswer()) {
        std::fprintf(stderr, "[%s] %s\n", title.toUtf8().constData(), text.toUtf8().constData());
        if (!details.isEmpty())
            std::fprintf(stderr, "%s\n", details.toUtf8().constData());
        if (kind != TMsgKind::Question)
            return TMsgAnswer::Ok;
        return std::strcmp(answer, "yes") == 0 ? TMsgAnswer::Yes : TMsgAnswer::No;
    }
    QMessageBox::Icon icon = QMessageBox::Information;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    switch (kind) {
    case TMsgKind::Question:
        icon = QMessageBox::Question;
        buttons = QMessageBox::Yes | QMessageBox::No;
        break;
    case TMsgKind::Warning:
        icon = QMessageBox::Warning;
        break;
    case TMsgKind::Error:
        icon = QMessageBox::Critical;
        break;
    case TMsgKind::Information:
        break;
    }
    QMessageBox box(icon, title, text, buttons, owner);
    box.setDefaultButton(kind == TMsgKind::Question ? QMessageBox::No : QMessageBox::Ok);
    if (!details.isEmpty())
        box.setDetailedText(details);
    // A box that belongs to a window kept on top is kept on top too, or it would
    // open under that window and leave it waiting for an answer nobody sees.
    if (owner && owner->window()->windowFlags().testFlag(Qt::WindowStaysOnTopHint))
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    const int answer = box.exec();
    if (kind == TMsgKind::Question)
        return answer == QMessageBox::Yes ? TMsgAnswer::Yes : TMsgAnswer::No;
    return TMsgAnswer::Ok;
}

bool AskYesNo(QWidget* owner, const QString& title, const QString& text)
{
    return ShowMessage(owner, title, text, TMsgKind::Question) == TMsgAnswer::Yes;
}

TMsgAnswer AskThreeWays(QWidget* owner, const QString& title, const QString& text, const QString& yes,
                        const QString& no, const QString& cancel)
{
    if (DetailedHook() || Hook() || AutoAnswer())
        return ShowMessage(owner, title, text, TMsgKind::Question);
    QMessageBox box(QMessageBox::Question, title, QString::fromStdString(PrintableText(text.toStdString(), true)),
                    QMessageBox::NoButton, owner);
    QPushButton* first = box.addButton(yes, QMessageBox::AcceptRole);
    QPushButton* second = box.addButton(no, QMessageBox::RejectRole);
    QPushButton* third = box.addButton(cancel, QMessageBox::RejectRole);
    box.setDefaultButton(second);
    box.setEscapeButton(third);
    box.exec();
    if (box.clickedButton() == first)
        return TMsgAnswer::Yes;
    return box.clickedButton() == second ? TMsgAnswer::No : TMsgAnswer::Cancel;
}
