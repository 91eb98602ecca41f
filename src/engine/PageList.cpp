// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/PageList.h"

#include "system/ConRun.h"
#include "net/ZQ_Internet.h"
#include "base/ZQ_Strings.h"
#include "engine/EngineChoice.h"
#include "engine/EngineOptions.h"
#include "engine/PageEngine.h"

#include <chrono>

#include <nlohmann/json.hpp>

namespace {

constexpr std::size_t AddressMax = 1023;  // a job's address field
constexpr std::size_t TitleMax = 1024;
constexpr std::size_t FieldMax = 64;

// An address a job may take: http or https, no blanks or control characters,
// not longer than a job's field.
bool UsableAddress(const std::string& url)
{
    if (url.size() > AddressMax || !(StartsWithText(url, "http://") || StartsWithText(url, "https://")))
        return false;
    for (const char c : url)
        if (static_cast<unsigned char>(c) <= 32 || c == 127)
            return false;
    return true;
}

// Reads the answer as it streams past and keeps only the list's title and, of
// each entry, its kind, addresses, title and extension. Memory stays near the
// entries kept, whatever the answer's shape; where a name occurs twice in an
// object the last one counts, and a value of another kind counts as missing.
class TPageListReader {
public:
    using json = nlohmann::json;

    struct TItem {
        std::string Type;
        std::string Url;
        std::string WebpageUrl;
        std::string Title;
        std::string Ext;
    };

    TItem Top;
    std::vector<TItem> Items;   // the entries that are objects, at most PageListMaxEntries
    std::size_t Others = 0;     // entries that are no object, or beyond the limit
    bool Cut = false;
    bool TooLarge = false;
    bool TopIsObject = false;

    bool null() { return Scalar(nullptr); }
    bool boolean(bool) { return Scalar(nullptr); }
    bool number_integer(json::number_integer_t) { return Scalar(nullptr); }
    bool number_unsigned(json::number_unsigned_t) { return Scalar(nullptr); }
    bool number_float(json::number_float_t, const json::string_t&) { return Scalar(nullptr); }
    bool string(json::string_t& v) { return Scalar(&v); }
    bool binary(json::binary_t&) { return Scalar(nullptr); }
    bool key(json::string_t& name)
    {
        if (!Count())
            return false;
        TFrame& f = frames_.back();
        f.Key = KeyOf(name);
        // A second "entries" starts the list over: the last one counts.
        if (f.Role == TRole::Top && f.Key == TKey::Entries) {
            Items.clear();
            Others = 0;
            Cut = false;
        }
        return true;
    }
    bool start_object(std::size_t) { return Open(true); }
    bool end_object() { return Close(); }
    bool start_array(std::size_t) { return Open(false); }
    bool end_array() { return Close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

private:
    enum class TRole { Top, Entries, Entry, Skip };
    enum class TKey { Other, Type, Url, WebpageUrl, Title, Ext, Entries };
    struct TFrame {
        TRole Role;
        TKey Key = TKey::Other;
    };

    static TKey KeyOf(const std::string& name)
    {
        static const std::pair<const char*, TKey> keys[] = {
            {"_type", TKey::Type}, {"url", TKey::Url}, {"webpage_url", TKey::WebpageUrl},
            {"title", TKey::Title}, {"ext", TKey::Ext}, {"entries", TKey::Entries},
        };
        for (const auto& [text, k] : keys)
            if (name == text)
                return k;
        return TKey::Other;
    }

    bool Count()
    {
        if (++nodes_ > PageInfoMaxNodes) {
            TooLarge = true;
            return false;
        }
        return true;
    }

    TItem* ItemOf(const TFrame& f)
    {
        if (f.Role == TRole::Top)
            return &Top;
        if (f.Role == TRole::Entry)
            return &Items.back();
        return nullptr;
    }

    // A value for the member being read; null stands for a value that is no text.
    void Store(TFrame& f, const std::string* text)
    {
        TItem* item = ItemOf(f);
        if (!item)
            return;
        const auto cut = [text](std::size_t max) { return text ? Utf8Cut(*text, max) : std::string(); };
        switch (f.Key) {
        case TKey::Type: item->Type = cut(FieldMax); break;
        // An address longer than a job's field is of no use; it is not cut.
        case TKey::Url: item->Url = text && text->size() <= AddressMax ? *text : std::string(); break;
        case TKey::WebpageUrl: item->WebpageUrl = text && text->size() <= AddressMax ? *text : std::string(); break;
        case TKey::Title: item->Title = cut(TitleMax); break;
        case TKey::Ext: item->Ext = cut(FieldMax); break;
        default: break;
        }
    }

    bool Scalar(const std::string* text)
    {
        if (!Count())
            return false;
        if (frames_.empty())
            return true;
        TFrame& f = frames_.back();
        if (f.Role == TRole::Entries)
            ++Others;
        else
            Store(f, text);
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
            TopIsObject = object;
            role = object ? TRole::Top : TRole::Skip;
        } else {
            TFrame& f = frames_.back();
            if (f.Role == TRole::Entries) {
                if (!object || Items.size() >= PageListMaxEntries) {
                    ++Others;
                    Cut = Cut || object;
                } else {
                    Items.emplace_back();
                    role = TRole::Entry;
                }
            } else {
                Store(f, nullptr);  // a container where a text was expected
                if (!object && f.Role == TRole::Top && f.Key == TKey::Entries)
                    role = TRole::Entries;
            }
        }
        frames_.push_back(TFrame{role});
        return true;
    }

