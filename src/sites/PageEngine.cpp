#include "sites/PageEngine.h"

#include "app/ProgramValues.h"
#include "convert/ConRun.h"
#include "net/Json.h"
#include "net/ZQ_Internet.h"
#include "net/ZQ_Strings.h"
#include "sites/EngineChoice.h"

#include <chrono>
#include <map>
#include <mutex>

namespace {
struct TButtonFormat {
    int FormatNumber;
    int Height;
    bool Mp4;
};
constexpr TButtonFormat ButtonFormats[] = {
    {37, 1080, true}, {22, 720, true}, {18, 360, true}, {35, 480, false}, {34, 360, false}, {5, 240, false},
};

const TButtonFormat* ButtonFormat(int formatNumber)
{
    for (const TButtonFormat& f : ButtonFormats)
        if (f.FormatNumber == formatNumber)
            return &f;
    return nullptr;
}

std::int64_t SizeOf(const TJson& format)
{
    const double exact = format.NumberOf("filesize");
    const double size = exact > 0 ? exact : format.NumberOf("filesize_approx");
    return size > 0 && size < 9e18 ? static_cast<std::int64_t>(size) : 0;
}

// The entry that holds the media: the page itself, or the first entry of a
// list the engine made of it.
const TJson* MediaEntry(const TJson& top)
{
    if (top.StringOf("_type") != "playlist")
        return &top;
    for (const TJson& entry : top.ItemsOf("entries"))
        if (entry.IsObject())
            return &entry;
    return nullptr;
}

// The engine's generic reader numbers the videos it finds on a page, "Title (1)",
// "Title (2)", even when there is only one. A single entry keeps the page's title.
std::string EntryTitle(const TJson& top, const TJson& entry)
{
    std::string title = entry.StringOf("title");
    const std::string number = " (1)";
    if (title.size() <= number.size() || title.compare(title.size() - number.size(), number.size(), number) != 0)
        return title;
    bool single = false;
    if (&entry == &top) {
        const std::string id = entry.StringOf("id");
        single = id.size() > 2 && id.compare(id.size() - 2, 2, "-1") == 0;
    } else {
        single = top.ItemsOf("entries").size() == 1;
    }
    if (single)
        title.erase(title.size() - number.size());
    return title;
}

std::mutex CacheLock;
std::map<std::string, TPageInfo> Cache;  // by format selector and address
constexpr std::size_t CacheMax = 16;
std::map<std::string, std::string> Failures;  // the engine's reason, by address

void RememberFailure(const std::string& url, const std::string& reason)
{
    const std::lock_guard<std::mutex> lock(CacheLock);
    if (Failures.size() >= CacheMax)
        Failures.clear();
    Failures[url] = reason;
}
} // namespace

TEngineFormat YouTubeEngineFormat(int formatNumber)
{
    const TButtonFormat* f = ButtonFormat(formatNumber);
    if (!f)
        return {};
    const std::string h = std::to_string(f->Height);
    const std::string any = "bv*[height<=" + h + "]+ba/b[height<=" + h + "]/b";
    if (f->Mp4)
        return {"bv*[height<=" + h + "][ext=mp4]+ba[ext=m4a]/b[height<=" + h + "][ext=mp4]/" + any, "mp4"};
    return {"b[height<=" + h + "][ext=flv]/" + any, ""};
}

bool PageOffersYouTubeFormat(const TPageInfo& info, int formatNumber)
{
    const TButtonFormat* f = ButtonFormat(formatNumber);
    if (!f)
        return false;
    for (const TPageFormat& format : info.Formats)
        if (format.Height == f->Height && format.VideoCodec != "none" && (!f->Mp4 || format.Ext == "mp4"))
            return true;
    return false;
}

