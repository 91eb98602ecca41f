// SPDX-License-Identifier: GPL-3.0-or-later
#include "sites/ZQ_YouPorn.h"

#include "base/ZQ_Strings.h"
#include "sites/SitePage.h"

bool IsYouPornUrl(const std::string& text)
{
    const std::string t = LowerAscii(Trim(text));
    return Pos("//youporn.", t) > 0 || Pos(".youporn.", t) > 0;
}

std::string FindYouPornMedia(const std::string& pageText)
{
    static const std::string marker = "encodeURIComponent";
    for (const std::string& line : SplitLines(pageText)) {
        const std::size_t p = Pos(marker, line);
        if (p == 0)
            continue;
        std::string rest = line.substr(p - 1 + marker.size());
        rest = ReplaceAll(rest, "'", "");
        rest = ReplaceAll(rest, "(", "");
        rest = ReplaceAll(rest, ")", "");
        const std::size_t x = Pos("&xml", rest);
        if (x > 0)
            rest.resize(x - 1);
        return rest;
    }
    return {};
}

std::string GetYouPornUrl(const std::string& pageUrl)
{
    std::string page;
    if (!ReadPageText(pageUrl, ResolverPageChunks, page))
        return {};
    return FindYouPornMedia(page);
}
