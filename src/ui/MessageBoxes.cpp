#include "ui/MessageBoxes.h"

#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
TMessageHook& Hook()
{
    static TMessageHook hook;
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

TMsgAnswer ShowMessage(QWidget* owner, const QString& title, const QString& text, TMsgKind kind)
{
    if (Hook())
        return Hook()(owner, title, text, kind);
    if (const char* answer = AutoAnswer()) {
        std::fprintf(stderr, "[%s] %s\n", title.toUtf8().constData(), text.toUtf8().constData());
        if (kind != TMsgKind::Question)
            return TMsgAnswer::Ok;
        return std::strcmp(answer, "yes") == 0 ? TMsgAnswer::Yes : TMsgAnswer::No;
    }
    switch (kind) {
    case TMsgKind::Question:
        return QMessageBox::question(owner, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
                       QMessageBox::Yes
                   ? TMsgAnswer::Yes
                   : TMsgAnswer::No;
    case TMsgKind::Warning:
        QMessageBox::warning(owner, title, text);
        break;
    case TMsgKind::Error:
        QMessageBox::critical(owner, title, text);
        break;
    case TMsgKind::Information:
        QMessageBox::information(owner, title, text);
        break;
    }
    return TMsgAnswer::Ok;
}

bool AskYesNo(QWidget* owner, const QString& title, const QString& text)
{
    return ShowMessage(owner, title, text, TMsgKind::Question) == TMsgAnswer::Yes;
}
