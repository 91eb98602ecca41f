// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every message and question box of the program goes through here, so that tests
// (and runs without a person at the screen) can answer them.
//
// With the environment variable BRIMTALE_AUTO_ANSWER set to "yes" or "no", no box
// is shown: the text goes to standard error and the question gets that answer.

#include <QString>

#include <functional>

class QWidget;

enum class TMsgKind { Information, Warning, Error, Question };
enum class TMsgAnswer { Ok, Yes, No, Cancel };

using TMessageHook = std::function<TMsgAnswer(QWidget* owner, const QString& title, const QString& text, TMsgKind kind)>;

// Replaces the boxes with a function (an empty one restores them).
void SetMessageHook(TMessageHook hook);
// The same for a function that also gets the details; while one is set, it
// is asked instead of the other.
using TDetailedMessageHook = std::function<TMsgAnswer(QWidget* owner, const QString& title, const QString& text,
                                                      TMsgKind kind, const QString& details)>;
void SetDetailedMessageHook(TDetailedMessageHook hook);

TMsgAnswer ShowMessage(QWidget* owner, const QString& title, const QString& text, TMsgKind kind);
// With details the box shows on request (another program's own words, as
// they came): empty ones add nothing.
TMsgAnswer ShowMessage(QWidget* owner, const QString& title, const QString& text, TMsgKind kind,
                       const QString& details);
// A Yes/No question with a question icon; true for Yes.
bool AskYesNo(QWidget* owner, const QString& title, const QString& text);
// A question with three answers: the two named buttons (Yes, No) and Cancel
// (also Esc). Hooks and BRIMTALE_AUTO_ANSWER answer it as a Yes/No question.
TMsgAnswer AskThreeWays(QWidget* owner, const QString& title, const QString& text, const QString& yes,
                        const QString& no, const QString& cancel);
