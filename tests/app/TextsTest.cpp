// SPDX-License-Identifier: GPL-3.0-or-later
// The text tables: complete in both languages, valid UTF-8, and the open-file
// filter in the file dialog's form.

#include "app/Texts.h"

#include "base/ZQ_Strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

std::vector<const char*> Fields(const TMainTexts& t)
{
    return {t.actNew, t.actMinimizeToTray, t.actClose, t.tsMain, t.tsOptions, t.tsAbout, t.gbShortcuts,
            t.lblLanguage, t.chShortcut_StartMenu, t.chShortcut_Desktop, t.lblAboutDate, t.lblLicence,
            t.HideMainWindow, t.ShowMainWindow, t.chNotifications};
}

std::vector<const char*> Fields(const TNewTexts& t)
{
    return {t.Caption, t.lblUrl, t.chConvert, t.chDelete, t.actClose, t.actPasteUrl, t.actPageTitle,
            t.actChangeDirectory, t.actGet, t.lblFileName, t.lblOutputDir, t.btnPasteUrlHint,
            t.btnBrowseFileHint, t.btnPastePageTitle, t.btnPastePageTitleHint, t.btnBrowse, t.btnBrowseHint,
            t.btnCheckFormats, t.btnCheckFormatsHint, t.gbYoutubeFormats, t.AllVideoFiles};
}

// "Description (*.a *.b-c)": a description, a blank, and patterns in brackets.
bool IsFilterRow(const std::string& row)
{
    const std::size_t open = row.rfind(" (");
    if (open == std::string::npos || open == 0 || row.back() != ')')
        return false;
    const std::string patterns = row.substr(open + 2, row.size() - open - 3);
    std::size_t from = 0;
    while (from <= patterns.size()) {
        std::size_t end = patterns.find(' ', from);
        if (end == std::string::npos)
            end = patterns.size();
        const std::string p = patterns.substr(from, end - from);
        if (p.size() < 3 || p.compare(0, 2, "*.") != 0)
            return false;
        for (char c : p.substr(2))
            if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'))
                return false;
        from = end + 1;
    }
    return true;
}

} // namespace

TEST(Texts, EveryTextIsThereInBothLanguages)
{
    const auto en = Fields(MainTexts(false));
    const auto pl = Fields(MainTexts(true));
    for (std::size_t i = 0; i < en.size(); ++i) {
        ASSERT_NE(en[i], nullptr);
        ASSERT_NE(pl[i], nullptr);
        EXPECT_TRUE(*en[i] && *pl[i]) << i;
        EXPECT_TRUE(IsValidUtf8(en[i]) && IsValidUtf8(pl[i])) << i;
        // Every text of the main window is translated.
        EXPECT_STRNE(en[i], pl[i]) << i;
    }
    EXPECT_EQ(MainTexts(false).cbLanguageRow, 0);
    EXPECT_EQ(MainTexts(true).cbLanguageRow, 1);

    const auto nen = Fields(NewTexts(false));
    const auto npl = Fields(NewTexts(true));
    std::set<std::string> same;
    for (std::size_t i = 0; i < nen.size(); ++i) {
        EXPECT_TRUE(*nen[i] && *npl[i]) << i;
        EXPECT_TRUE(IsValidUtf8(nen[i]) && IsValidUtf8(npl[i])) << i;
        if (std::strcmp(nen[i], npl[i]) == 0)
            same.insert(nen[i]);
    }
    EXPECT_EQ(same, std::set<std::string>{"..."});
}

TEST(Texts, CaptionsOfTheDialogThatNeedCare)
{
    for (bool polish : {false, true}) {
        const TNewTexts& t = NewTexts(polish);
        // Two lines, and the one-line hint is the same words.
        const std::string caption = t.btnCheckFormats;
        ASSERT_EQ(std::count(caption.begin(), caption.end(), '\n'), 1);
        EXPECT_EQ(ReplaceAll(caption, "\n", " "), t.btnCheckFormatsHint);
        EXPECT_EQ(std::string(t.AllVideoFiles), OpenVideoFilterRow(0, polish).Description);
    }
    // A single "&" would be a mnemonic in the group box title.
    EXPECT_STREQ(NewTexts(false).gbYoutubeFormats, "YouTube video format && quality");
    EXPECT_EQ(std::string(NewTexts(true).gbYoutubeFormats).find('&'), std::string::npos);
}

TEST(Texts, OpenFileFilterInFileDialogForm)
{
    for (bool polish : {false, true}) {
        const std::string filter = OpenVideoFilter(polish);
        std::vector<std::string> rows;
        std::size_t from = 0;
        while (true) {
            const std::size_t at = filter.find(";;", from);
            rows.push_back(filter.substr(from, at == std::string::npos ? std::string::npos : at - from));
            if (at == std::string::npos)
                break;
            from = at + 2;
        }
        ASSERT_EQ(rows.size(), 10u);
        // Each row ends in "(patterns)" separated by blanks, as the dialog reads it.
        for (const std::string& r : rows)
            EXPECT_TRUE(IsFilterRow(r)) << r;
        EXPECT_NE(rows[0].find("*.dvr-ms"), std::string::npos);
        // Each row shows its patterns once.
        EXPECT_EQ(rows[9], "VCD DAT video (*.dat)");
        EXPECT_EQ(rows[1], "AVI, DivX, XviD files (*.avi *.divx *.xvid)");
    }
    // Only the first description differs between the languages.
    const std::string en = OpenVideoFilter(false);
    const std::string pl = OpenVideoFilter(true);
    EXPECT_EQ(en.substr(en.find(";;")), pl.substr(pl.find(";;")));
    EXPECT_EQ(pl.rfind("Wszystkie obsługiwane formaty wideo (", 0), 0u);
}

