// SPDX-License-Identifier: GPL-3.0-or-later
// Desktop entries.
#include "shell/ZQ_Shortcuts.h"

#include "system/Platform.h"
#include "system/ZQ_FileSystem.h"
#include "system/ZQ_System.h"

#include <filesystem>
#include <fstream>
#include <system_error>

std::string ShortcutPath(const std::string& folder, const std::string& fileName)
{
    if (folder.empty())
        return fileName;
    return folder.back() == '/' ? folder + fileName : folder + "/" + fileName;
}

bool ShortcutExists(const std::string& folder, const std::string& fileName)
{
    if (folder.empty() || fileName.empty())
        return false;
    return FileExists(ShortcutPath(folder, fileName));
}

std::string EscapeDesktopValue(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c; break;
        }
    }
    return out;
}

std::string QuoteExecArgument(const std::string& argument)
{
    std::string out = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out += '\\';
        if (c == '%')
            out += '%';
        out += c;
    }
    out += '"';
    return out;
}

std::string DesktopEntryText(const std::string& description, const std::string& target,
                             const std::string& iconPath)
{
    std::string dir = ExtractFileDir(target);
    std::string text = "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Version=1.0\n";
    text += "Name=" + EscapeDesktopValue(description) + "\n";
    text += "Exec=" + EscapeDesktopValue(QuoteExecArgument(target)) + "\n";
    if (!dir.empty())
        text += "Path=" + EscapeDesktopValue(dir) + "\n";
    if (!iconPath.empty())
        text += "Icon=" + EscapeDesktopValue(iconPath) + "\n";
    text += "Terminal=false\n"
            "Categories=AudioVideo;Video;\n";
    return text;
}

void CreateShortcut(const std::string& description, const std::string& target, const std::string& folder,
                    const std::string& fileName, const std::string& iconPath)
{
    if (folder.empty() || fileName.empty() || target.empty())
        return;
    try {
        namespace fs = std::filesystem;
        std::error_code ec;
        // The applications folder may be missing with its parents on a new account.
        if (!ForceDirectories(folder))
            return;
        const std::string path = ShortcutPath(folder, fileName);
        if (OnWindows) {
            // A shell link: the program in its own folder, with its own icon.
            const std::string exeDir = target.substr(0, target.find_last_of("/\\"));
            MakeShellLink(path, target, exeDir, description, iconPath);
            return;
        }
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            if (!out)
                return;
            out << DesktopEntryText(description, target, iconPath);
            if (!out.flush())
                return;
        }
        // A launcher on the desktop is started only when it may be executed.
        fs::permissions(path,
                        fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::replace, ec);
    } catch (...) {
        // Nothing is reported: the check box shows the real state at the next start.
    }
}

void DeleteShortcut(const std::string& folder, const std::string& fileName)
{
    if (!ShortcutExists(folder, fileName))
        return;
    RemoveFile(ShortcutPath(folder, fileName));
}
