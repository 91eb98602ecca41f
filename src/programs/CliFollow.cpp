// SPDX-License-Identifier: GPL-3.0-or-later
#include "programs/CliFollow.h"

#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "app/Texts.h"
#include "plan/FollowCheck.h"
#include "plan/ListJobs.h"
#include "system/FileDescriptors.h"
#include "system/PrivateFolders.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"
#include "plan/JobPlanner.h"

#include <cstdio>

namespace {
constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitInterrupted = 130;

std::vector<std::string> Addresses(const TPageList& list)
{
    std::vector<std::string> urls;
    urls.reserve(list.Entries.size());
    for (const TPageListEntry& entry : list.Entries)
        urls.push_back(entry.Url);
    return urls;
}

bool MakeFollowingDir(const std::string& dir)
{
    return DirectoryExists(dir) || ForceDirectories(dir);
}

std::string NotAListText(const std::string& url, bool polish)
{
    return polish ? "ta strona nie zawiera listy filmów (to pojedynczy film albo nic): " + url
                  : "this page lists no videos (it is a single video, or nothing): " + url;
}

int Follow(const TCliOptions& options, const TFollowHooks& hooks)
{
    const bool polish = hooks.Polish;
    const std::string url = Trim(options.Follow);
    const TVideoSite site = SiteOfAddress(url);
    if (site == vsNone || site == vsLocalFile) {
        hooks.Error((polish ? "to nie jest adres strony: " : "not a page address: ") + options.Follow);
        return ExitFailed;
    }
    if (!MakeFollowingDir(hooks.FollowingDir)) {
        hooks.Error(CantCreateDirMessage(hooks.FollowingDir, polish));
        return ExitFailed;
    }
    const std::string listFile = FollowedListFile(hooks.FollowingDir);
    if (FindFollowedPage(ReadFollowedPages(listFile), url)) {
        hooks.Error((polish ? "ta strona jest już obserwowana: " : "this page is followed already: ") + url);
        return ExitFailed;
    }
    const TPageList list = hooks.LookUp(url);
    if (hooks.Interrupted())
        return ExitInterrupted;
    if (!list.IsList) {
        hooks.Error(NotAListText(url, polish) + (list.Error.empty() ? "" : " (" + list.Error + ")"));
        return ExitFailed;
    }
    // What is listed now counts as seen, but for the latest asked for.
    const std::vector<std::string> seenNow = EntriesSeenAtFollow(Addresses(list), options.Latest);
    TFollowedPage page;
    page.Url = url;
    // The folder as it is now: a later -d of another run does not move it.
    page.Directory = UserOutputDir(options.Directory.empty() ? AppSettings.LastDir : options.Directory);
    page.Format = options.Format;
    page.Profile = options.Profile;
    const TFollowEdit added = FollowPage(hooks.FollowingDir, page, Addresses(list), options.Latest);
    if (added != TFollowEdit::Done) {
        hooks.Error(added == TFollowEdit::Exists    ? (polish ? "ta strona jest już obserwowana: " : "this page is followed already: ") + url
                    : added == TFollowEdit::TooMany ? std::string(polish ? "obserwowanych stron jest już 1000" : "1000 pages are followed already")
                                                    : (polish ? "nie można zapisać listy w " : "can't write the list in ") + hooks.FollowingDir);
        return ExitFailed;
    }
    const std::size_t left = list.Entries.size() - seenNow.size();
    hooks.Say(polish ? "Obserwowana: " + url + " (filmów na liście: " + std::to_string(list.Entries.size()) +
                           ", do pobrania przy sprawdzeniu: " + std::to_string(left) + ")"
                     : "Following " + url + " (" + std::to_string(list.Entries.size()) + " videos listed, " +
                           std::to_string(left) + " to take at the next check)");
    return ExitOk;
}

int Unfollow(const TCliOptions& options, const TFollowHooks& hooks)
{
    const bool polish = hooks.Polish;
    const std::string url = Trim(options.Unfollow);
    const TFollowEdit removed = RemoveFollowedPage(FollowedListFile(hooks.FollowingDir), url);
    if (removed != TFollowEdit::Done) {
        hooks.Error(removed == TFollowEdit::Missing
                        ? (polish ? "ta strona nie jest obserwowana: " : "this page is not followed: ") + url
                        : (polish ? "nie można zapisać listy w " : "can't write the list in ") + hooks.FollowingDir);
        return ExitFailed;
    }
    RemoveName(SeenListFile(hooks.FollowingDir, url));
    hooks.Say((polish ? "Nie obserwowana: " : "No longer following ") + url);
    return ExitOk;
}

int Following(const TFollowHooks& hooks)
{
    for (const TFollowedPage& page : ReadFollowedPages(FollowedListFile(hooks.FollowingDir)))
        std::printf("%s\t%s\t%s\t%lld\n", PrintableText(page.Url).c_str(),
                    PrintableText(page.Directory.empty() ? "-" : page.Directory).c_str(),
                    CheckTimeText(page.LastCheck, hooks.Polish).c_str(), static_cast<long long>(page.Taken));
    std::fflush(stdout);
    return ExitOk;
}

// One page's check: the new entries downloaded, each noted as seen once it is.
int CheckPage(const TFollowedPage& page, const TFollowHooks& hooks)
{
    const bool polish = hooks.Polish;
    hooks.Say((polish ? "Sprawdzanie: " : "Checking ") + page.Url);
    const TPageList list = hooks.LookUp(page.Url);
    if (hooks.Interrupted())
        return ExitInterrupted;
    if (!list.IsList) {
        hooks.Error(NotAListText(page.Url, polish) + (list.Error.empty() ? "" : " (" + list.Error + ")"));
        return ExitFailed;
    }
    TSeenList seen(SeenListFile(hooks.FollowingDir, page.Url));
    const TSeenList::TLoad load = seen.Load();
    if (load == TSeenList::TLoad::Failed) {
        hooks.Error((polish ? "nie można odczytać listy pobranych filmów strony " : "can't read what was taken from ") +
                    page.Url);
        return ExitFailed;
    }
    if (load != TSeenList::TLoad::Ok) {
        // What was taken is not known: what is listed now counts as taken,
        // rather than downloading the whole list again.
        if (load == TSeenList::TLoad::Corrupt)
            hooks.Error(polish ? "lista pobranych filmów strony " + page.Url + " była uszkodzona; zachowano ją jako " +
                                     seen.SetAside() + " i zaczęto nową (obecne filmy liczą się jako pobrane)"
                               : "the list of what was taken from " + page.Url + " was damaged; it is kept as " +
                                     seen.SetAside() + " and a new one started (the videos listed now count as taken)");
        else
            hooks.Error(polish ? "brak listy pobranych filmów strony " + page.Url + "; zaczęto nową"
                               : "no list of what was taken from " + page.Url + "; a new one started");
        if (!seen.Add(Addresses(list)))
            return ExitFailed;
        NoteFollowedCheck(FollowedListFile(hooks.FollowingDir), page.Url, hooks.Now(), 0);
        return ExitOk;
    }
    std::vector<const TPageListEntry*> fresh;
    for (const TPageListEntry& entry : list.Entries)
        if (!seen.Has(entry.Url))
            fresh.push_back(&entry);
    if (fresh.empty()) {
        hooks.Say(polish ? "Nic nowego" : "Nothing new");
        NoteFollowedCheck(FollowedListFile(hooks.FollowingDir), page.Url, hooks.Now(), 0);
        return ExitOk;
    }
    const std::string directory = UserOutputDir(page.Directory);
    const std::string folder = ListFolder(directory, list.Title, hooks.ListInFolder);
    if (folder.empty()) {
        hooks.Error(CantCreateDirMessage(directory, polish));
        return ExitFailed;
    }
    hooks.Say(polish ? "Nowe filmy: " + std::to_string(fresh.size()) : "New videos: " + std::to_string(fresh.size()));
    int status = ExitOk;
    std::int64_t taken = 0;
    for (const TPageListEntry* entry : fresh) {
        const int one = hooks.Download(page, *entry, folder);
        if (one == ExitOk) {
            ++taken;
            if (!seen.Add({entry->Url})) {
                hooks.Error((polish ? "nie można zapisać pliku w " : "can't write a file in ") + hooks.FollowingDir);
                status = ExitFailed;
                break;
            }
        } else if (one == ExitInterrupted) {
            NoteFollowedCheck(FollowedListFile(hooks.FollowingDir), page.Url, hooks.Now(), taken);
            return ExitInterrupted;
        } else {
            status = ExitFailed;  // tried again at the next check
        }
    }
    NoteFollowedCheck(FollowedListFile(hooks.FollowingDir), page.Url, hooks.Now(), taken);
    return status;
}

int Check(const TFollowHooks& hooks)
{
    const bool polish = hooks.Polish;
    if (!MakeFollowingDir(hooks.FollowingDir)) {
        hooks.Error(CantCreateDirMessage(hooks.FollowingDir, polish));
        return ExitFailed;
    }
    // One check at a time: a second one says so and ends.
    const TFolderHold hold(hooks.FollowingDir, FollowCheckHold);
    if (hold.Result() != TFolderHold::TResult::Held) {
        hooks.Error(hold.Result() == TFolderHold::TResult::Busy
                        ? std::string(polish ? "inne sprawdzanie obserwowanych stron już trwa"
                                             : "another check of the followed pages is running")
                        : (polish ? "nie można utworzyć pliku w " : "can't create a file in ") + hooks.FollowingDir);
        return ExitFailed;
    }
    int status = ExitOk;
    for (const TFollowedPage& page : ReadFollowedPages(FollowedListFile(hooks.FollowingDir))) {
        const int one = CheckPage(page, hooks);
        if (one == ExitInterrupted)
            return ExitInterrupted;
        if (one != ExitOk)
            status = ExitFailed;  // the other pages are still checked
    }
    return status;
}
} // namespace

bool IsFollowCommand(const TCliOptions& options)
{
    return !options.Follow.empty() || !options.Unfollow.empty() || options.Following || options.Check;
}

int RunFollowCommand(const TCliOptions& options, const TFollowHooks& hooks)
{
    if (!options.Follow.empty())
        return Follow(options, hooks);
    if (!options.Unfollow.empty())
        return Unfollow(options, hooks);
    if (options.Following)
        return Following(hooks);
    return Check(hooks);
}
