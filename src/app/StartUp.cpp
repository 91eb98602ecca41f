// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StartUp.h"

#include "app/DownloadJob.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "system/FileDescriptors.h"
#include "system/Platform.h"
#include "system/ZQ_FileSystem.h"
#include "system/ZQ_System.h"
#include "base/ZQ_Strings.h"
#include "base/ZQ_URL.h"

#include <climits>

std::string StartAddress;

namespace {

// The local path of a file:// URI ("file:///a%20b", "file://localhost/a"), or
// "" when the text is none or names another machine.
std::string LocalPathOfFileUri(const std::string& text)
{
    const std::string scheme = "file://";
    if (!StartsWithText(text, scheme))
        return {};
    const std::string rest = text.substr(scheme.size());
    const std::size_t slash = rest.find('/');
    if (slash == std::string::npos)
        return {};
    const std::string host = rest.substr(0, slash);
    if (!host.empty() && !SameTextAscii(host, "localhost") && !SameTextAscii(host, HostName()))
        return {};
    // A "+" in a file URI is a plus sign, not a blank.
    return LocalPathOfUriPath(UrlDecode(ReplaceAll(rest.substr(slash), "+", "%2B")));
}

} // namespace

std::string CommandLineAddress(const std::string& argument, const std::string& workingDir)
{
    std::string text = argument;
    const std::string local = LocalPathOfFileUri(text);
    if (!local.empty())
        text = local;
    else if (!text.empty() && !IsAbsolutePath(text) && text.find("://") == std::string::npos && !workingDir.empty() &&
             FileExists(workingDir + "/" + text))
        text = workingDir + "/" + text;
    const std::size_t lineEnd = text.find_first_of("\r\n");
    if (lineEnd != std::string::npos)
        text.erase(lineEnd);
    return Utf8Cut(text, AddressMax);
}

TRunMode StartUp(const std::vector<std::string>& args)
{
    StartAddress.clear();
    Job = JobFromArgs(args);
    InitAppDirs();
    ShortcutFileName = ShortcutFileOfProgram;
    SettingsFile = DataDir + "/bmt.ini";
    InitSettings();
    LoadSettings(SettingsFile);
    ApplyFirstRunLanguage();
    if (IsJobValid(Job))
        return TRunMode::Download;
    // One argument that is an address or a file (a "-get" job, complete or not,
    // and any other switch are none).
    if (args.size() == 2 && !args[1].empty() && args[1][0] != '-')
        StartAddress = CommandLineAddress(args[1], WorkingDir());
    return TRunMode::Interactive;
}
