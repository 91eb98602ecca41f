// SPDX-License-Identifier: GPL-3.0-or-later
#include "sites/VideoSite.h"

#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"
#include "sites/ZQ_Wrzuta.h"
#include "sites/ZQ_YouPorn.h"
#include "sites/ZQ_YouTube.h"

TVideoSite DetectVideoSite(const std::string& text)
{
    if (Trim(text).empty())
        return vsNone;
    // The file test takes the text as it was given: a name may begin or end
    // with blanks.
    if (FileExists(text))
        return vsLocalFile;
    if (IsYouTubeUrl(text))
        return vsYouTube;
    if (IsWrzutaUrl(text))
        return vsWrzuta;
    if (IsYouPornUrl(text))
        return vsYouPorn;
    return IsWebAddress(text) ? vsWebPage : vsNone;
}

bool IsWebAddress(const std::string& text)
{
    const std::string t = LowerAscii(Trim(text));
    for (const char* scheme : {"http://", "https://"}) {
        const std::string s(scheme);
        if (t.size() > s.size() && t.compare(0, s.size(), s) == 0 && t[s.size()] != '/')
            return true;
    }
    return false;
}

std::string CleanUpClipboardUrl(const std::string& text, TVideoSite site)
{
    if (site == vsYouTube)
        return ReplaceFirstText(text, "/v/", "/watch?v=");
    return text;
}

std::string DefaultSiteExtension(TVideoSite site, bool youTubeMp4)
{
    switch (site) {
    case vsYouTube:
        return youTubeMp4 ? ".mp4" : ".flv";
    case vsWrzuta:
    case vsYouPorn:
        return ".flv";
    case vsNone:
    case vsLocalFile:
    case vsWebPage:
        break;
    }
    return {};
}
