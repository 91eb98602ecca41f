// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Recognising what the user typed or pasted: a page of one of the supported
// sites, a local file, or nothing; and what depends on the site.

#include <cstdint>
#include <string>

enum TVideoSite : std::uint8_t {
    vsNone = 0,
    vsLocalFile = 1,
    vsYouTube = 2,
    vsWrzuta = 4,
    vsYouPorn = 8,
    vsWebPage = 16,  // any other http(s) address: a media file, or a page for the page engine
};

TVideoSite DetectVideoSite(const std::string& text);
// An http:// or https:// address (any case) with something after the "//".
bool IsWebAddress(const std::string& text);

// The clipboard clean-up: for a YouTube address the first "/v/" (any case)
// becomes "/watch?v="; other texts stay.
std::string CleanUpClipboardUrl(const std::string& text, TVideoSite site);

// The extension a site's download has when conversion is off (".flv", ".mp4"),
// or empty when the name is to stay unchanged. youTubeMp4 tells whether one of
// the MP4 format buttons is checked.
std::string DefaultSiteExtension(TVideoSite site, bool youTubeMp4);
