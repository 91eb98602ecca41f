// SPDX-License-Identifier: GPL-3.0-or-later
#include "sites/SitePage.h"

#include "base/MemoryStream.h"
#include "net/ZQ_Internet.h"
#include "base/ZQ_Strings.h"

bool ReadPageText(const std::string& url, int maxChunks, std::string& text)
{
    text.clear();
    if (url.empty())
        return false;
    TMemoryStream stream;
    TInet inet;
    if (!inet.OpenUrl(url))
        return false;
    // A read that fails part-way leaves what came so far; the page is scanned
    // as far as it was read.
    inet.ReadToStream(&stream, maxChunks);
    inet.Close();
    text = StreamToString(&stream, 0);
    return true;
}