TEST(Texts, MessagesWithValues)
{
    EXPECT_EQ(CantCreateDirMessage("/x/y", false), "Couldn't create directory \"/x/y\"!");
    EXPECT_EQ(CantCreateDirMessage("/x/y", true), "Nie można utworzyć katalogu \"/x/y\"!");
    EXPECT_EQ(DeleteIncompleteMessage("/a.flv", false), "Delete incomplete file \"/a.flv\"?");
    EXPECT_EQ(ConversionErrorMessage(-3, true), "Błąd (-3)");
    for (int id = 0; id <= static_cast<int>(TMessageId::Frame); ++id) {
        const auto m = static_cast<TMessageId>(id);
        EXPECT_TRUE(*MessageText(m, false) && *MessageText(m, true)) << id;
        EXPECT_STRNE(MessageText(m, false), MessageText(m, true)) << id;
    }
}

TEST(Texts, WordingAndDatesReadRight)
{
    // A Polish date takes the month's genitive; "wideo" is the Polish spelling.
    EXPECT_STREQ(MainTexts(true).lblAboutDate, "2 sierpnia 2010");
    EXPECT_STREQ(MainTexts(false).lblAboutDate, "August 2, 2010");
    EXPECT_STREQ(MainTexts(true).actNew, "Pobierz / Konwertuj plik wideo...");
    EXPECT_EQ(OpenVideoFilter(true).rfind("Wszystkie obsługiwane formaty wideo (", 0), 0u);
    // The shortcut goes into the desktop's applications menu; there is no Start menu.
    EXPECT_STREQ(MainTexts(false).chShortcut_StartMenu, "In the applications menu");
    EXPECT_STREQ(MainTexts(true).chShortcut_StartMenu, "Skrót w menu aplikacji");
    // No made-up web address in the about tab.
    EXPECT_STREQ(MainTexts(false).lblWww, "");
    EXPECT_STREQ(MainTexts(true).lblWww, "");
    // The licence: the GNU GPL, version 3 or later, its Polish name in the genitive.
    const std::string licenceEnglish = MainTexts(false).lblLicence;
    const std::string licencePolish = MainTexts(true).lblLicence;
    EXPECT_NE(licenceEnglish.find("GNU General Public License, version 3 or later"), std::string::npos);
    EXPECT_NE(licencePolish.find("Powszechnej Licencji Publicznej GNU w wersji 3 lub późniejszej"), std::string::npos);

    EXPECT_STREQ(MessageText(TMessageId::InvalidUrl, false), "Invalid URL or input file does not exist!");
    EXPECT_STREQ(MessageText(TMessageId::OutputSameAsInput, false), "Output file must be different from input file!");
    for (const bool polish : {false, true}) {
        // A question mark follows its word directly.
        EXPECT_EQ(DeleteIncompleteMessage("/a b.mp4", polish).find(" ?"), std::string::npos);
        for (int id = 0; id <= static_cast<int>(TMessageId::EngineHint); ++id) {
            const std::string text = MessageText(static_cast<TMessageId>(id), polish);
            EXPECT_EQ(text.find(" ?"), std::string::npos) << text;
            EXPECT_EQ(text.find("exists!"), std::string::npos) << text;
            EXPECT_EQ(text.find("different than"), std::string::npos) << text;
            if (polish) {
                EXPECT_EQ(text.find("video"), std::string::npos) << text;
            }
        }
    }
    EXPECT_STREQ(DeleteIncompleteMessage("/a.flv", true).c_str(), "Usunąć niekompletny plik \"/a.flv\"?");
}

