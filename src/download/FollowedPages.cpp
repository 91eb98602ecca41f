// SPDX-License-Identifier: GPL-3.0-or-later
#include "download/FollowedPages.h"

#include "app/IniFile.h"
#include "system/OutputFiles.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"

#include <algorithm>
#include <functional>
#include <cstdio>
#include <ctime>

namespace {
constexpr const char* ListHeader = "brimtale-following 1";
constexpr const char* SeenHeader = "brimtale-seen 1";
constexpr std::size_t FieldMax = 4096;

std::string Escape(const std::string& text)
{
    std::string out;
    for (const unsigned char c : text) {
        if (c == '%' || c < 0x20 || c == 0x7f) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::optional<std::string> Unescape(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int hi = HexDigitValue(text[i + 1]);
        const int lo = HexDigitValue(text[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

// Edits the list under its lock; the edit says what became of it.
TFollowEdit EditList(const std::string& file,
                     const std::function<TFollowEdit(std::vector<TFollowedPage>& pages)>& edit)
{
    TFollowEdit result = TFollowEdit::Failed;
    const bool written = UpdateFileLocked(file, FollowedListMaxBytes,
                                          [&](const std::string* current, std::string& replacement) {
                                              std::vector<TFollowedPage> pages =
                                                  current ? ParseFollowedPages(*current) : std::vector<TFollowedPage>{};
                                              result = edit(pages);
                                              if (result != TFollowEdit::Done)
                                                  return false;
                                              replacement = FollowedPagesText(pages);
                                              return true;
                                          });
    if (result == TFollowEdit::Done && !written)
        return TFollowEdit::Failed;
    return result;
}

bool IsSeenLine(const std::string& line)
{
    if (line.empty() || line.size() > FieldMax || !IsValidUtf8(line))
        return false;
    for (const unsigned char c : line)
        if (c < 0x20 || c == 0x7f)
            return false;
    return true;
}
} // namespace

std::string FollowingDir(const std::string& dataDir)
{
    return dataDir + "/following";
}

std::string FollowedListFile(const std::string& followingDir)
{
    return followingDir + "/following.list";
}

std::string FollowedPagesText(const std::vector<TFollowedPage>& pages)
{
    std::string text = std::string(ListHeader) + "\n";
    for (const TFollowedPage& page : pages)
        text += Escape(page.Url) + "\t" + Escape(page.Directory) + "\t" + Escape(page.Format) + "\t" +
                Escape(page.Profile) + "\t" + std::to_string(page.LastCheck) + "\t" + std::to_string(page.Taken) +
                "\n";
    return text;
}

std::vector<TFollowedPage> ParseFollowedPages(const std::string& text)
{
    std::vector<TFollowedPage> pages;
    std::size_t start = 0;
    bool first = true;
    while (start < text.size() && pages.size() < FollowedPagesMax) {
        const std::size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        if (first) {
            first = false;
            if (line != ListHeader)
                return pages;
            continue;
        }
        // A line cut short (the end of a file written by something else) is no page.
        if (end == std::string::npos)
            break;
        const std::vector<std::string> fields = SplitAtEach(line, '\t');
        if (fields.size() < 6)
            continue;
        TFollowedPage page;
        const auto url = Unescape(fields[0]);
        const auto dir = Unescape(fields[1]);
        const auto format = Unescape(fields[2]);
        const auto profile = Unescape(fields[3]);
        const auto when = DecimalDigits(fields[4]);
        const auto taken = DecimalDigits(fields[5]);
        if (!url || !dir || !format || !profile || !when || !taken || url->empty() || url->size() > FieldMax ||
            dir->size() > FieldMax || format->size() > 200 || profile->size() > 200 || !IsValidUtf8(*url))
            continue;
        if (FindFollowedPage(pages, *url))
            continue;
        page.Url = *url;
        page.Directory = *dir;
        page.Format = *format;
        page.Profile = *profile;
        page.LastCheck = *when;
        page.Taken = *taken;
        pages.push_back(std::move(page));
    }
    return pages;
}

std::vector<TFollowedPage> ReadFollowedPages(const std::string& file)
{
    const TWholeFile read = ReadWholeFile(file, FollowedListMaxBytes);
    return read.Ok() ? ParseFollowedPages(read.Text) : std::vector<TFollowedPage>{};
}

std::optional<TFollowedPage> FindFollowedPage(const std::vector<TFollowedPage>& pages, const std::string& url)
{
    for (const TFollowedPage& page : pages)
        if (page.Url == url)
            return page;
    return std::nullopt;
}

TFollowEdit AddFollowedPage(const std::string& file, const TFollowedPage& page)
{
    return EditList(file, [&](std::vector<TFollowedPage>& pages) {
        if (FindFollowedPage(pages, page.Url))
            return TFollowEdit::Exists;
        if (pages.size() >= FollowedPagesMax)
            return TFollowEdit::TooMany;
        pages.push_back(page);
        return TFollowEdit::Done;
    });
}

TFollowEdit RemoveFollowedPage(const std::string& file, const std::string& url)
{
    return EditList(file, [&](std::vector<TFollowedPage>& pages) {
        const auto it = std::find_if(pages.begin(), pages.end(), [&](const TFollowedPage& p) { return p.Url == url; });
        if (it == pages.end())
            return TFollowEdit::Missing;
        pages.erase(it);
        return TFollowEdit::Done;
    });
}

TFollowEdit NoteFollowedCheck(const std::string& file, const std::string& url, std::int64_t when, std::int64_t taken)
{
    return EditList(file, [&](std::vector<TFollowedPage>& pages) {
        for (TFollowedPage& page : pages)
            if (page.Url == url) {
                page.LastCheck = when;
                page.Taken += taken;
                return TFollowEdit::Done;
            }
        return TFollowEdit::Missing;  // removed meanwhile: it stays removed
    });
}

std::string SeenListFile(const std::string& followingDir, const std::string& url)
{
    // FNV-1a of the address: a name of fixed form whatever the address holds.
    std::uint64_t hash = 1469598103934665603ull;
    for (const unsigned char c : url) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char name[40];
    std::snprintf(name, sizeof name, "%016llx.seen", static_cast<unsigned long long>(hash));
    return followingDir + "/" + name;
}

TSeenList::TLoad TSeenList::Load()
{
    urls_.clear();
    setAside_.clear();
    const TWholeFile read = ReadWholeFile(file_, (FieldMax + 1) * SeenListMaxEntries, TLinkAtName::Refuse);
    if (read.Status == TFileRead::CannotOpen && !PathExists(file_))
        return TLoad::Missing;
    bool whole = read.Ok();
    std::vector<std::string> urls;
    if (whole) {
        const std::string& text = read.Text;
        std::size_t start = 0;
        bool first = true;
        while (start < text.size()) {
            const std::size_t end = text.find('\n', start);
            if (end == std::string::npos) {
                whole = false;  // cut short: not written by this program
                break;
            }
            const std::string line = text.substr(start, end - start);
            start = end + 1;
            if (first) {
                first = false;
                if (line != SeenHeader) {
                    whole = false;
                    break;
                }
                continue;
            }
            if (!IsSeenLine(line) || urls.size() >= SeenListMaxEntries) {
                whole = false;
                break;
            }
            urls.push_back(line);
        }
        if (first)
            whole = false;  // not even the first line
    }
    if (!whole) {
        // Kept for whoever wants to look at it; a new list starts.
        std::string aside = GetUniqueFileName(file_ + ".corrupt");
        if (aside.empty() || !RenameFileNoReplace(file_, aside))
            return TLoad::Failed;
        setAside_ = aside;
        return TLoad::Corrupt;
    }
    std::sort(urls.begin(), urls.end());
    urls.erase(std::unique(urls.begin(), urls.end()), urls.end());
    urls_ = std::move(urls);
    return TLoad::Ok;
}

bool TSeenList::Has(const std::string& url) const
{
    return std::binary_search(urls_.begin(), urls_.end(), url);
}

bool TSeenList::Add(const std::vector<std::string>& urls)
{
    for (const std::string& url : urls)
        if (IsSeenLine(url) && !Has(url))
            urls_.insert(std::lower_bound(urls_.begin(), urls_.end(), url), url);
    return Save();
}

bool TSeenList::Save() const
{
    std::string text = std::string(SeenHeader) + "\n";
    for (const std::string& url : urls_)
        text += url + "\n";
    return ReplaceFileAtomically(file_, text);
}

std::vector<std::string> EntriesSeenAtFollow(const std::vector<std::string>& listed, std::size_t latest)
{
    if (latest >= listed.size())
        return {};
    return {listed.begin() + static_cast<std::ptrdiff_t>(latest), listed.end()};
}

TFollowEdit FollowPage(const std::string& followingDir, const TFollowedPage& page,
                       const std::vector<std::string>& listed, std::size_t latest)
{
    if (!DirectoryExists(followingDir) && !ForceDirectories(followingDir))
        return TFollowEdit::Failed;
    const std::string listFile = FollowedListFile(followingDir);
    if (FindFollowedPage(ReadFollowedPages(listFile), page.Url))
        return TFollowEdit::Exists;
    // What was seen by an earlier follow of the page, removed since, goes.
    const std::string seenFile = SeenListFile(followingDir, page.Url);
    RemoveFile(seenFile);
    TSeenList seen(seenFile);
    if (!seen.Add(EntriesSeenAtFollow(listed, latest)))
        return TFollowEdit::Failed;
    return AddFollowedPage(listFile, page);
}

std::string CheckTimeText(std::int64_t when, bool polish)
{
    if (when <= 0)
        return polish ? "nigdy" : "never";
    const std::time_t t = static_cast<std::time_t>(when);
    std::tm tm {};
    if (!::gmtime_r(&t, &tm))
        return "?";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &tm);
    return text;
}
