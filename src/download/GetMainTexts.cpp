// SPDX-License-Identifier: GPL-3.0-or-later
#include "download/GetMainTexts.h"

#include <cerrno>

#include "base/TransferRate.h"
#include "system/FileDescriptors.h"
#include "system/ZQ_FileSystem.h"
#include "net/ZQ_Internet.h"
#include "app/Texts.h"
#include "base/ZQ_Conversion.h"

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
    "\"?",
    "Aborted",
    "Error (",
    "Frame ",
    "Complete: ",
    "Output file must be different from input file!",
    "No conversion chosen - nothing to do",
    "Retrying",
    "Retry",
    "",
    " left",
    "Merging video and audio",
    "Download failed",
    "Download finished",
    "Download failed",
    "Conversion finished",
    "Conversion failed",
    "the partial file is kept: ",
    "Disk full: ",
    "No free name for the file: ",
    "The encoder wrote no file",
    "The file cannot be written: ",
    "The file was changed outside Brimtale: ",
    "Status:",
};

const TGetMainTexts Polish = {
    "Pobieranie",
    "Konwertowanie",
    "Przerwij",
    "Zamknij",
    "Pobrano",
    "Wystąpił problem z połączeniem",
    "Konwersja zakończona",
    "URL / Plik:",
    "Plik:",
    "Rozmiar:",
    "Postęp:",
    "Zamknij okno po zakończeniu",
    "Usunąć niekompletny plik \"",
    "\"?",
    "Przerwano",
    "Błąd (",
    "Klatka ",
    "Zakończono: ",
    "Plik wynikowy musi być inny niż plik źródłowy!",
    "Nie wybrano konwersji - nic do zrobienia",
    "Ponawianie",
    "Ponów",
    "pozostało ",
    "",
    "Łączenie obrazu i dźwięku",
    "Pobieranie nie powiodło się",
    "Pobieranie zakończone",
    "Pobieranie nie powiodło się",
    "Konwersja zakończona",
    "Konwersja nie powiodła się",
    "niekompletny plik pozostaje: ",
    "Brak miejsca na dysku: ",
    "Brak wolnej nazwy dla pliku: ",
    "Program konwertujący nie zapisał pliku",
    "Nie można zapisać pliku: ",
    "Plik został zmieniony poza programem Brimtale: ",
    "Stan:",
};
} // namespace

std::string TransferSpeedText(double bytesPerSecond, std::int64_t secondsLeft, bool polish, bool totalKnown)
{
    const TGetMainTexts& t = GetMainTexts(polish);
    // Until the speed is known, a dash stands for it and for the time left.
    const std::string unknown = "\u2014";
    if (bytesPerSecond <= 0)
        return totalKnown ? unknown + " - " + t.TimeLeftBefore + unknown + t.TimeLeftAfter : unknown;
    std::string text = SizeText(static_cast<std::uint64_t>(bytesPerSecond)) + "/s";
    if (secondsLeft >= 0)
        text += std::string(" - ") + t.TimeLeftBefore + DurationText(secondsLeft) + t.TimeLeftAfter;
    return text;
}

const TGetMainTexts& GetMainTexts(bool polish)
{
    return polish ? Polish : English;
}

std::string SizeLineText(std::int64_t bytes)
{
    if (bytes < 0)
        return "\u2014";
    const std::string size = SizeText(static_cast<std::uint64_t>(bytes));
    return bytes < 1024 ? size : std::to_string(bytes) + " (" + size + ")";
}

TWorkEndNotice WorkEndNotice(TWorkEnd end, const std::string& file, const std::string& reason, bool polish,
                             std::int64_t size)
{
    const TGetMainTexts& t = GetMainTexts(polish);
    TWorkEndNotice notice;
    switch (end) {
    case TWorkEnd::Downloaded:
        notice.Summary = t.NoticeDownloaded;
        if (size >= 0)
            notice.Summary += " (" + SizeText(static_cast<std::uint64_t>(size)) + ")";
        break;
    case TWorkEnd::DownloadFailed:
        notice.Summary = t.NoticeDownloadFailed;
        break;
    case TWorkEnd::Converted:
        notice.Summary = t.NoticeConverted;
        break;
    case TWorkEnd::ConversionFailed:
        notice.Summary = t.NoticeConversionFailed;
        break;
    }
    notice.Body = reason.empty() ? file : reason + "\n" + file;
    return notice;
}

std::string FileChangedText(const std::string& file, bool polish)
{
    return std::string(GetMainTexts(polish).FileChanged) + file;
}

std::string TransferFailureText(std::int32_t status, int writeError, const std::string& file, const std::string& url,
                                bool polish)
{
    const TGetMainTexts& t = GetMainTexts(polish);
    if (status == InetWriteFailed && IsDiskFullError(writeError))
        return std::string(t.DiskFull) + ExtractFileDir(file);
    if (status == InetWriteFailed)
        return std::string(t.CannotWrite) + file;
    if (status == InetNotTrusted)
        return NotTrustedMessage(url, polish);
    if (status == InetFileChanged)
        return FileChangedText(file, polish);
    return t.ConnectionError;
}
