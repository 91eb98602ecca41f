// SPDX-License-Identifier: GPL-3.0-or-later
#include "plan/FollowCheck.h"

#include "app/ProgramValues.h"
#include "app/Texts.h"
#include "plan/ListJobs.h"

const char* const FollowCheckHold = ".check";

std::vector<TFollowCheckPage> PrepareFollowCheck(const std::string& followingDir, const TFollowCheckHooks& hooks)
{
    const bool polish = hooks.Polish;
    std::vector<TFollowCheckPage> results;
    for (const TFollowedPage& page : ReadFollowedPages(FollowedListFile(followingDir))) {
        if (hooks.ShouldStop && hooks.ShouldStop())
            break;
        TFollowCheckPage result;
        result.Page = page;
        result.Title = page.Url;
        const TPageList list = hooks.LookUp(page.Url);
        if (!list.IsList) {
            result.Problem = (polish ? "Ta strona nie zawiera listy filmów: " : "This page lists no videos: ") + page.Url;
            results.push_back(std::move(result));
            continue;
        }
        if (!list.Title.empty())
            result.Title = list.Title;
        TSeenList seen(SeenListFile(followingDir, page.Url));
        const TSeenList::TLoad load = seen.Load();
        if (load != TSeenList::TLoad::Ok) {
            // What was taken is not known: what is listed now counts as taken.
            if (load == TSeenList::TLoad::Corrupt)
                result.Notice = polish ? "Lista pobranych filmów strony " + page.Url +
                                             " była uszkodzona; zachowano ją jako " + seen.SetAside() +
                                             " i zaczęto nową"
                                       : "The list of what was taken from " + page.Url + " was damaged; it is kept as " +
                                             seen.SetAside() + " and a new one started";
            std::vector<std::string> urls;
            for (const TPageListEntry& entry : list.Entries)
                urls.push_back(entry.Url);
            if (load == TSeenList::TLoad::Failed || !seen.Add(urls))
                result.Problem = (polish ? "Nie można zapisać pliku w " : "Can't write a file in ") + followingDir;
            results.push_back(std::move(result));
            continue;
        }
        TGetRequest request;
        std::string problem;
        if (!hooks.RequestFor(page, request, problem)) {
            result.Problem = problem;
            results.push_back(std::move(result));
            continue;
        }
        std::vector<const TPageListEntry*> fresh;
        for (const TPageListEntry& entry : list.Entries)
            if (!seen.Has(entry.Url))
                fresh.push_back(&entry);
        if (!fresh.empty()) {
            const std::string directory = UserOutputDir(page.Directory);
            const std::string folder = ListFolder(directory, list.Title, hooks.ListInFolder);
            if (folder.empty()) {
                result.Problem = CantCreateDirMessage(directory, polish);
                results.push_back(std::move(result));
                continue;
            }
            TListJobMaker maker(request, folder);
            for (const TPageListEntry* entry : fresh) {
                TDownloadJob job;
                if (maker.Make(*entry, job)) {
                    result.Jobs.push_back(std::move(job));
                    result.EntryUrls.push_back(entry->Url);
                }
            }
        }
        results.push_back(std::move(result));
    }
    return results;
}

void FinishFollowCheck(const std::string& followingDir, const TFollowCheckPage& page,
                       const std::vector<std::string>& handedOver, std::int64_t now)
{
    if (!handedOver.empty()) {
        TSeenList seen(SeenListFile(followingDir, page.Page.Url));
        if (seen.Load() == TSeenList::TLoad::Ok || seen.Size() == 0)
            seen.Add(handedOver);
    }
    NoteFollowedCheck(FollowedListFile(followingDir), page.Page.Url, now, static_cast<std::int64_t>(handedOver.size()));
}
