#include "download/GetMainTexts.h"

namespace {
const TGetMainTexts English = {
    "Downloading",
    "Converting",
    "Abort",
    "Close",
    "Downloaded",
    "Connection error",
    "File converted",
    "URL / File:",
    "File:",
    "Size:",
    "Progress:",
    "Auto close",
    "Delete incomplete file \"",
    "\" ?",
    "Aborted",
    "Error (",
    "Frame ",
    "Complete: ",
    "Output file must be different than input file!",
    "No conversion chosen - nothing to do",
};

const TGetMainTexts Polish = {
    "Pobieranie",
    "Konwertowanie",
    "Przerwij",
    "Zamknij",
    "Pobrano",
    "Wystapił problem z połączeniem",
    "Konwersja zakończona",
    "URL / Plik:",
    "Plik:",
    "Rozmiar:",
    "Postęp:",
    "Zamknij okno po zakończeniu",
    "Usunąć niekompletny plik \"",
    "\" ?",
    "Przerwano",
    "Błąd (",
    "Klatka ",
    "Zakończono: ",
    "Plik wynikowy musi być inny niż plik źródłowy!",
    "Nie wybrano konwersji - nic do zrobienia",
};
} // namespace

const TGetMainTexts& GetMainTexts(bool polish)
{
    return polish ? Polish : English;
}
