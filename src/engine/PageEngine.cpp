// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/PageEngine.h"

#include "app/ProgramValues.h"
#include "app/Texts.h"
#include "system/ConRun.h"
#include "convert/Conversion.h"
#include "net/ZQ_Internet.h"
#include "base/ZQ_Strings.h"
#include "engine/EngineChoice.h"
#include "engine/EngineOptions.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include <nlohmann/json.hpp>

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

std::int64_t SizeFrom(double exact, double approx)
{
    const double size = exact > 0 ? exact : approx;
    return size > 0 && size < 9e18 ? static_cast<std::int64_t>(size) : 0;
}

// Reads the page information as it streams past and keeps only what the
// program uses, so that memory stays near the size of the text whatever its
// shape. Where a name occurs twice in an object the last one counts; a value of
// another kind than expected counts as missing.
class TPageInfoReader {
public:
    using json = nlohmann::json;

    // The media entry's part: the page itself, or the first entry of a list.
    struct TEntry {
        std::string Type;
        std::string Id;
        std::string Url;
        std::string Title;
        std::string Ext;
        double FileSize = 0;
        double FileSizeApprox = 0;
        std::vector<TPageFormat> Formats;
        std::vector<std::string> Subtitles;
        bool RequestedIsArray = false;
        bool RequestedUnknown = false;  // a part of unknown size
        std::int64_t RequestedSize = 0;
    };

    TEntry Top;
    TEntry First;      // the first object in the page's "entries"
    std::size_t EntriesCount = 0;  // the items of the page's "entries", of any kind
    bool TooLarge = false;

