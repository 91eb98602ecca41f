// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Opening a web page in the user's browser: the desktop's way (xdg-open and
// its kin through Qt) on Linux, ShellExecuteW on Windows.

#include <QUrl>

// Hands an http or https address to the browser and returns at once; any
// other address is refused (false).
bool OpenWebPage(const QUrl& url);
