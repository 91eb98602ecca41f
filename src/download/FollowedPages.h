// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Followed pages: channels and lists whose new videos are downloaded at each
// check. The list of them is one file of the program's data folder, replaced
// atomically under a lock; what each page's check has seen (downloaded, or
// listed when it was followed) is a file of its own, also replaced whole, so
// a crash leaves either the old or the new one and nothing is downloaded
// twice.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TFollowedPage {
    std::string Url;        // the list's address as the user gave it (trimmed)
    std::string Directory;  // where its videos go, as typed (empty: the last one used)
    std::string Format;     // -f as given (empty: the default)
    std::string Profile;    // -p as given (empty: no conversion)
    std::int64_t LastCheck = 0;  // seconds since 1970 (UTC); 0: never checked
    std::int64_t Taken = 0;      // videos downloaded by its checks
    bool operator==(const TFollowedPage&) const = default;
};

// The most pages followed, and the most bytes read of the list.
constexpr std::size_t FollowedPagesMax = 1000;
constexpr std::size_t FollowedListMaxBytes = 4 * 1024 * 1024;

// The folder of the followed pages' files in the program's data folder.
std::string FollowingDir(const std::string& dataDir);
// The list's file in that folder.
std::string FollowedListFile(const std::string& followingDir);

// The list as it is kept: a first line naming the format, then one line per
// page of tab-separated fields, each with "%", tab and control characters
// written as %XX. Lines that are no page are passed by.
std::string FollowedPagesText(const std::vector<TFollowedPage>& pages);
std::vector<TFollowedPage> ParseFollowedPages(const std::string& text);
// The pages of the file (none when it is missing or unreadable).
std::vector<TFollowedPage> ReadFollowedPages(const std::string& file);

enum class TFollowEdit { Done, Exists, Missing, TooMany, Failed };
// Adds a page; an address followed already is not added twice.
TFollowEdit AddFollowedPage(const std::string& file, const TFollowedPage& page);
TFollowEdit RemoveFollowedPage(const std::string& file, const std::string& url);
// After a check of the page: its time and the videos it took.
TFollowEdit NoteFollowedCheck(const std::string& file, const std::string& url, std::int64_t when,
                              std::int64_t taken);
std::optional<TFollowedPage> FindFollowedPage(const std::vector<TFollowedPage>& pages, const std::string& url);

// What a page's checks have seen: the addresses of its entries. Held in
// memory, written whole on every change.
class TSeenList {
public:
    enum class TLoad { Ok, Missing, Corrupt, Failed };
    explicit TSeenList(std::string file) : file_(std::move(file)) {}
    // Reads the file. A file that is no such list (bytes that can't be one, a
    // line too long, more than the most entries) is moved aside to a name of
    // its own (SetAside) and the list starts empty.
    TLoad Load();
    const std::string& SetAside() const { return setAside_; }
    bool Has(const std::string& url) const;
    std::size_t Size() const { return urls_.size(); }
    // Adds the addresses and writes the file (false when it can't be written:
    // the list in memory has them all the same).
    bool Add(const std::vector<std::string>& urls);
    bool Save() const;

private:
    std::string file_;
    std::string setAside_;
    std::vector<std::string> urls_;  // sorted
};
// The seen list's file of a page in the folder.
std::string SeenListFile(const std::string& followingDir, const std::string& url);
constexpr std::size_t SeenListMaxEntries = 200'000;

// The entries of a new follow that are left for its first check: the first
// latest of those listed (a channel lists its newest first).
std::vector<std::string> EntriesSeenAtFollow(const std::vector<std::string>& listed, std::size_t latest);

// A new follow of a page whose list was just read: what is listed counts as
// seen but for the first latest, then the page joins the list (a page followed
// already is left as it is: Exists). The folder is made when missing.
TFollowEdit FollowPage(const std::string& followingDir, const TFollowedPage& page,
                       const std::vector<std::string>& listed, std::size_t latest);

// "2026-12-10 14:05" (UTC) or "never".
std::string CheckTimeText(std::int64_t when, bool polish);
