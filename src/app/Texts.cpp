// SPDX-License-Identifier: GPL-3.0-or-later
// Text tables of the windows.
#include "app/Texts.h"

#include <array>

namespace {

const TMainTexts MainEnglish = {
    "Download / Convert video file...",
    "Minimize to tray",
    "Exit",
    "Download / Convert",
    "Options",
    "About",
    "Shortcuts",
    "Language:",
    "In the applications menu",
    "On the Desktop",
    "",
    "August 2, 2010",
    "Brimtale is free software: you can redistribute it and/or modify it under the terms of the GNU General "
    "Public License, version 3 or later.",
    0,
    "Hide main window",
    "Show main window",
    "Notify me when a download or conversion ends",
};

const TMainTexts MainPolish = {
    "Pobierz / Konwertuj plik wideo...",
    "Minimalizuj do zasobnika systemowego",
    "Zakończ",
    "Pobieranie / Konwersja",
    "Opcje",
    "O programie",
    "Skróty",
    "Język:",
    "Skrót w menu aplikacji",
    "Skrót na Pulpicie",
    "",
    "2 sierpnia 2010",
    "Brimtale jest wolnym oprogramowaniem: możesz je rozpowszechniać i/lub modyfikować na warunkach "
    "Powszechnej Licencji Publicznej GNU w wersji 3 lub późniejszej.",
    1,
    "Ukryj okno główne",
    "Pokaż okno główne",
    "Powiadamiaj o zakończeniu pobierania lub konwersji",
};

const TNewTexts NewEnglish = {
    "New",
    "URL / File:",
    "Convert downloaded file to selected format:",
    "Delete input file after conversion",
    "Close",
    "Paste text from the Clipboard",
    "Page title",
    "Change directory...",
    "DOWNLOAD / CONVERT",
    "File name:",
    "Output directory:",
    "Paste text from the Clipboard",
    "Select file from disk...",
    "Title",
    "Insert www page title",
    "...",
    "Browse...",
    "Check available\nformats",
    "Check available formats",
    "YouTube video format && quality",
    "All supported video files",
    "Reading the page title... (Esc cancels)",
    "Checking the available formats... (Esc cancels)",
    "Looking for the video... (Esc cancels)",
    "Asking for the file size... (Esc cancels)",
};

const TNewTexts NewPolish = {
    "Nowy",
    "URL / Plik:",
    "Konwertuj pobrany plik do wybranego formatu:",
    "Usuń plik źródłowy po konwersji",
    "Zamknij",
    "Wklej tekst ze Schowka",
    "Tytuł strony",
    "Zmień katalog...",
    "POBIERZ / KONWERTUJ",
    "Nazwa pliku:",
    "Katalog docelowy:",
    "Wklej adres strony ze schowka",
    "Wybierz plik do konwersji z dysku twardego...",
    "Tytuł",
    "Wstaw tytuł strony www",
    "...",
    "Przeglądaj...",
    "Sprawdź dostępne\nformaty",
    "Sprawdź dostępne formaty",
    "Formaty i jakość filmów pobieranych z YouTube",
    "Wszystkie obsługiwane formaty wideo",
    "Odczytywanie tytułu strony... (Esc przerywa)",
    "Sprawdzanie dostępnych formatów... (Esc przerywa)",
    "Szukanie pliku wideo... (Esc przerywa)",
    "Sprawdzanie rozmiaru pliku... (Esc przerywa)",
};

const std::array<TFilterRow, OpenVideoFilterRows> FilterRows = {{
    {"All supported video files",
     "*.avi;*.divx;*.xvid;*.mpg;*.mpeg;*.mpe;*.wmv;*.asf;*.mp4;*.m4v;*.mp4v;*.m2ts;*.dvr-ms;*.mov;*.qt;"
     "*.mkv;*.flv;*.swf;*.vob;*.wmv;*.asf;*.dat"},
    {"AVI, DivX, XviD files (*.avi, *.divx, *.xvid)", "*.avi;*.divx;*.xvid"},
    {"MPEG video (*.mpg, *.mpeg, *.mpe)", "*.mpg;*.mpeg;*.mpe"},
    {"Windows Media Video (*.wmv, *.asf)", "*.wmv;*.asf"},
    {"iPod/iPhone/PSP video (*.mp4, *.m4v, *.mp4v)", "*.mp4;*.m4v;*.mp4v"},
    {"QuickTime video (*.mov, *.qt)", "*.mov;*.qt"},
    {"Matroska (*.mkv)", "*.mkv"},
    {"Flash video (*.flv, *.swf)", "*.flv;*.swf"},
    {"DVD video (*.vob)", "*.vob"},
    {"VCD DAT video (*.dat)", "*.dat"},
}};

const TFilterRow PolishFirstRow = {"Wszystkie obsługiwane formaty wideo", FilterRows[0].Patterns};

// ASCII letters in lower case; everything else as it is.
std::string LowerText(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

struct TMessagePair {
    const char* English;
    const char* Polish;
};

// In the order of TMessageId.
const std::array<TMessagePair, 18> Messages = {{
    {"Couldn't find video/music file. Sorry!", "Nie można pobrać pliku z podanego adresu!"},
    {"You must enter a valid URL or full file path!", "Musisz podać adres strony lub pełną ścieżkę do pliku!"},
    {"Invalid URL or input file does not exist!", "Nieprawidłowy adres lub plik źródłowy nie istnieje!"},
    {"To convert selected file you must specify the output format!",
     "Aby przekonwertować wybrany plik, musisz określić format docelowy!"},
    {"Couldn't create directory \"", "Nie można utworzyć katalogu \""},
    {"You must enter a valid file name!", "Musisz podać nazwę pliku!"},
    {"Select folder", "Wybierz katalog"},
    {"Delete incomplete file \"", "Usunąć niekompletny plik \""},
    {"Output file must be different from input file!", "Plik wynikowy musi być inny niż plik źródłowy!"},
    {"Error (", "Błąd ("},
    {"Aborted", "Przerwano"},
    {"Complete: ", "Zakończono: "},
    {"Frame ", "Klatka "},
    {"No video or music found on this page.", "Na tej stronie nie znaleziono filmu ani muzyki."},
    {"Installing yt-dlp adds other sites.", "Zainstalowanie yt-dlp doda obsługę innych stron."},
    {"The page cannot be reached.", "Nie można połączyć się ze stroną."},
    {"This page offers none of these formats.", "Ta strona nie oferuje żadnego z tych formatów."},
    {"This address gives a file that is no video or music.",
     "Pod tym adresem jest plik, który nie jest filmem ani muzyką."},
}};

} // namespace

const TMainTexts& MainTexts(bool polish)
{
    return polish ? MainPolish : MainEnglish;
}

const TNewTexts& NewTexts(bool polish)
{
    return polish ? NewPolish : NewEnglish;
}

const TFilterRow& OpenVideoFilterRow(int index, bool polish)
{
    if (index <= 0)
        return polish ? PolishFirstRow : FilterRows[0];
    if (index >= OpenVideoFilterRows)
        return FilterRows[OpenVideoFilterRows - 1];
    return FilterRows[static_cast<std::size_t>(index)];
}

std::string OpenVideoFilter(bool polish)
{
    std::string filter;
    for (int i = 0; i < OpenVideoFilterRows; ++i) {
        const TFilterRow& row = OpenVideoFilterRow(i, polish);
        std::string patterns = row.Patterns;
        for (char& c : patterns)
            if (c == ';')
                c = ' ';
        // A description that lists its patterns already loses that list: the
        // file dialog shows the patterns after it.
        std::string description = row.Description;
        const std::size_t open = description.rfind(" (");
        if (open != std::string::npos && description.back() == ')')
            description.erase(open);
        if (!filter.empty())
            filter += ";;";
        filter += description + " (" + patterns + ")";
    }
    return filter;
}

const char* MessageText(TMessageId id, bool polish)
{
    const auto index = static_cast<std::size_t>(id);
    if (index >= Messages.size())
        return "";
    return polish ? Messages[index].Polish : Messages[index].English;
}

std::string CantCreateDirMessage(const std::string& directory, bool polish)
{
    return MessageText(TMessageId::CantCreateDir, polish) + directory + "\"!";
}

std::string CantWriteDirMessage(const std::string& directory, bool polish)
{
    return (polish ? "Nie można zapisywać w folderze: " : "The folder can't be written: ") + directory;
}

std::string DeleteIncompleteMessage(const std::string& path, bool polish)
{
    return MessageText(TMessageId::DeleteIncomplete, polish) + path + "\"?";
}

std::string WithEngineHint(const std::string& message, bool polish)
{
    return message + "\n" + MessageText(TMessageId::EngineHint, polish);
}

bool PageUnreachableReason(const std::string& engineReason)
{
    const std::string reason = LowerText(engineReason);
    for (const char* marker : {"connection refused", "errno 111", "name or service not known",
                               "temporary failure in name resolution", "failed to resolve", "no route to host",
                               "network is unreachable", "timed out", "connection reset", "nodename nor servname"})
        if (reason.find(marker) != std::string::npos)
            return true;
    return false;
}

std::string EngineFailedMessage(const std::string& reason, bool polish)
{
    return (polish ? "Silnik stron nie zadziałał: " : "The page engine failed: ") + reason;
}

int HttpStatusInReason(const std::string& engineReason)
{
    // "HTTP Error 404: Not Found", as the engine words what its client met.
    const std::string mark = "http error ";
    const std::string reason = LowerText(engineReason);
    for (std::size_t at = reason.find(mark); at != std::string::npos; at = reason.find(mark, at + 1)) {
        const std::size_t digits = at + mark.size();
        if (digits + 3 > reason.size())
            break;
        const std::string code = reason.substr(digits, 3);
        const bool number = code.find_first_not_of("0123456789") == std::string::npos;
        const bool alone = digits + 3 == reason.size() || reason[digits + 3] < '0' || reason[digits + 3] > '9';
        if (number && alone) {
            const int status = std::stoi(code);
            if (status >= 100 && status <= 599)
                return status;
        }
    }
    return 0;
}

bool StatusBeyondEngine(int httpStatus)
{
    return httpStatus == 404 || httpStatus == 410 || (httpStatus >= 500 && httpStatus <= 599);
}

bool EngineWantsSignIn(const std::string& engineError)
{
    const std::string text = LowerText(engineError);
    for (const char* sign : {"sign in", "log in", "login", "logged in", "cookies", "confirm your age",
                             "age-restricted", "private video", "members-only", "http error 401"})
        if (text.find(sign) != std::string::npos)
            return true;
    return false;
}

std::string SignInHint(bool polish)
{
    return polish ? "Strona wymaga zalogowania: wybierz w Opcjach \u201eZaloguj ciasteczkami z:\u201d (w wierszu "
                    "polece\u0144 --cookies-from PRZEGL\u0104DARKA lub --cookies PLIK)."
                  : "The page needs you to sign in: choose \"Sign in with the cookies of:\" in Options (on the command "
                    "line --cookies-from BROWSER or --cookies FILE).";
}

std::string AddressProblemMessage(int httpStatus, const std::string& engineReason, bool polish)
{
    const int inReason = HttpStatusInReason(engineReason);
    const int status = inReason != 0 ? inReason : httpStatus;
    const std::string code = " (" + std::to_string(status) + ").";
    if (status == 404 || status == 410)
        return (polish ? "Serwer podaje, że ten adres nie istnieje" : "The server says this address does not exist") +
               code;
    if (status >= 500 && status <= 599)
        return (polish ? "Wystąpił błąd serwera" : "The server failed") + code;
    if (status == 429)
        return polish ? "Serwer chwilowo nie przyjmuje kolejnych żądań (429): spróbuj ponownie później."
                      : "The server takes no more requests for now (429): try again later.";
    if (status == 401 || EngineWantsSignIn(engineReason))
        return SignInHint(polish);
    if (status == 403)
        return (polish ? "Serwer odmówił dostępu" : "The server refused access") + code;
    if (status >= 400 && status <= 499)
        return (polish ? "Serwer odrzucił żądanie" : "The server refused the request") + code;
    if (PageUnreachableReason(engineReason))
        return MessageText(TMessageId::PageUnreachable, polish);
    return {};
}

std::string NoMediaMessage(const std::string& engineReason, bool polish, int httpStatus)
{
    const std::string known = AddressProblemMessage(httpStatus, engineReason, polish);
    return known.empty() ? std::string(MessageText(TMessageId::NoMediaOnPage, polish)) : known;
}

std::string ConversionErrorMessage(int exitCode, bool polish)
{
    return MessageText(TMessageId::ConversionError, polish) + std::to_string(exitCode) + ")";
}

const char* PageInfoTooLargeReason(bool polish)
{
    return polish ? "Informacje o stronie są zbyt duże." : "The page information is too large.";
}

std::string NotTrustedMessage(const std::string& url, bool polish)
{
    return (polish ? "Certyfikat serwera nie jest zaufany: " : "The server's certificate is not trusted: ") + url;
}

namespace {
const TListTexts ListEnglish = {
    "Put a list in a folder of its own",
    "All of them",
    "Only the first",
    "Reading the list... (Esc cancels)",
    "Preparing the downloads of the list... (Esc cancels)",
    "These addresses could not be added:",
};

const TListTexts ListPolish = {
    "Zapisuj listę w osobnym katalogu",
    "Wszystkie",
    "Tylko pierwszy",
    "Odczytywanie listy... (Esc przerywa)",
    "Przygotowywanie pobierań z listy... (Esc przerywa)",
    "Nie udało się dodać tych adresów:",
};

// The Polish form of a noun after a number: 1 one, 2-4 (not 12-14) few, else many.
const char* PolishForm(std::size_t n, const char* one, const char* few, const char* many)
{
    if (n == 1)
        return one;
    const std::size_t tens = n % 100;
    const std::size_t units = n % 10;
    return units >= 2 && units <= 4 && (tens < 12 || tens > 14) ? few : many;
}
} // namespace

const TListTexts& ListTexts(bool polish)
{
    return polish ? ListPolish : ListEnglish;
}

std::string PageListText(std::size_t count, bool polish)
{
    const std::string n = std::to_string(count);
    return polish ? "Ta strona zawiera listę " + n + " " + PolishForm(count, "filmu", "filmów", "filmów")
                  : "This page lists " + n + " videos";
}

std::string BatchQuestion(std::size_t count, bool polish)
{
    const std::string n = std::to_string(count);
    return polish ? "Pobrać " + n + " " + PolishForm(count, "adres", "adresy", "adresów") +
                        "? Każdy z nich będzie osobnym pobieraniem."
                  : "Download " + n + " addresses? Each one becomes a download of its own.";
}

std::string BatchStepText(std::size_t index, std::size_t count, bool polish)
{
    const std::string i = std::to_string(index);
    const std::string n = std::to_string(count);
    return polish ? "Dodawanie adresu " + i + " z " + n + "... (Esc przerywa)"
                  : "Adding address " + i + " of " + n + "... (Esc cancels)";
}

std::string ListHandOverText(std::size_t done, std::size_t count, bool polish)
{
    const std::string i = std::to_string(done);
    const std::string n = std::to_string(count);
    return polish ? "Dodawanie pobierania " + i + " z " + n + "... (Esc przerywa)"
                  : "Adding download " + i + " of " + n + "... (Esc cancels)";
}

std::string ListJobsFailedText(std::size_t failed, std::size_t count, bool polish)
{
    const std::string f = std::to_string(failed);
    const std::string n = std::to_string(count);
    return polish ? "Nie udało się dodać części filmów z listy: " + f + " z " + n + "."
                  : "Some videos of the list could not be added: " + f + " of " + n + ".";
}
