// SPDX-License-Identifier: GPL-3.0-or-later
// The three page scanners and the clipboard recognition on any page text.

#include "FuzzSupport.h"
#include "sites/VideoSite.h"
#include "sites/ZQ_Wrzuta.h"
#include "sites/ZQ_YouPorn.h"
#include "sites/ZQ_YouTube.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = FuzzText(data, size);
    for (int format : {5, 18, 22, 34, 35, 37})
        (void)FindYouTubeStream(text, format);
    (void)FindWrzutaFileId(text);
    (void)FindYouPornMedia(text);

    // Recognition looks at the text only; nothing is fetched for it.
    const TVideoSite site = DetectVideoSite(text);
    if (site != vsLocalFile) {
        (void)CleanUpClipboardUrl(text, site);
        (void)NormalizeYouTubeUrl(text);
        (void)GetWrzutaKey(text);
    }
    return 0;
}
