#include "app/DownloadListTexts.h"

namespace {

const TDownloadListTexts English = {
    "Downloads",
    {"Title", "State", "Size", "%", "Speed", "Time left"},
    {"Queued", "Downloading", "Merging", "Converting", "Done", "Failed", "Aborted", "Interrupted"},
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
};

const TDownloadListTexts Polish = {
    "Pobierane",
    {"Tytuł", "Stan", "Rozmiar", "%", "Prędkość", "Pozostało"},
    {"W kolejce", "Pobieranie", "Łączenie", "Konwertowanie", "Gotowe", "Błąd", "Przerwane", "Niedokończone"},
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
};

} // namespace

const TDownloadListTexts& DownloadListTexts(bool polish)
{
    return polish ? Polish : English;
}
