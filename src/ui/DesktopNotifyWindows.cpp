// SPDX-License-Identifier: GPL-3.0-or-later
// Desktop notifications on Windows: none yet (there is no session bus; the
// tray's balloon would be the place). The download window still says the end.
#include "ui/DesktopNotify.h"

void DesktopNotify(const QString& /*summary*/, const QString& /*body*/)
{
}
