// SPDX-License-Identifier: GPL-3.0-or-later
// Web pages through the desktop's own opener.
#include "ui/WebPages.h"

#include <QDesktopServices>

bool OpenWebPage(const QUrl& url)
{
    if (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https"))
        return false;
    return QDesktopServices::openUrl(url);
}