    // The SAX interface.
    bool null() { return Scalar(TValue{}); }
    bool boolean(bool) { return Scalar(TValue{}); }
    bool number_integer(json::number_integer_t v) { return Scalar(TValue{TValue::TKind::Number, static_cast<double>(v)}); }
    bool number_unsigned(json::number_unsigned_t v) { return Scalar(TValue{TValue::TKind::Number, static_cast<double>(v)}); }
    bool number_float(json::number_float_t v, const json::string_t&) { return Scalar(TValue{TValue::TKind::Number, v}); }
    bool string(json::string_t& v) { return Scalar(TValue{TValue::TKind::String, 0, &v}); }
    bool binary(json::binary_t&) { return Scalar(TValue{}); }
    bool key(json::string_t& name)
    {
        if (!Count())
            return false;
        TFrame& f = frames_.back();
        if (f.Role == TRole::Subtitles) {
            // Each name of the subtitles object is a language.
            constexpr std::size_t LanguagesMax = 200;
            const bool code = !name.empty() && name.size() <= 20 &&
                              std::all_of(name.begin(), name.end(), [](char c) {
                                  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                         c == '-' || c == '_';
                              });
            if (code && subtitlesOf_->Subtitles.size() < LanguagesMax)
                subtitlesOf_->Subtitles.push_back(name);
            f.Key = TKey::Other;
            return true;
        }
        f.Key = KeyOf(name);
        // A member named again starts over: the last one counts.
        if (f.Role == TRole::Top && f.Key == TKey::Entries) {
            First = TEntry{};
            firstFound_ = false;
            EntriesCount = 0;
        }
        if (TEntry* e = EntryOf(f)) {
            if (f.Key == TKey::Formats)
                e->Formats.clear();
            if (f.Key == TKey::Subtitles)
                e->Subtitles.clear();
            if (f.Key == TKey::Requested) {
                e->RequestedIsArray = false;
                e->RequestedUnknown = false;
                e->RequestedSize = 0;
            }
        }
        return true;
    }
    bool start_object(std::size_t) { return Open(true); }
    bool end_object() { return Close(); }
    bool start_array(std::size_t) { return Open(false); }
    bool end_array() { return Close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

private:
    enum class TRole { Top, Entries, Entry, Formats, Format, Requested, RequestedPart, Subtitles, Skip };
    enum class TKey { Other, Type, Id, Entries, Url, Title, Ext, FileSize, FileSizeApprox, Formats, Requested,
                      FormatId, VideoCodec, AudioCodec, Height, Width, Fps, Subtitles };
    struct TFrame {
        TRole Role;
        TKey Key = TKey::Other;     // the member being read (objects)
        bool TookEntry = false;     // Entries: the first object has been seen
        double Exact = 0;           // RequestedPart: its sizes
        double Approx = 0;
    };
    struct TValue {
        enum class TKind { Other, Number, String };
        TKind Kind = TKind::Other;
        double Number = 0;
        json::string_t* Text = nullptr;
    };

    static TKey KeyOf(const std::string& name)
    {
        static const std::pair<const char*, TKey> keys[] = {
            {"_type", TKey::Type}, {"id", TKey::Id}, {"entries", TKey::Entries}, {"url", TKey::Url}, {"title", TKey::Title},
            {"ext", TKey::Ext}, {"filesize", TKey::FileSize}, {"filesize_approx", TKey::FileSizeApprox},
            {"formats", TKey::Formats}, {"requested_formats", TKey::Requested}, {"format_id", TKey::FormatId},
            {"vcodec", TKey::VideoCodec}, {"acodec", TKey::AudioCodec}, {"height", TKey::Height},
            {"width", TKey::Width}, {"fps", TKey::Fps}, {"subtitles", TKey::Subtitles},
        };
        for (const auto& [text, k] : keys)
            if (name == text)
                return k;
        return TKey::Other;
    }

    TEntry* EntryOf(TFrame& f) { return f.Role == TRole::Top ? &Top : f.Role == TRole::Entry ? &First : nullptr; }

    // Every value counts against the limit, kept or not.
    bool Count()
    {
        if (++nodes_ > PageInfoMaxNodes) {
            TooLarge = true;
            return false;
        }
        return true;
    }

    static std::string Text(const TValue& v, std::size_t max)
    {
        return v.Kind == TValue::TKind::String ? Utf8Cut(*v.Text, max) : std::string();
    }
    static double Number(const TValue& v) { return v.Kind == TValue::TKind::Number ? v.Number : 0; }

    // A value (a container counts as of another kind) for the member being read.
    void Store(TFrame& f, const TValue& v)
    {
        constexpr std::size_t FieldMax = 256;
        constexpr std::size_t TitleMax = 4096;
        if (TEntry* e = EntryOf(f)) {
            switch (f.Key) {
            case TKey::Type: e->Type = Text(v, FieldMax); break;
            case TKey::Id: e->Id = Text(v, FieldMax); break;
            case TKey::Url: e->Url = Text(v, FieldMax); break;
            case TKey::Title: e->Title = Text(v, TitleMax); break;
            case TKey::Ext: e->Ext = Text(v, FieldMax); break;
            case TKey::FileSize: e->FileSize = Number(v); break;
            case TKey::FileSizeApprox: e->FileSizeApprox = Number(v); break;
            default: break;
            }
        } else if (f.Role == TRole::Format) {
            TPageFormat& format = formatOf_->Formats.back();
            switch (f.Key) {
            case TKey::FormatId: format.Id = Text(v, FieldMax); break;
            case TKey::Ext: format.Ext = Text(v, FieldMax); break;
            case TKey::VideoCodec: format.VideoCodec = Text(v, FieldMax); break;
            case TKey::AudioCodec: format.AudioCodec = Text(v, FieldMax); break;
            case TKey::Height: {
                const double height = Number(v);
                format.Height = height > 0 && height < 100000 ? static_cast<int>(height) : 0;
                break;
            }
            case TKey::Width: {
                const double width = Number(v);
                format.Width = width > 0 && width < 100000 ? static_cast<int>(width) : 0;
                break;
            }
            case TKey::Fps: {
                const double fps = Number(v);
                format.Fps = fps > 0 && fps < 10000 ? fps : 0;
                break;
            }
            case TKey::FileSize: exact_ = Number(v); format.Size = SizeFrom(exact_, approx_); break;
            case TKey::FileSizeApprox: approx_ = Number(v); format.Size = SizeFrom(exact_, approx_); break;
            default: break;
            }
        } else if (f.Role == TRole::RequestedPart) {
            if (f.Key == TKey::FileSize)
                f.Exact = Number(v);
            else if (f.Key == TKey::FileSizeApprox)
                f.Approx = Number(v);
        }
    }

    // One part of the requested formats has been read; size 0 means unknown.
    void AddRequestedPart(std::int64_t size)
    {
        TEntry& e = *requestedOf_;
        if (size <= 0)
            e.RequestedUnknown = true;
        else if (e.RequestedSize < INT64_MAX - size)
            e.RequestedSize += size;
    }

    bool Scalar(const TValue& v)
    {
        if (!Count())
            return false;
        if (frames_.empty())
            return true;  // a page information that is no object: nothing found
        TFrame& f = frames_.back();
        if (f.Role == TRole::Entries)
            ++EntriesCount;
        if (f.Role == TRole::Requested)
            AddRequestedPart(0);  // an item that is no object has no size
        else
            Store(f, v);
        return true;
    }

    bool Open(bool object)
    {
        if (!Count())
            return false;
        if (frames_.size() >= PageInfoMaxDepth) {
            TooLarge = true;
            return false;
        }
        TRole role = TRole::Skip;
        if (frames_.empty()) {
            role = object ? TRole::Top : TRole::Skip;
            topIsObject_ = object;
        } else {
            TFrame& f = frames_.back();
            if (f.Role == TRole::Entries)
                ++EntriesCount;
            TEntry* e = EntryOf(f);
            if (e) {
                Store(f, TValue{});  // a container where a text or number was expected
                if (!object && f.Role == TRole::Top && f.Key == TKey::Entries)
                    role = TRole::Entries;
                else if (!object && f.Key == TKey::Formats)
                    role = TRole::Formats;
                else if (!object && f.Key == TKey::Requested) {
                    role = TRole::Requested;
                    e->RequestedIsArray = true;
                    requestedOf_ = e;
                }
                if (object && f.Key == TKey::Subtitles) {
                    role = TRole::Subtitles;
                    subtitlesOf_ = e;
                }
                if (role == TRole::Formats)
                    formatOf_ = e;
            } else if (f.Role == TRole::Entries && object && !f.TookEntry) {
                f.TookEntry = true;
                firstFound_ = true;
                role = TRole::Entry;
            } else if (f.Role == TRole::Formats && object) {
                if (formatOf_->Formats.size() >= PageInfoMaxFormats) {
                    TooLarge = true;
                    return false;
                }
                formatOf_->Formats.emplace_back();
                exact_ = approx_ = 0;
                role = TRole::Format;
            } else if (f.Role == TRole::Requested) {
                if (object)
                    role = TRole::RequestedPart;
                else
                    AddRequestedPart(0);
            } else {
                Store(f, TValue{});
            }
        }
        frames_.push_back(TFrame{role});
        return true;
    }

    bool Close()
    {
        if (frames_.empty())
            return false;
        const TFrame f = frames_.back();
        frames_.pop_back();
        if (f.Role == TRole::RequestedPart)
            AddRequestedPart(SizeFrom(f.Exact, f.Approx));
        return true;
    }

    std::vector<TFrame> frames_;
    std::size_t nodes_ = 0;
    bool topIsObject_ = false;
    bool firstFound_ = false;
    TEntry* formatOf_ = nullptr;     // whose formats are being read
    TEntry* requestedOf_ = nullptr;  // whose requested formats are being read
    TEntry* subtitlesOf_ = nullptr;  // whose subtitles are being read
    double exact_ = 0;               // the current format's sizes
    double approx_ = 0;

public:
    bool TopIsObject() const { return topIsObject_; }
    bool HasFirst() const { return firstFound_; }
};

// The engine's generic reader numbers the videos it finds on a page, "Title (1)",
// "Title (2)", even when there is only one. A single entry keeps the page's title.
std::string EntryTitle(std::string title, bool entryIsTop, const std::string& topId, std::size_t entries)
{
    const std::string number = " (1)";
    if (title.size() <= number.size() || title.compare(title.size() - number.size(), number.size(), number) != 0)
        return title;
    const bool single =
        entryIsTop ? topId.size() > 2 && topId.compare(topId.size() - 2, 2, "-1") == 0 : entries == 1;
    if (single)
        title.erase(title.size() - number.size());
    return title;
}

std::mutex CacheLock;
std::map<std::string, TPageInfo> Cache;  // by format selector and address
constexpr std::size_t CacheMax = 16;
std::map<std::string, std::string> Failures;  // the engine's reason, by address

// A kept answer is the address's with a format and the cookies in use.
std::string LookUpKey(const std::string& url, const TEngineFormat& format)
{
    return format.Selector + "\n" + format.MergeFormat + "\n" + LookUpCookiesKey() + "\n" + url;
}

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
    TPageInfoReader reader;
    const bool whole = nlohmann::json::sax_parse(json, &reader);
    if (!whole || !reader.TopIsObject()) {
        info.TooLarge = reader.TooLarge;
        if (info.TooLarge)
            info.Error = PageInfoTooLargeText;
        return info;
    }
    TPageInfoReader::TEntry& entry = reader.Top.Type == "playlist" ? reader.First : reader.Top;
    if (reader.Top.Type == "playlist" && !reader.HasFirst())
        return info;
    info.Formats = std::move(entry.Formats);
    info.SubtitleLanguages = std::move(entry.Subtitles);
    info.Found = !info.Formats.empty() || !entry.Url.empty();
    if (!info.Found)
        return info;
    if (reader.Top.Type == "playlist")
        info.ListEntries = reader.EntriesCount;
    info.Title = EntryTitle(entry.Title, &entry == &reader.Top, reader.Top.Id, reader.EntriesCount);
    info.Ext = entry.Ext;
    if (entry.RequestedIsArray)
        info.Size = entry.RequestedUnknown ? 0 : entry.RequestedSize;
    else
        info.Size = SizeFrom(entry.FileSize, entry.FileSizeApprox);
    return info;
}

