// SPDX-License-Identifier: GPL-3.0-or-later
#include "programs/CliEngine.h"

#include "app/Settings.h"
#include "engine/EngineUpdate.h"
#include "system/Interrupts.h"
#include "engine/EngineChoice.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace {
std::atomic<bool> EngineInterrupted{false};

void OnEngineInterrupt()
{
    EngineInterrupted.store(true);
}

void PrintStatus()
{
    const TEngineChoice choice = ChooseEngine();
    if (choice.Path.empty()) {
        std::printf("engine: none\n");
    } else {
        const int age = EngineAgeDays(choice.Version);
        std::printf("engine: %s %s, %s days old (%s)\n", choice.Path.c_str(),
                    choice.Version.empty() ? "?" : choice.Version.c_str(),
                    age < 0 ? "?" : std::to_string(age).c_str(), choice.Source.c_str());
    }
    const TJsRuntime runtime = choice.Runtime.Name.empty() ? ChooseJsRuntime() : choice.Runtime;
    if (runtime.Name.empty())
        std::printf("runtime: none\n");
    else
        std::printf("runtime: %s %s %s\n", runtime.Name.c_str(), runtime.Path.c_str(), runtime.Version.c_str());
}
} // namespace

int RunEngineCommand(const TCliOptions& options)
{
    const bool polish = AppSettings.LangPolish;
    if (options.EngineStatus && !options.UpdateEngine && !options.RestoreEngine) {
        PrintStatus();
        return 0;
    }
    TEngineUpdateResult result;
    if (options.RestoreEngine) {
        result = RestoreEngine();
    } else {
        CatchInterrupts(OnEngineInterrupt);
        TEngineUpdateOptions update;
        update.Channel = options.Channel == "nightly" ? TEngineChannel::Nightly : TEngineChannel::Stable;
        int lastStep = -1;
        std::int64_t lastShown = -1;
        update.OnProgress = [&](TUpdateStep step, std::int64_t done, std::int64_t total) {
            if (options.Quiet)
                return;
            if (static_cast<int>(step) != lastStep) {
                lastStep = static_cast<int>(step);
                lastShown = -1;
                std::fprintf(stderr, "%s\n", UpdateStepText(step, polish).c_str());
            }
            // A line per tenth of a download.
            if (total > 0) {
                const std::int64_t tenth = done * 10 / total;
                if (tenth != lastShown) {
                    lastShown = tenth;
                    std::fprintf(stderr, "  %lld / %lld\n", static_cast<long long>(done), static_cast<long long>(total));
                }
            }
        };
        update.ShouldStop = [] { return EngineInterrupted.load(); };
        result = UpdateEngine(update);
    }
    std::fprintf(stderr, "%s\n", UpdateResultText(result, polish).c_str());
    if (options.EngineStatus)
        PrintStatus();
    switch (result.Outcome) {
    case TUpdateOutcome::Updated:
    case TUpdateOutcome::AlreadyNewest:
    case TUpdateOutcome::Restored:
        return 0;
    case TUpdateOutcome::Cancelled:
        return 130;
    default:
        return 1;
    }
}

std::string EngineUpdateHint(bool polish)
{
    const TEngineChoice choice = ChooseEngine();
    const int age = EngineAgeDays(choice.Version);
    std::string text;
    if (age > EngineStaleDays)
        text = polish ? "Silnik stron ma " + std::to_string(age) + " dni. "
                      : "The page engine is " + std::to_string(age) + " days old. ";
    else
        text = polish ? "Silnik stron nie ma środowiska JavaScript, którego wymaga YouTube. "
                      : "The page engine has no JavaScript runtime, which YouTube needs. ";
    return text + (polish ? "Zaktualizuj go: brimtale-cli --update-engine" : "Update it with: brimtale-cli --update-engine");
}