    bool Close()
    {
        if (frames_.empty())
            return false;
        frames_.pop_back();
        return true;
    }

    std::vector<TFrame> frames_;
    std::size_t nodes_ = 0;
};

bool IsLinkType(const std::string& type)
{
    return type == "url" || type == "url_transparent";
}

} // namespace

TPageList ParsePageList(const std::string& json, const std::string& pageUrl)
{
    TPageList list;
    TPageListReader reader;
    const bool whole = nlohmann::json::sax_parse(json, &reader);
    if (!whole || !reader.TopIsObject) {
        list.TooLarge = reader.TooLarge;
        if (list.TooLarge)
            list.Error = PageInfoTooLargeText;
        return list;
    }
    if (reader.Top.Type != "playlist")
        return list;
    list.Title = reader.Top.Title;
    list.Cut = reader.Cut;
    list.Skipped = reader.Others;
    const std::string listPage = reader.Top.WebpageUrl;
    for (TPageListReader::TItem& item : reader.Items) {
        // A link to a page of its own; else a video with a page of its own; else
        // a video of this very page (a <video> element): its media address.
        std::string address;
        if (IsLinkType(item.Type))
            address = item.Url;
        else if (item.Type.empty() || item.Type == "video") {
            if (UsableAddress(item.WebpageUrl) && item.WebpageUrl != pageUrl && item.WebpageUrl != listPage)
                address = item.WebpageUrl;
            else
                address = item.Url;
        }
        if (!UsableAddress(address)) {
            ++list.Skipped;
            continue;
        }
        TPageListEntry entry;
        entry.Url = std::move(address);
        entry.Title = std::move(item.Title);
        // The extension only of a video itself; a link's page decides its own.
        if (!IsLinkType(item.Type))
            entry.Ext = std::move(item.Ext);
        list.Entries.push_back(std::move(entry));
    }
    list.IsList = list.Entries.size() >= 2;
    return list;
}

std::vector<std::string> PageListArgs(const std::string& url)
{
    return {"--ignore-config", "--yes-playlist", "--flat-playlist", "--no-colors", "--socket-timeout", "15",
            "-J", "--", url};
}

TPageList LookUpPageList(const std::string& url)
{
    TPageList list;
    const TEngineChoice engine = ChooseEngine();
    if (engine.Path.empty())
        return list;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(PageLookUpSeconds);
    // In a folder of its own, as every look-up.
    const TPrivateTempDir workDir;
    if (workDir.Path().empty()) {
        list.Error = TempDirUnusableText;
        return list;
    }
    TCapturedRun run;
    try {
        run = RunCaptured(
            engine.Path, EngineRunArgs(engine, PageListArgs(url)), PageInfoMaxBytes,
            [giveUp] { return NetworkStepEnded() || std::chrono::steady_clock::now() >= giveUp; }, workDir.Path());
    } catch (const EConsoleError& e) {
        list.Error = e.what();
        return list;
    }
    if (run.Stopped)
        return list;
    if (run.TooLong) {
        list.TooLarge = true;
        list.Error = PageInfoTooLargeText;
        return list;
    }
    if (run.ExitCode != 0) {
        list.Error = EngineErrorText(run.Err);
        if (list.Error.empty())
            list.Error = EngineFailureReason(EngineUsageErrorIn(run.Err), run.ExitCode);
        return list;
    }
    return ParsePageList(run.Out, url);
}