std::string EngineUsageError(const std::string& line)
{
    // "PROGRAM: error: REASON", the program's name without blanks.
    const std::string mark = ": error: ";
    const std::size_t at = line.find(mark);
    if (at == std::string::npos || at == 0 || at > 64 || line.find_first_of(" \t") < at)
        return {};
    return Utf8Cut(Trim(PrintableText(line.substr(at + mark.size()))), 300);
}

namespace {
// The reason the last line of output that gives one gives (reasonOf is asked
// for each line; empty: none).
std::string LastReason(const std::string& output, const std::function<std::string(const std::string&)>& reasonOf)
{
    std::string reason;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        if (std::string found = reasonOf(output.substr(start, end - start)); !found.empty())
            reason = std::move(found);
        start = end + 1;
    }
    return reason;
}
} // namespace

std::string EngineUsageErrorIn(const std::string& output)
{
    return LastReason(output, EngineUsageError);
}

std::string EngineFailureReason(const std::string& reason, std::uint32_t exitCode)
{
    if (!reason.empty())
        return reason;
    return "exit code " + std::to_string(exitCode);
}

std::string EngineErrorText(const std::string& errorOutput)
{
    return Utf8Cut(LastReason(errorOutput,
                              [](const std::string& line) {
                                  const std::string prefix = "ERROR: ";
                                  return line.compare(0, prefix.size(), prefix) == 0
                                             ? Trim(PrintableText(line.substr(prefix.size())))
                                             : std::string();
                              }),
                   300);
}

