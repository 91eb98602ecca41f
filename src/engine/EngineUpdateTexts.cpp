// SPDX-License-Identifier: GPL-3.0-or-later
// The texts of an engine update: what it reads of a release (the tag in the
// "latest" address, a sums list, an armored key) and what it says to the user.

#include "engine/EngineUpdate.h"

#include "base/ZQ_Strings.h"

#include <cstdint>
#include <string>

std::string TagFromReleaseAddress(const std::string& location)
{
    const std::string mark = "/releases/tag/";
    const std::size_t at = location.rfind(mark);
    if (at == std::string::npos)
        return {};
    std::string tag = location.substr(at + mark.size());
    if (const std::size_t end = tag.find_first_of("?#/"); end != std::string::npos)
        tag.resize(end);
    if (tag.empty() || tag.size() > 64)
        return {};
    for (const char c : tag)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_'))
            return {};
    return tag;
}

std::string ListedHash(const std::string& sums, const std::string& name)
{
    for (const std::string& line : SplitLines(sums)) {
        const std::size_t blank = line.find(' ');
        if (blank != 64)
            continue;
        std::string listedName = line.substr(blank);
        listedName = TrimLeft(listedName);
        if (!listedName.empty() && listedName[0] == '*')
            listedName.erase(0, 1);
        if (TrimRight(listedName) != name)
            continue;
        std::string hash = LowerAscii(line.substr(0, 64));
        if (hash.find_first_not_of("0123456789abcdef") != std::string::npos)
            return {};
        return hash;
    }
    return {};
}

std::string Dearmor(const std::string& text)
{
    const std::string begin = "-----BEGIN PGP PUBLIC KEY BLOCK-----";
    const std::size_t start = text.find(begin);
    if (start == std::string::npos)
        return text;  // a binary key file
    const std::size_t end = text.find("-----END PGP PUBLIC KEY BLOCK-----", start);
    if (end == std::string::npos)
        return {};
    // The headers end at the first empty line; the body ends at the "=" checksum line.
    std::istringstream lines(text.substr(start + begin.size(), end - start - begin.size()));
    std::string line, body;
    bool inBody = false;
    bool first = true;
    while (std::getline(lines, line)) {
        line = Trim(line);
        if (first) {
            first = false;
            if (line.empty())
                continue;
        }
        if (!inBody) {
            if (line.empty() || line.find(':') == std::string::npos)
                inBody = true;
            if (line.empty() || line.find(':') != std::string::npos)
                continue;
        }
        if (!line.empty() && line[0] == '=')
            break;
        body += line;
    }
    std::string out;
    int bits = 0;
    std::uint32_t value = 0;
    for (const char c : body) {
        int v = -1;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '=')
            break;
        else
            return {};
        value = (value << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xff);
        }
    }
    return out;
}

namespace {
// Why it failed, in a few words and the detail in brackets, ending with ".".
// For the runtime, the words name deno and its archive, not the engine.
std::string FailureText(const TEngineUpdateResult& r, bool polish, bool runtime = false)
{
    static const char* const en[] = {
        "failed", "the engine folder can't be used", "the release server can't be reached",
        "no release found", "the signing key is missing", "gpgv is missing (install the package gpgv)",
        "the signature is not good", "the signature is not by the engine's signing key",
        "the file is not in the signed list", "the file differs from its signed hash",
        "the transfer was cut", "the new engine doesn't run", "the new engine names another version",
        "there is no build for this machine", "there is no update to undo", "the archive can't be unpacked",
        "the new engine doesn't answer", "the engine in use before the update is gone",
    };
    static const char* const pl[] = {
        "błąd", "nie można użyć folderu silnika", "brak połączenia z serwerem wydań",
        "nie znaleziono wydania", "brak klucza podpisu", "brak programu gpgv (zainstaluj pakiet gpgv)",
        "podpis jest nieprawidłowy", "podpis nie pochodzi od klucza autorów silnika",
        "pliku nie ma na podpisanej liście", "plik różni się od podpisanej sumy kontrolnej",
        "transfer został przerwany", "nowy silnik się nie uruchamia", "nowy silnik podaje inną wersję",
        "brak wersji na ten komputer", "nie ma aktualizacji do cofnięcia", "nie można rozpakować archiwum",
        "nowy silnik nie odpowiada", "silnika używanego przed aktualizacją już nie ma",
    };
    static_assert(std::size(en) == static_cast<std::size_t>(TUpdateFailure::PreviousGone) + 1);
    static_assert(std::size(pl) == std::size(en));
    const auto i = static_cast<std::size_t>(r.Failure);
    std::string text = i < std::size(en) ? (polish ? pl[i] : en[i]) : "?";
    if (runtime) {
        switch (r.Failure) {
        case TUpdateFailure::NotListed:
            text = polish ? "brak sumy kontrolnej archiwum" : "no hash is listed for the archive";
            break;
        case TUpdateFailure::HashDiffers:
            text = polish ? "archiwum różni się od podanej sumy kontrolnej" : "the archive differs from its listed hash";
            break;
        case TUpdateFailure::DoesNotRun:
            text = polish ? "pobrane deno się nie uruchamia" : "the fetched deno doesn't run";
            break;
        case TUpdateFailure::WrongVersion:
            text = polish ? "pobrane deno podaje inną wersję" : "the fetched deno names another version";
            break;
        case TUpdateFailure::NoAnswer:
            text = polish ? "pobrane deno nie odpowiada" : "the fetched deno doesn't answer";
            break;
        default:
            break;
        }
    }
    if (!r.Detail.empty())
        text += " (" + r.Detail + ")";
    return text + ".";
}

// Where an engine comes from, as the Options tab says it.
std::string SourceText(const std::string& source, bool polish)
{
    if (source == "own")
        return polish ? "własna kopia Brimtale" : "Brimtale's own copy";
    if (source == "beside")
        return polish ? "obok programu" : "beside the program";
    if (source == "path")
        return polish ? "z PATH" : "on PATH";
    return polish ? "wskazany" : "as named";
}
} // namespace

