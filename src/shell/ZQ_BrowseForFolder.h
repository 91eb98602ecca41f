// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The folder picker: a directory dialog opened on a folder.

#include <QString>

class QWidget;

// The chosen folder, or the empty text when the user cancels. An empty or
// missing initial folder opens the dialog at its default place.
QString BrowseForFolder(const QString& title, const QString& initialFolder, QWidget* owner);