TPageInfo ParsePageInfo(const std::string& json)
{
    TPageInfo info;
    const std::optional<TJson> top = TJson::Parse(json);
    if (!top || !top->IsObject())
        return info;
    const TJson* entry = MediaEntry(*top);
    if (!entry)
        return info;
    for (const TJson& f : entry->ItemsOf("formats")) {
        if (!f.IsObject())
            continue;
        TPageFormat format;
        format.Id = f.StringOf("format_id");
        format.Ext = f.StringOf("ext");
        format.VideoCodec = f.StringOf("vcodec");
        format.AudioCodec = f.StringOf("acodec");
        const double height = f.NumberOf("height");
        format.Height = height > 0 && height < 100000 ? static_cast<int>(height) : 0;
        format.Size = SizeOf(f);
        info.Formats.push_back(std::move(format));
    }
    info.Found = !info.Formats.empty() || !entry->StringOf("url").empty();
    if (!info.Found)
        return info;
    info.Title = EntryTitle(*top, *entry);
    info.Ext = entry->StringOf("ext");
    if (const TJson* parts = entry->Member("requested_formats"); parts && parts->IsArray()) {
        for (const TJson& part : parts->Items()) {
            const std::int64_t size = SizeOf(part);
            if (size <= 0) {
                info.Size = 0;  // one part of unknown size: the whole is unknown
                break;
            }
            info.Size += size;
        }
    } else {
        info.Size = SizeOf(*entry);
    }
    return info;
}

std::string EngineErrorText(const std::string& errorOutput)
{
    const std::string prefix = "ERROR: ";
    std::string reason;
    std::size_t start = 0;
    while (start < errorOutput.size()) {
        std::size_t end = errorOutput.find('\n', start);
        if (end == std::string::npos)
            end = errorOutput.size();
        const std::string line = errorOutput.substr(start, end - start);
        if (line.compare(0, prefix.size(), prefix) == 0)
            reason = Trim(line.substr(prefix.size()));
        start = end + 1;
    }
    return Utf8Cut(reason, 300);
}

std::vector<std::string> PageInfoArgs(const std::string& url, const TEngineFormat& format)
{
    std::vector<std::string> args = {"--ignore-config", "--no-playlist", "--no-colors", "--socket-timeout", "15", "-J"};
    if (!format.Selector.empty()) {
        args.push_back("-f");
        args.push_back(format.Selector);
    }
    if (!format.MergeFormat.empty()) {
        args.push_back("--merge-output-format");
        args.push_back(format.MergeFormat);
    }
    args.push_back("--");
    args.push_back(url);
    return args;
}

TPageInfo LookUpPage(const std::string& url, const TEngineFormat& format)
{
    const std::string key = format.Selector + "\n" + format.MergeFormat + "\n" + url;
    {
        const std::lock_guard<std::mutex> lock(CacheLock);
        if (const auto it = Cache.find(key); it != Cache.end())
            return it->second;
    }
    TPageInfo info;
    const TEngineChoice engine = ChooseEngine();
    if (engine.Path.empty())
        return info;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(PageLookUpSeconds);
    TCapturedRun run;
    try {
        run = RunCaptured(engine.Path, EngineRunArgs(engine, PageInfoArgs(url, format)), PageInfoMaxBytes, [giveUp] {
            return NetworkStepEnded() || std::chrono::steady_clock::now() >= giveUp;
        });
    } catch (const EConsoleError& e) {
        info.Error = e.what();
        return info;
    }
    if (run.ExitCode == 0 && !run.Stopped && !run.TooLong)
        info = ParsePageInfo(run.Out);
    if (!info.Found) {
        info = TPageInfo{};
        info.Error = EngineErrorText(run.Err);
        // A look-up cut short says nothing about the page.
        if (!run.Stopped)
            RememberFailure(url, info.Error);
        return info;
    }
    const std::lock_guard<std::mutex> lock(CacheLock);
    if (Cache.size() >= CacheMax)
        Cache.clear();
    Cache[key] = info;
    Failures.erase(url);
    return info;
}

void ForgetPageLookUps()
{
    const std::lock_guard<std::mutex> lock(CacheLock);
    Cache.clear();
    Failures.clear();
}

std::optional<std::string> PageLookUpFailure(const std::string& url)
{
    const std::lock_guard<std::mutex> lock(CacheLock);
    if (const auto it = Failures.find(url); it != Failures.end())
        return it->second;
    return std::nullopt;
}