std::string PageInfoProblem(const TPageInfo& info, bool polish, int httpStatus)
{
    if (info.EngineFailed)
        return EngineFailedMessage(info.Error, polish);
    if (info.TooLarge)
        return std::string(MessageText(TMessageId::NoMediaOnPage, polish)) + "\n" + PageInfoTooLargeReason(polish);
    return NoMediaMessage(info.Error, polish, httpStatus);
}

void LogEngineReason(const std::string& url, const std::string& reason)
{
    if (DataDir.empty() || reason.empty())
        return;
    WriteErrorLog(ErrorLogFile(), {PrintableText(url), reason});
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

namespace {
void DropCookies(nlohmann::json& node, std::size_t depth)
{
    if (depth > PageInfoMaxDepth)
        return;
    if (node.is_object()) {
        node.erase("cookies");
        const auto headers = node.find("http_headers");
        if (headers != node.end() && headers->is_object())
            for (auto it = headers->begin(); it != headers->end();)
                it = LowerAscii(it.key()) == "cookie" ? headers->erase(it) : std::next(it);
        for (auto& [key, value] : node.items())
            DropCookies(value, depth + 1);
    } else if (node.is_array()) {
        for (auto& value : node)
            DropCookies(value, depth + 1);
    }
}
} // namespace

std::string PageInfoWithoutCookies(const std::string& json)
{
    try {
        nlohmann::json doc = nlohmann::json::parse(json, nullptr, false);
        if (doc.is_discarded())
            return {};
        DropCookies(doc, 0);
        return doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    } catch (const std::exception&) {
        return {};
    }
}

TPageInfo PageInfoFromJson(std::string json)
{
    TPageInfo info = ParsePageInfo(json);
    if (info.Found && json.size() <= PageInfoKeptBytes)
        info.Json = std::make_shared<const std::string>(std::move(json));
    return info;
}

TPageInfo LookUpPage(const std::string& url, const TEngineFormat& format)
{
    const std::string key = LookUpKey(url, format);
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
    // The engine runs in a folder of this look-up's own: whatever it writes
    // (the cookies file it writes back, a cache) stays there and goes with it.
    const TPrivateTempDir workDir;
    bool cookiesFailed = false;
    const std::vector<std::string> cookies = LookUpCookiesArgs(workDir, cookiesFailed);
    if (cookiesFailed || workDir.Path().empty()) {
        info.Error = cookiesFailed ? CookiesFileUnreadableText : TempDirUnusableText;
        return info;
    }
    std::vector<std::string> args = PageInfoArgs(url, format);
    args.insert(args.begin(), cookies.begin(), cookies.end());
    TCapturedRun run;
    try {
        run = RunCaptured(
            engine.Path, EngineRunArgs(engine, args), PageInfoMaxBytes,
            [giveUp] { return NetworkStepEnded() || std::chrono::steady_clock::now() >= giveUp; }, workDir.Path());
    } catch (const EConsoleError& e) {
        info.Error = e.what();
        return info;
    }
    if (run.ExitCode == 0 && !run.Stopped && !run.TooLong)
        info = PageInfoFromJson(std::move(run.Out));
    if (!info.Found) {
        const bool tooLarge = info.TooLarge || (run.TooLong && !run.Stopped);
        info = TPageInfo{};
        info.TooLarge = tooLarge;
        // Ended by its time limit, the look-up has no answer: the page did not
        // answer in time, which is not the same as a page without media.
        info.Error = tooLarge      ? std::string(PageInfoTooLargeText)
                     : run.Stopped ? std::string(LookUpTimedOutText)
                                   : EngineErrorText(run.Err);
        // No reason of the page's: the engine itself failed, and says how (or
        // at least with which code it ended).
        if (!tooLarge && !run.Stopped && run.ExitCode != 0 && info.Error.empty()) {
            info.EngineFailed = true;
            info.Error = EngineFailureReason(EngineUsageErrorIn(run.Err), run.ExitCode);
        }
        // A look-up cut short says nothing about the page.
        if (!run.Stopped) {
            RememberFailure(url, info.Error);
            if (!tooLarge)
                LogEngineReason(url, info.Error);
        }
        return info;
    }
    const std::lock_guard<std::mutex> lock(CacheLock);
    if (Cache.size() >= CacheMax)
        Cache.clear();
    Cache[key] = info;
    Failures.erase(url);
    return info;
}

void KeepPageLookUp(const std::string& url, const TPageInfo& info)
{
    const std::lock_guard<std::mutex> lock(CacheLock);
    if (Cache.size() >= CacheMax)
        Cache.clear();
    Cache[LookUpKey(url, {})] = info;
    if (info.Found) {
        Failures.erase(url);
    } else if (info.Error != LookUpTimedOutText) {
        if (Failures.size() >= CacheMax)
            Failures.clear();
        Failures[url] = info.Error;
    }
}

void ForgetPageLookUps()
{
    const std::lock_guard<std::mutex> lock(CacheLock);
    Cache.clear();
    Failures.clear();
}

std::size_t KeptListEntries(const std::string& url)
{
    // The engine's own choice of format, asked with the cookies in use now.
    const std::string key = LookUpKey(url, {});
    const std::lock_guard<std::mutex> lock(CacheLock);
    const auto it = Cache.find(key);
    return it == Cache.end() ? 0 : it->second.ListEntries;
}

std::optional<std::string> PageLookUpFailure(const std::string& url)
{
    const std::lock_guard<std::mutex> lock(CacheLock);
    if (const auto it = Failures.find(url); it != Failures.end())
        return it->second;
    return std::nullopt;
}
