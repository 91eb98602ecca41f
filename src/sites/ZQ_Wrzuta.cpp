// SPDX-License-Identifier: GPL-3.0-or-later
#include "sites/ZQ_Wrzuta.h"

#include "base/ZQ_Strings.h"
#include "base/ZQ_URL.h"
#include "sites/SitePage.h"

namespace {
// The content of the last "<fileId>" line; found tells whether there was one.
std::string LastFileId(const std::string& descriptionText, bool& found)
{
    found = false;
    std::string id;
    for (const std::string& line : SplitLines(descriptionText)) {
        if (!StartsWithText(line, "<fileId>"))
            continue;
        std::string s = ReplaceFirstText(line, "<fileId>", "");
        s = ReplaceFirstText(s, "</fileId>", "");
        s = ReplaceFirstText(s, "]]>", "");
        s = ReplaceFirstText(s, "<![CDATA[", "");
        id = s;
        found = true;
    }
    return id;
}
} // namespace

bool IsWrzutaUrl(const std::string& text)
{
    const std::string t = LowerAscii(Trim(text));
    return Pos("/wrzuta.pl/", t) > 0 || Pos(".wrzuta.pl/", t) > 0;
}

std::string GetWrzutaKey(const std::string& pageUrl)
{
    const std::string lower = LowerAscii(pageUrl);
    const std::string marker = Pos("/film/", lower) > 0 ? "/film/" : "/audio/";
    const std::size_t p = Pos(marker, lower);
    if (p == 0)
        return {};
    const std::string rest = pageUrl.substr(p - 1 + marker.size());
    const std::size_t slash = rest.find('/');
    return slash == std::string::npos ? rest : rest.substr(0, slash);
}

std::string FindWrzutaFileId(const std::string& descriptionText)
{
    bool found = false;
    return LastFileId(descriptionText, found);
}

std::string GetWrzutaUrl(const std::string& pageUrl)
{
    const std::string key = GetWrzutaKey(pageUrl);
    if (key.empty())
        return {};
    std::string scheme, host, path;
    SplitUrl(pageUrl, scheme, host, path);
    std::string media = scheme + host + "/sr/v/" + key;

    // Audio files are served from the address their description names.
    if (Pos("/audio/", pageUrl) > 0) {
        const std::string descriptionUrl = ReplaceFirstText(pageUrl, "/audio/", "/xml/plik/");
        std::string description;
        ReadPageText(descriptionUrl, ResolverPageChunks, description);
        bool found = false;
        const std::string id = LastFileId(description, found);
        if (found)
            media = id;
    }
    return media;
}
