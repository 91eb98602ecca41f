// SPDX-License-Identifier: GPL-3.0-or-later
// The followed pages' list and what each page's checks have seen: kept whole
// whatever the fields hold, edited under a lock, and a damaged file set aside.

#include "download/FollowedPages.h"
#include "system/PrivateFolders.h"
#include "support/MediaFixtures.h"
#include "support/Skips.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

TEST(FollowedPages, TheListKeepsEveryFieldWhateverItHoldsAndPassesByWhatIsNoPage)
{
    TFollowedPage odd;
    odd.Url = "http://127.0.0.1:9/list?a=%41&b=c";
    odd.Directory = "/tmp/a\tb\nc/$(touch x); \"q\"/100%";
    odd.Format = "720p";
    odd.Profile = "MP4 \r profile";
    odd.LastCheck = 1796914407;
    odd.Taken = 12;
    TFollowedPage plain;
    plain.Url = "https://example.invalid/channel";
    const std::vector<TFollowedPage> pages{odd, plain};
    const std::string text = FollowedPagesText(pages);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
    EXPECT_EQ(ParseFollowedPages(text), pages);

    // Lines that are no page, a page twice, a line cut short, no header.
    const std::string mixed = "brimtale-following 1\n"
                              "junk\n"
                              "http://a\t\t\t\tx\t1\n"             // a time that is no number
                              "http://a\t%zz\t\t\t0\t0\n"           // a bad escape
                              "\t/d\t\t\t0\t0\n"                    // no address
                              "http://b\t/d\t\t\t5\t2\n"
                              "http://b\t/other\t\t\t0\t0\n"        // the same address again
                              "http://c\t/d\t\t\t0\t0";             // no line end
    const std::vector<TFollowedPage> read = ParseFollowedPages(mixed);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].Url, "http://b");
    EXPECT_EQ(read[0].Directory, "/d");
    EXPECT_EQ(read[0].Taken, 2);
    EXPECT_TRUE(ParseFollowedPages("http://b\t/d\t\t\t5\t2\n").empty());
    EXPECT_TRUE(ParseFollowedPages(std::string("brimtale-following 1\n\0\0\0\n", 26)).empty());

    EXPECT_EQ(CheckTimeText(0, false), "never");
    EXPECT_EQ(CheckTimeText(0, true), "nigdy");
    EXPECT_EQ(CheckTimeText(1796914407, false), "2026-12-10 14:53 UTC");
}

TEST(FollowedPages, EditsOfTheListFileFromManyAtOnceAreAllKept)
{
    TempDir dir;
    const std::string file = FollowedListFile(dir.Path());
    TFollowedPage page;
    page.Url = "http://127.0.0.1:9/a";
    EXPECT_EQ(AddFollowedPage(file, page), TFollowEdit::Done);
    EXPECT_EQ(AddFollowedPage(file, page), TFollowEdit::Exists);
    EXPECT_EQ(RemoveFollowedPage(file, "http://127.0.0.1:9/none"), TFollowEdit::Missing);
    EXPECT_EQ(NoteFollowedCheck(file, page.Url, 100, 3), TFollowEdit::Done);
    EXPECT_EQ(NoteFollowedCheck(file, page.Url, 200, 2), TFollowEdit::Done);
    ASSERT_EQ(ReadFollowedPages(file).size(), 1u);
    EXPECT_EQ(ReadFollowedPages(file)[0].LastCheck, 200);
    EXPECT_EQ(ReadFollowedPages(file)[0].Taken, 5);

    // Eight writers at once: every page arrives, none is lost to another's write.
    std::vector<std::thread> writers;
    for (int w = 0; w < 8; ++w)
        writers.emplace_back([&, w] {
            for (int i = 0; i < 10; ++i) {
                TFollowedPage p;
                p.Url = "http://127.0.0.1:9/" + std::to_string(w) + "/" + std::to_string(i);
                AddFollowedPage(file, p);
            }
        });
    for (std::thread& t : writers)
        t.join();
    EXPECT_EQ(ReadFollowedPages(file).size(), 81u);
    EXPECT_EQ(RemoveFollowedPage(file, page.Url), TFollowEdit::Done);
    EXPECT_EQ(ReadFollowedPages(file).size(), 80u);
    // No temporary file is left beside it.
    for (const std::string& name : fixtures::FolderEntries(dir.Path()))
        EXPECT_TRUE(name == "following.list" || name.ends_with(".lock")) << name;
}

TEST(FollowedPages, WhatWasSeenSurvivesAndADamagedListIsSetAsideOnce)
{
    TempDir dir;
    const std::string file = SeenListFile(dir.Path(), "http://127.0.0.1:9/list");
    EXPECT_EQ(fs::path(file).parent_path(), fs::path(dir.Path()));
    EXPECT_NE(SeenListFile(dir.Path(), "http://127.0.0.1:9/list2"), file);
    {
        TSeenList seen(file);
        EXPECT_EQ(seen.Load(), TSeenList::TLoad::Missing);
        EXPECT_TRUE(seen.Add({"http://x/1", "http://x/2", "http://x/1", "bad\nline", ""}));
        EXPECT_EQ(seen.Size(), 2u);
    }
    TSeenList again(file);
    ASSERT_EQ(again.Load(), TSeenList::TLoad::Ok);
    EXPECT_TRUE(again.Has("http://x/1"));
    EXPECT_TRUE(again.Has("http://x/2"));
    EXPECT_FALSE(again.Has("http://x/3"));

    // Each kind of damage: set aside under a name of its own, a new list starts.
    const std::string damages[] = {
        std::string("brimtale-seen 1\nhttp://x/1\n\0\0\0\n", 31),
        "no header\nhttp://x/1\n",
        "brimtale-seen 1\nhttp://x/1",  // cut short
        "brimtale-seen 1\n" + std::string(5000, 'a') + "\n",
        "brimtale-seen 1\n\xff\xfe\n",
        "",
    };
    int n = 0;
    for (const std::string& damage : damages) {
        dir.Write(fs::path(file).filename().string(), damage);
        TSeenList seen(file);
        EXPECT_EQ(seen.Load(), TSeenList::TLoad::Corrupt) << n;
        EXPECT_FALSE(seen.SetAside().empty());
        EXPECT_EQ(TempDir::Read(seen.SetAside()), damage) << n;
        EXPECT_FALSE(fs::exists(file));
        EXPECT_EQ(seen.Size(), 0u);
        // Said once: the next load finds no list, not a damaged one.
        TSeenList next(file);
        EXPECT_EQ(next.Load(), TSeenList::TLoad::Missing);
        ++n;
    }
    // A link at the name is never followed.
    SKIP_ON_WINDOWS(PosixLinks);
    fs::create_symlink(dir.File("elsewhere"), file);
    dir.Write("elsewhere", "brimtale-seen 1\nhttp://x/9\n");
    TSeenList linked(file);
    EXPECT_EQ(linked.Load(), TSeenList::TLoad::Corrupt);
    EXPECT_FALSE(linked.Has("http://x/9"));
    EXPECT_TRUE(linked.Add({"http://x/5"}));
    EXPECT_EQ(TempDir::Read(dir.File("elsewhere")), "brimtale-seen 1\nhttp://x/9\n");

    // A new follow leaves the first N listed for its first check.
    const std::vector<std::string> listed{"a", "b", "c"};
    EXPECT_EQ(EntriesSeenAtFollow(listed, 0), listed);
    EXPECT_EQ(EntriesSeenAtFollow(listed, 2), (std::vector<std::string>{"c"}));
    EXPECT_TRUE(EntriesSeenAtFollow(listed, 5).empty());
}
