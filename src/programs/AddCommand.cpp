// SPDX-License-Identifier: GPL-3.0-or-later
#include "programs/AddCommand.h"

#include "app/InstanceMessage.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "system/ConRun.h"
#include "plan/AddedJob.h"
#include "system/ZQ_System.h"
#include "ui/RunningInstance.h"

#include <QDeadlineTimer>
#include <QThread>

#include <cstdio>

namespace {

const char* const Usage =
    "usage: brimtale --add [-d DIR] [-f FORMAT] [-p PROFILE] [--playlist] ADDRESS...\n";

} // namespace

bool IsAddCommand(const std::vector<std::string>& args)
{
    return args.size() >= 2 && args[1] == "--add";
}

int RunAddCommand(const std::vector<std::string>& args)
{
    const bool polish = AppSettings.LangPolish;
    std::vector<TAddedAddress> added;
    std::string error;
    if (!ParseAddArguments(std::vector<std::string>(args.begin() + 1, args.end()), added, error)) {
        std::fprintf(stderr, "brimtale: %s\n%s", error.c_str(), Usage);
        return 2;
    }
    const std::string request = EncodeAddRequest(added);
    if (request.size() > InstanceMessageMax) {
        std::fprintf(stderr, "brimtale: %s\n%s", polish ? "za dużo adresów naraz" : "too many addresses at once", Usage);
        return 2;
    }
    const QString socket = InstanceSocketPath();
    if (SendAddToRunningInstance(request, InstanceAnswerMs, socket))
        return 0;
    // None runs: the program is started, and takes the addresses once it listens.
    const std::string program = ExecutablePath();
    // The program gets no standard output or error of this start: a caller that
    // reads them (a script's "$(...)") would wait for as long as it runs.
    const bool started = !program.empty() && StartDetachedWithoutOutput(program, {});
    if (!started) {
        std::fprintf(stderr, "brimtale: %s\n", polish ? "nie można uruchomić programu" : "the program could not be started");
        return 1;
    }
    const QDeadlineTimer deadline(AddStartWaitMs);
    while (!deadline.hasExpired()) {
        if (SendAddToRunningInstance(request, InstanceAnswerMs, socket))
            return 0;
        QThread::msleep(100);
    }
    std::fprintf(stderr, "brimtale: %s\n",
                 polish ? "program nie przyjął adresów" : "the program did not take the addresses");
    return 1;
}