std::string UpdateResultText(const TEngineUpdateResult& r, bool polish)
{
    std::string text;
    switch (r.Outcome) {
    case TUpdateOutcome::Updated:
        text = (polish ? "Silnik stron zaktualizowany do wersji " : "Page engine updated to ") + r.Version + ".";
        break;
    case TUpdateOutcome::AlreadyNewest:
        text = (polish ? "Silnik stron jest już najnowszy (" : "The page engine is already the newest (") + r.Version + ").";
        break;
    case TUpdateOutcome::Restored:
        if (r.Source.empty())
            text = polish ? "Aktualizacja cofnięta; jak przed nią, nie ma silnika stron."
                          : "The update is undone; as before it, there is no page engine.";
        else
            text = (polish ? "Przywrócono poprzedni silnik stron (" : "The previous page engine is back (") +
                   (r.Version.empty() ? std::string("?") : r.Version) + ", " + SourceText(r.Source, polish) + ").";
        break;
    case TUpdateOutcome::Cancelled:
        return polish ? "Aktualizacja przerwana; silnik stron bez zmian." : "Update cancelled; the page engine is unchanged.";
    case TUpdateOutcome::Busy:
        return polish ? "Inna aktualizacja silnika stron właśnie trwa." : "Another page engine update is running.";
    case TUpdateOutcome::Failed:
        text = std::string(polish ? "Silnik stron bez zmian: " : "The page engine is unchanged: ") + FailureText(r, polish);
        break;
    }
    if (r.RuntimeFailure != TUpdateFailure::None) {
        TEngineUpdateResult runtime;
        runtime.Failure = r.RuntimeFailure;
        runtime.Detail = r.RuntimeDetail;
        text += std::string(polish ? " Nie pobrano deno: " : " deno was not fetched: ") + FailureText(runtime, polish, true);
    } else if (r.RuntimeFetched)
        text += polish ? " Pobrano środowisko JavaScript deno." : " The JavaScript runtime deno was fetched.";
    return text;
}

std::string UpdateStepText(TUpdateStep step, bool polish)
{
    switch (step) {
    case TUpdateStep::Waiting:
        return polish ? "Czekam na inną aktualizację..." : "Waiting for another update...";
    case TUpdateStep::Looking:
        return polish ? "Szukam najnowszego wydania..." : "Looking for the newest release...";
    case TUpdateStep::Sums:
        return polish ? "Pobieram listę sum kontrolnych..." : "Fetching the list of hashes...";
    case TUpdateStep::Signature:
        return polish ? "Sprawdzam podpis..." : "Checking the signature...";
    case TUpdateStep::Program:
        return polish ? "Pobieram silnik stron..." : "Fetching the page engine...";
    case TUpdateStep::Checking:
        return polish ? "Sprawdzam nowy silnik..." : "Trying the new engine...";
    case TUpdateStep::Installing:
        return polish ? "Instaluję..." : "Installing...";
    case TUpdateStep::Runtime:
        return polish ? "Pobieram środowisko JavaScript deno..." : "Fetching the JavaScript runtime deno...";
    }
    return {};
}