TEST(Texts, ListsAndBatchesInBothLanguagesWithTheirNumbers)
{
    EXPECT_EQ(PageListText(3, false), "This page lists 3 videos");
    EXPECT_EQ(PageListText(3, true), "Ta strona zawiera listę 3 filmów");
    EXPECT_STREQ(ListTexts(false).chListFolder, "Put a list in a folder of its own");
    // The Polish noun follows the number.
    const std::pair<std::size_t, const char*> forms[] = {
        {1, "1 adres?"}, {2, "2 adresy?"}, {4, "4 adresy?"}, {5, "5 adresów?"}, {12, "12 adresów?"},
        {14, "14 adresów?"}, {22, "22 adresy?"}, {25, "25 adresów?"}, {104, "104 adresy?"}, {112, "112 adresów?"}};
    for (const auto& [count, form] : forms)
        EXPECT_NE(BatchQuestion(count, true).find(form), std::string::npos) << count;
    EXPECT_EQ(BatchQuestion(3, false), "Download 3 addresses? Each one becomes a download of its own.");
    for (const bool polish : {false, true}) {
        const TListTexts& t = ListTexts(polish);
        for (const char* text : {t.chListFolder, t.rbListAll, t.rbListFirst, t.StepList, t.StepListJobs, t.BatchFailed}) {
            EXPECT_TRUE(IsValidUtf8(text)) << text;
            EXPECT_GT(std::strlen(text), 0u);
        }
        EXPECT_NE(BatchStepText(2, 7, polish).find("2"), std::string::npos);
        EXPECT_NE(ListHandOverText(300, 10000, polish).find("10000"), std::string::npos);
        EXPECT_NE(ListJobsFailedText(1, 3, polish).find("1"), std::string::npos);
    }
    EXPECT_STRNE(ListTexts(false).rbListAll, ListTexts(true).rbListAll);
}

TEST(Texts, WhatWentWrongAtAnAddressIsSaidInTheProgramsWords)
{
    const std::string notFound = "[generic] None: Unable to download webpage: HTTP Error 404: Not Found (caused by "
                                 "<HTTPError 404: 'Not Found'>); please report this issue on  https://github.com/"
                                 "yt-dlp/yt-dlp/issues?q= , filling out the appropriate issue template. Confirm you "
                                 "are on the latest version using  yt-dlp -U";
    EXPECT_EQ(HttpStatusInReason(notFound), 404);
    EXPECT_EQ(HttpStatusInReason("unable to download video data: HTTP Error 403: Forbidden"), 403);
    EXPECT_EQ(HttpStatusInReason("Unsupported URL: http://127.0.0.1:8/HTTP Error 4041"), 0);
    EXPECT_EQ(HttpStatusInReason("HTTP Error 40"), 0);
    EXPECT_EQ(HttpStatusInReason(""), 0);

    EXPECT_EQ(NoMediaMessage(notFound, false), "The server says this address does not exist (404).");
    EXPECT_EQ(NoMediaMessage(notFound, true), "Serwer podaje, że ten adres nie istnieje (404).");
    // The engine's status counts before the one the program's client saw.
    EXPECT_EQ(AddressProblemMessage(200, notFound, false), "The server says this address does not exist (404).");
    EXPECT_EQ(AddressProblemMessage(410, "", false), "The server says this address does not exist (410).");
    EXPECT_EQ(AddressProblemMessage(403, "", false), "The server refused access (403).");
    EXPECT_EQ(AddressProblemMessage(403, "", true), "Serwer odmówił dostępu (403).");
    EXPECT_EQ(AddressProblemMessage(502, "", false), "The server failed (502).");
    EXPECT_EQ(AddressProblemMessage(500, "", true), "Wystąpił błąd serwera (500).");
    EXPECT_EQ(AddressProblemMessage(400, "", false), "The server refused the request (400).");
    EXPECT_EQ(AddressProblemMessage(400, "", true), "Serwer odrzucił żądanie (400).");
    EXPECT_NE(AddressProblemMessage(429, "", false).find("(429)"), std::string::npos);
    EXPECT_NE(AddressProblemMessage(429, "", true).find("(429)"), std::string::npos);
    EXPECT_EQ(AddressProblemMessage(401, "", false), SignInHint(false));
    EXPECT_EQ(AddressProblemMessage(0, "[youtube] x: Sign in to confirm your age", true), SignInHint(true));
    EXPECT_EQ(SignInHint(false).rfind("The page needs you to sign in", 0), 0u);
    EXPECT_EQ(SignInHint(true).rfind("Strona wymaga zalogowania", 0), 0u);
    EXPECT_EQ(AddressProblemMessage(0, "[Errno 111] Connection refused", false),
              MessageText(TMessageId::PageUnreachable, false));
    // Nothing the program knows: no words of its own, and never the engine's.
    EXPECT_EQ(AddressProblemMessage(0, "Unsupported URL: http://127.0.0.1:8/x", false), "");
    EXPECT_EQ(AddressProblemMessage(200, "", false), "");
    EXPECT_EQ(NoMediaMessage("Unsupported URL: http://127.0.0.1:8/x", false),
              MessageText(TMessageId::NoMediaOnPage, false));
    EXPECT_EQ(NoMediaMessage("", true, 404), "Serwer podaje, że ten adres nie istnieje (404).");
    EXPECT_TRUE(StatusBeyondEngine(404));
    EXPECT_TRUE(StatusBeyondEngine(503));
    EXPECT_FALSE(StatusBeyondEngine(403));
    EXPECT_FALSE(StatusBeyondEngine(0));

    EXPECT_EQ(std::string(MessageText(TMessageId::NotMediaFile, false)),
              "This address gives a file that is no video or music.");
    EXPECT_EQ(std::string(MessageText(TMessageId::NotMediaFile, true)),
              "Pod tym adresem jest plik, który nie jest filmem ani muzyką.");
}
