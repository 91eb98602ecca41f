// SPDX-License-Identifier: GPL-3.0-or-later
// Console runner, the part every system shares: output bytes to lines. The
// processes themselves are started by posix/ConRunPosix.cpp or
// windows/ConRunWindows.cpp.

#include "system/ConRun.h"

#include <utility>

// ---------------------------------------------------------------------------
// Line collection

TConsoleLineCollector::TConsoleLineCollector(std::vector<std::string>* lines, TConsoleLineEvent onLine, int pid,
                                             TLineEndRule rule)
    : lines_(lines), onLine_(std::move(onLine)), pid_(pid), rule_(rule)
{
    buffer_.reserve(LineMax);
}

void TConsoleLineCollector::Feed(const char* data, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const char c = data[i];
        if (c == '\n') {
            // An LF that ends a line nobody has completed yet (no CR before it,
            // no completion at the length limit) completes it, as CR LF would.
            if (rule_ == TLineEndRule::LoneLfCompletes && !lineEnded_)
                Complete();
            newLine_ = true;
            lineEnded_ = false;
        } else if (c == '\r') {
            Complete();
            lineEnded_ = true;
        } else {
            buffer_.push_back(c);
            lineEnded_ = false;
            if (buffer_.size() >= LineMax) {
                newLine_ = true;
                Complete();
                lineEnded_ = true;
            }
        }
    }
}

void TConsoleLineCollector::Finish()
{
    Complete();
    lineEnded_ = true;
}

void TConsoleLineCollector::Complete()
{
    std::string text;
    text.swap(buffer_);
    buffer_.reserve(LineMax);
    if (lines_) {
        // The callback may have removed entries in between; with nothing left to
        // replace, the line is added.
        if (newLine_ || lines_->empty())
            lines_->push_back(text);
        else
            lines_->back() = text;
    }
    newLine_ = false;
    if (onLine_)
        onLine_(pid_, text);
}
