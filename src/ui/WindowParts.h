// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Small parts every window of the program uses: the flag that tells a control's
// handler that code changed it, the program's icons, and reading a clipboard or
// a drag.

#include <QIcon>
#include <QString>

#include <cstddef>
#include <string>

class QMimeData;

// True while code, not the user, changes a control, so that the control's
// change handler does nothing.
extern bool UpdatingControls;

// Sets UpdatingControls for its lifetime and puts back the value it had.
class TUpdatingControls {
public:
    TUpdatingControls() : old_(UpdatingControls) { UpdatingControls = true; }
    ~TUpdatingControls() { UpdatingControls = old_; }
    TUpdatingControls(const TUpdatingControls&) = delete;
    TUpdatingControls& operator=(const TUpdatingControls&) = delete;

private:
    bool old_;
};

// The program's icons and button glyphs (from the resources).
QIcon ApplicationIcon();
QIcon ButtonGlyph(const QString& name);  // "paste", "browse", "minimize", "new"

// The first line of a clipboard text (lines end at CR, LF or CR LF), at most
// maxBytes long and never cut inside a character.
std::string FirstLineOf(const QString& text, std::size_t maxBytes);

class QMimeData;
// The first local file of a drag, or the empty text.
QString FirstLocalFile(const QMimeData* mime);
