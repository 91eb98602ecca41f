// SPDX-License-Identifier: GPL-3.0-or-later
#include "download/JobListTexts.h"

#include "base/ZQ_Conversion.h"

namespace {

std::string Part(const char* name, int count)
{
    return std::string(name) + ": " + std::to_string(count);
}

} // namespace

std::string ListStatusText(const TJobList::TCounts& counts, bool polish)
{
    const char* const dot = " \u00b7 ";
    std::string text = Part(polish ? "Pobierane" : "Downloading", counts.Running) + dot +
                       Part(polish ? "W kolejce" : "Queued", counts.Waiting);
    if (counts.Paused > 0)
        text += dot + Part(polish ? "Wstrzymane" : "Paused", counts.Paused);
    text += dot + Part(polish ? "Gotowe" : "Done", counts.Done) + dot +
            Part(polish ? "Nieudane" : "Failed", counts.Failed);
    if (counts.Speed > 0)
        text += dot + SizeText(static_cast<std::uint64_t>(counts.Speed)) + "/s";
    return text;
}

std::string WorkLeftText(int running, int waiting, bool polish)
{
    if (running <= 0 && waiting <= 0)
        return {};
    std::string text;
    if (polish) {
        text = "Trwaj\u0105ce pobierania: " + std::to_string(running) + ", oczekuj\u0105ce: " + std::to_string(waiting) +
               ".\nPo zamkni\u0119ciu trwaj\u0105ce doko\u0144cz\u0105 si\u0119 same, a oczekuj\u0105ce "
               "zaczekaj\u0105 do nast\u0119pnego uruchomienia.";
        return text;
    }
    const auto downloads = [](int n) { return std::to_string(n) + (n == 1 ? " download" : " downloads"); };
    if (running > 0 && waiting > 0)
        text = downloads(running) + (running == 1 ? " is" : " are") + " running and " + std::to_string(waiting) +
               (waiting == 1 ? " is" : " are") + " waiting.";
    else if (running > 0)
        text = downloads(running) + (running == 1 ? " is" : " are") + " running.";
    else
        text = downloads(waiting) + (waiting == 1 ? " is" : " are") + " waiting.";
    return text + "\nIf you quit, running downloads finish on their own and waiting ones wait for the next start.";
}

std::string KeptInTrayText(bool polish)
{
    return polish ? "Brimtale dzia\u0142a dalej w zasobniku, dop\u00f3ki pobierania trwaj\u0105 lub czekaj\u0105."
                  : "Brimtale keeps running in the tray while downloads run or wait.";
}

std::string BatchEndText(const TJobList::TBatchEnd& end, const std::string& singleTitle, bool polish)
{
    if (end.Done + end.Failed + end.Aborted == 1 && !singleTitle.empty()) {
        if (end.Done == 1)
            return (polish ? "Pobrano: " : "Download done: ") + singleTitle;
        if (end.Failed == 1)
            return (polish ? "Nie uda\u0142o si\u0119 pobra\u0107: " : "Download failed: ") + singleTitle;
        return (polish ? "Przerwano: " : "Download stopped: ") + singleTitle;
    }
    if (polish) {
        std::string text = "Pobrane: " + std::to_string(end.Done);
        if (end.Failed > 0)
            text += ", nieudane: " + std::to_string(end.Failed);
        if (end.Aborted > 0)
            text += ", przerwane: " + std::to_string(end.Aborted);
        return text;
    }
    std::string text = std::to_string(end.Done) + (end.Done == 1 ? " download done" : " downloads done");
    if (end.Failed > 0)
        text += ", " + std::to_string(end.Failed) + " failed";
    if (end.Aborted > 0)
        text += ", " + std::to_string(end.Aborted) + " stopped";
    return text;
}

std::string ListTitleText(const TJobList::TCounts& counts, const std::string& title)
{
    if (counts.Running <= 0 || counts.Percent < 0)
        return title;
    return std::to_string(counts.Percent) + " % - " + title;
}
