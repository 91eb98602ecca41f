#include "app/StartUp.h"

#include "app/DownloadJob.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"

TRunMode StartUp(const std::vector<std::string>& args)
{
    Job = JobFromArgs(args);
    InitAppDirs();
    ShortcutFileName = "brimtale.desktop";
    SettingsFile = DataDir + "/bmt.ini";
    InitSettings();
    LoadSettings(SettingsFile);
    ApplyFirstRunLanguage();
    return IsJobValid(Job) ? TRunMode::Download : TRunMode::Interactive;
}
