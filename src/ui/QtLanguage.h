// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Qt's own texts (the buttons of message boxes, the file and folder pickers, the
// edit menus of text fields) in the program's language: the Polish translation
// of Qt (qtbase_pl, from the system's Qt translations) is installed for Polish
// and removed for English.

// Switches Qt's texts; true when the language's translation is in use (English
// always is). Without the translation file Qt's texts stay English.
bool UseQtLanguage(bool polish);
