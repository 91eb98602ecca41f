// SPDX-License-Identifier: GPL-3.0-or-later
#include "plan/OutputNaming.h"

#include "system/ZQ_FileSystem.h"
#include "net/ZQ_Internet.h"
#include "base/ZQ_Strings.h"
#include "base/ZQ_URL.h"
#include "app/ProgramValues.h"
#include "engine/EngineChoice.h"
#include "engine/PageEngine.h"
#include "sites/ZQ_Wrzuta.h"
#include "sites/ZQ_YouPorn.h"
#include "sites/ZQ_YouTube.h"

#include <cstdint>

namespace {

// The title as readable text: UTF-8 (or Windows-1250 when it isn't), cleaned up.
std::string TitleText(const std::string& rawTitle)
{
    std::string name = DecodeUtf8Title(rawTitle);
    if (Trim(name).empty())
        name = EnsureUtf8(rawTitle);
    return SanitizeTitle(name);
}

// A cleaned-up title with its extension (when it gave a name) as one safe file name.
std::string ProposedName(std::string name, const std::string& extension)
{
    if (!name.empty())
        name += extension;
    return SafeFileName(FinishFileName(DropRepeatedExtension(name)));
}

}  // namespace

std::string FileNameFromTitle(const std::string& rawTitle, const std::string& extension)
{
    return ProposedName(TitleText(rawTitle), extension);
}

std::string FileNameFromMediaAddress(const std::string& url, const std::string& extension)
{
    std::string path = url.substr(0, url.find_first_of("?#"));
    path = path.substr(path.rfind('/') + 1);
    std::string name = EnsureUtf8(UrlDecode(path));
    if (!extension.empty() && ExtractFileExt(name).empty())
        name += "." + extension;
    return SafeFileName(name);
}

std::string FileNameFromPage(const std::string& url, TVideoSite site)
{
    if (site == vsWebPage) {
        // A media file keeps its own name; a page gets the engine's title.
        const TMediaAddress media = ProbeMediaAddress(url);
        if (media.IsMedia)
            return FileNameFromMediaAddress(url, media.Extension);
        // A file that is no media keeps its name too; the engine is not asked
        // (it would take it for a video), and the download says what it is.
        if (media.PlainFile)
            return FileNameFromMediaAddress(url, {});
        if (NetworkStepEnded() || ChooseEngine().Path.empty())
            return {};
        const TPageInfo info = LookUpPage(url);
        return info.Found ? FileNameFromTitle(info.Title, info.Ext.empty() ? std::string() : "." + info.Ext)
                          : std::string();
    }
    const std::string address = site == vsYouTube ? NormalizeYouTubeUrl(url) : url;
    // A local file's name comes from its path; its "page" is not fetched, so a
    // path that looks like a host name never causes a request.
    if (site == vsLocalFile) {
        const std::string name = FileExists(url) ? ExpandFileName(url) : std::string();
        return FinishFileName(DropRepeatedExtension(name));
    }
    const std::string title = TitleText(FetchPageTitle(address));
    std::string extension;
    if (!title.empty()) {
        switch (site) {
        case vsYouTube:
            break;  // the dialog appends the chosen format's extension
        case vsWrzuta:
        case vsYouPorn: {
            const std::string media = site == vsWrzuta ? GetWrzutaUrl(address) : GetYouPornUrl(address);
            extension = media.empty() ? std::string(".flv") : DetectMediaExtension(media, ".flv", true);
            break;
        }
        case vsNone:
        case vsLocalFile:
        case vsWebPage:
            extension = ".flv";
            break;
        }
    }
    return ProposedName(title, extension);
}

std::string CleanDoubledExtension(const std::string& path)
{
    // Only the file name is repaired; the directories above it stay as they are.
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::string name = path.substr(nameStart);
    for (const char* ext : MediaExtensions) {
        const std::string dotted = std::string(".") + ext;
        name = ReplaceFirst(name, dotted + ".flv", ".flv");
        name = ReplaceFirst(name, dotted + ".mp4", ".mp4");
    }
    return path.substr(0, nameStart) + name;
}

