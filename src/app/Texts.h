// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The texts of the main window and the new-download dialog in English and
// Polish, and the program's bilingual messages. Plain data, so the tables are
// checked without a display; the windows put them on their controls in SetLang.

#include <cstddef>
#include <string>

// Window caption, application title and tray hint, the same in both languages.
inline constexpr const char* AppTitle = "Brimtale 1.6";
inline constexpr const char* ProductName = "Brimtale";
inline constexpr const char* ProductVersion = "1.6";

// The main window (SetLang and InitActions).
struct TMainTexts {
    const char* actNew;              // caption and hint (btnNew, tray menu)
    const char* actMinimizeToTray;   // caption and hint (tooltip of btnMinimizeToTray)
    const char* actClose;            // caption and hint (tray menu)
    const char* tsMain;
    const char* tsOptions;
    const char* tsAbout;
    const char* gbShortcuts;
    const char* lblLanguage;
    const char* chShortcut_StartMenu;
    const char* chShortcut_Desktop;
    const char* lblWww;              // the product's page; empty: the about tab shows no link
    const char* lblAboutDate;
    const char* lblLicence;          // the licence, in the about tab below the date
    int cbLanguageRow;               // 0 English, 1 Polski
    const char* HideMainWindow;      // actShowHideMainWindow while the window is visible
    const char* ShowMainWindow;      // actShowHideMainWindow while it is hidden
    const char* chNotifications;     // the desktop notification when a job ends
};

// The new-download dialog (SetLang).
struct TNewTexts {
    const char* Caption;
    const char* lblUrl;
    const char* chConvert;
    const char* chDelete;
    const char* actClose;            // caption and hint (btnClose)
    const char* actPasteUrl;         // caption and hint
    const char* actPageTitle;        // caption and hint
    const char* actChangeDirectory;  // caption and hint
    const char* actGet;              // caption and hint (btnGET)
    const char* lblFileName;
    const char* lblOutputDir;
    const char* btnPasteUrlHint;
    const char* btnBrowseFileHint;
    const char* btnPastePageTitle;
    const char* btnPastePageTitleHint;
    const char* btnBrowse;
    const char* btnBrowseHint;
    const char* btnCheckFormats;     // two lines joined by a line break
    const char* btnCheckFormatsHint;
    const char* gbYoutubeFormats;    // "&&" shows as one "&"
    const char* AllVideoFiles;       // first description of the open-file filter
    // The status line while a network step runs (Esc or Close cancels it).
    const char* StepTitle;           // the page's title
    const char* StepFormats;         // the format probe
    const char* StepResolve;         // finding the media address
    const char* StepSize;            // asking for the size
};

const TMainTexts& MainTexts(bool polish);
const TNewTexts& NewTexts(bool polish);

// One row of the open-file filter: a description and its patterns ("*.avi;*.divx").
struct TFilterRow {
    const char* Description;
    const char* Patterns;
};
inline constexpr int OpenVideoFilterRows = 10;
const TFilterRow& OpenVideoFilterRow(int index, bool polish);
// The whole filter in the file dialog's form: "Description (*.a *.b);;...".
std::string OpenVideoFilter(bool polish);

// The bilingual messages of the program.
enum class TMessageId {
    JobRefused,          // GetFile: the job is not valid
    NoUrl,               // no address or file path given
    InvalidUrl,          // address not recognised or file missing
    NoProfile,           // a local file without conversion
    CantCreateDir,       // + directory + closing text
    NoFileName,
    SelectFolder,        // folder picker title
    DeleteIncomplete,    // + path + closing text
    OutputSameAsInput,
    ConversionError,     // + exit code + ")"
    Aborted,
    Complete,
    Frame,
    NoMediaOnPage,       // the page engine found nothing to download
    EngineHint,          // the line added when there is no page engine
    PageUnreachable,     // the page engine could not connect to the page
    NoYouTubeFormats,    // the format probe found none of the six formats
    NotMediaFile,        // the address gives a file that is no video or music
};
const char* MessageText(TMessageId id, bool polish);
// The messages that carry a value: the text, the value and the closing text.
std::string CantCreateDirMessage(const std::string& directory, bool polish);
// "The folder can't be written: DIR" (a folder that is there, but takes no file).
std::string CantWriteDirMessage(const std::string& directory, bool polish);
std::string DeleteIncompleteMessage(const std::string& path, bool polish);
std::string ConversionErrorMessage(int exitCode, bool polish);
// A refusal with the line saying that installing the page engine adds sites.
std::string WithEngineHint(const std::string& message, bool polish);
// What went wrong at an address, in the program's own words and the user's
// language. The engine's reason is never shown as the message: it goes to the
// error log and to the details of the message.
//
// The program's words for what the server answered or the engine met: from the
// HTTP status the program's own client saw (0: none) or the one the engine's
// reason names (which counts first), a page that wants a signed-in user, a page
// that can't be reached. Empty when neither says more than that nothing was
// found.
std::string AddressProblemMessage(int httpStatus, const std::string& engineReason, bool polish);
// That, or else "No video or music found on this page."
std::string NoMediaMessage(const std::string& engineReason, bool polish, int httpStatus = 0);
// The HTTP status the engine's reason names ("HTTP Error 404: Not Found"), 0
// when it names none.
int HttpStatusInReason(const std::string& engineReason);
// True for a status that says the address or its server is past helping:
// the address does not exist (404, 410) or the server failed (5xx). No newer
// engine changes that.
bool StatusBeyondEngine(int httpStatus);
// "The page engine failed: REASON", when the engine itself, not the page, failed.
std::string EngineFailedMessage(const std::string& reason, bool polish);
// True when the engine's reason says it could not connect to the page at all.
bool PageUnreachableReason(const std::string& engineReason);
// When the engine's reason says the page wants a signed-in user (or its age
// checked): true, and the message then names the cookies setting.
bool EngineWantsSignIn(const std::string& engineError);
// The page needs a signed-in user, and the setting that helps.
std::string SignInHint(bool polish);

// The site links of the main window.
inline constexpr const char* YouTubeHomePage = "http://www.youtube.com";
inline constexpr const char* WrzutaHomePage = "http://www.wrzuta.pl";

// The reason given when the page engine's page information is beyond what the
// program reads.
const char* PageInfoTooLargeReason(bool polish);

// The server's certificate is not trusted: the message with the address.
std::string NotTrustedMessage(const std::string& url, bool polish);

// Lists and batches: a page that lists several videos, several addresses at once.
struct TListTexts {
    const char* chListFolder;   // the Options tab: a list's files in a folder of its own
    const char* rbListAll;      // the dialog's offer: every video of the list
    const char* rbListFirst;    // only the first one
    const char* StepList;       // the status line while the list is read
    const char* StepListJobs;   // while the list's downloads are named
    const char* BatchFailed;    // the head of the addresses a batch could not add
};
const TListTexts& ListTexts(bool polish);
// "This page lists N videos".
std::string PageListText(std::size_t count, bool polish);
// The question before a batch: how many addresses become downloads.
std::string BatchQuestion(std::size_t count, bool polish);
// The status line while a batch's address is looked up (index from 1).
std::string BatchStepText(std::size_t index, std::size_t count, bool polish);
// The status line while a list's downloads are handed over.
std::string ListHandOverText(std::size_t done, std::size_t count, bool polish);
// Some entries of a list could not be added.
std::string ListJobsFailedText(std::size_t failed, std::size_t count, bool polish);
