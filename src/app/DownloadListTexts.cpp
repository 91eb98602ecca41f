// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DownloadListTexts.h"

namespace {

const TDownloadListTexts English = {
    "Downloads",
    {"#", "Title", "State", "Size", "%", "Speed", "Time left"},
    {"Queued", "Downloading", "Merging", "Converting", "Done", "Failed", "Aborted", "Interrupted", "Paused"},
    "Show its window",
    "Abort",
    "Retry / Resume",
    "Open the file",
    "Open its folder",
    "Remove from the list",
    "Downloads at the same time",
    "Show a window for each download",
    "Resume unfinished downloads at start",
    "Looking up the page...",
    "Connections per download (and per server)",
    "Pause",
    "Resume",
    "Move up",
    "Move down",
    "Move to the top",
    "Clear finished",
    "Filter by title, address or state",
    "Quit",
    "Keep running",
    "Cancel",
};

const TDownloadListTexts Polish = {
    "Pobierane",
    {"#", "Tytuł", "Stan", "Rozmiar", "%", "Prędkość", "Pozostało"},
    {"W kolejce", "Pobieranie", "Łączenie", "Konwertowanie", "Gotowe", "Błąd", "Przerwane", "Niedokończone",
     "Wstrzymane"},
    "Pokaż jego okno",
    "Przerwij",
    "Ponów / wznów",
    "Otwórz plik",
    "Otwórz folder",
    "Usuń z listy",
    "Pobierania jednocześnie",
    "Pokaż okno każdego pobierania",
    "Wznawiaj niedokończone pobierania przy starcie",
    "Odczytywanie strony...",
    "Połączenia jednego pobierania (i z jednym serwerem)",
    "Wstrzymaj",
    "Wznów",
    "W górę",
    "W dół",
    "Na początek",
    "Usuń ukończone",
    "Filtruj po tytule, adresie lub stanie",
    "Zakończ",
    "Działaj dalej",
    "Anuluj",
};

} // namespace

const TDownloadListTexts& DownloadListTexts(bool polish)
{
    return polish ? Polish : English;
}

std::string ListLeftOutText(std::uint64_t leftOut, bool noList, const std::string& keptAs, bool polish)
{
    std::string text;
    if (noList)
        text = polish ? "Nie udało się odczytać listy pobrań; lista zaczyna się od nowa."
                      : "The list of downloads could not be read; the list starts afresh.";
    else
        text = polish ? "Pominięto wiersze listy pobrań, których nie udało się odczytać: " + std::to_string(leftOut) + "."
                      : "Rows of the list of downloads that could not be read were left out: " +
                            std::to_string(leftOut) + ".";
    if (!keptAs.empty())
        text += polish ? " Plik w poprzedniej postaci zachowano jako: " + keptAs
                       : " The file as it was is kept as: " + keptAs;
    return text;
}

std::string AddedAgainQuestion(std::size_t count, const std::string& first, bool polish)
{
    if (count == 1)
        return polish ? "Ten adres jest już na liście pobrań:\n" + first + "\nDodać go ponownie?"
                      : "This address is already in the list of downloads:\n" + first + "\nAdd it again?";
    const std::string n = std::to_string(count);
    return polish ? "Adresy, które są już na liście pobrań: " + n + " (pierwszy: " + first + ").\nDodać je ponownie?"
                  : n + " of these addresses are already in the list of downloads (the first: " + first +
                        ").\nAdd them again?";
}

std::string PendingAddressesText(const std::string& first, std::size_t count, bool polish)
{
    std::string text = (polish ? "Czeka na otwarcie: " : "Waiting to be opened: ") + first;
    if (count > 1)
        text += polish ? " (i " + std::to_string(count - 1) + " kolejnych)" : " (and " + std::to_string(count - 1) + " more)";
    return text;
}
