// SPDX-License-Identifier: GPL-3.0-or-later
// The program's desktop entry: where it goes, what it holds, and that a path
// with blanks, quotes or shell characters still starts the program.

#include "shell/ZQ_ShellFolders.h"
#include "shell/ZQ_Shortcuts.h"

#include "support/Skips.h"
#include "support/TempDir.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

namespace {

// The value of a key in a desktop entry text, as written.
std::string Key(const std::string& text, const std::string& key)
{
    const std::string prefix = "\n" + key + "=";
    const std::size_t at = ("\n" + text).find(prefix);
    if (at == std::string::npos)
        return "<missing>";
    const std::size_t start = at + prefix.size() - 1;
    return text.substr(start, text.find('\n', start) - start);
}

// Undoes the desktop entry quoting of one Exec argument (the reverse of what a
// launcher does: string escapes first, then the argument's own quoting).
std::string UnquoteExec(const std::string& value)
{
    std::string unescaped;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char c = value[++i];
            unescaped += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c == 's' ? ' ' : c;
            if (c != 'n' && c != 't' && c != 'r' && c != 's' && c != '\\')
                unescaped.insert(unescaped.size() - 1, 1, '\\');
        } else {
            unescaped += value[i];
        }
    }
    EXPECT_GE(unescaped.size(), 2u);
    EXPECT_EQ(unescaped.front(), '"');
    EXPECT_EQ(unescaped.back(), '"');
    std::string arg;
    for (std::size_t i = 1; i + 1 < unescaped.size(); ++i) {
        if (unescaped[i] == '\\' && i + 2 < unescaped.size()) {
            arg += unescaped[++i];
        } else if (unescaped[i] == '%' && i + 2 < unescaped.size() && unescaped[i + 1] == '%') {
            arg += '%';
            ++i;
        } else {
            EXPECT_NE(unescaped[i], '"') << "an unescaped quote inside the argument";
            arg += unescaped[i];
        }
    }
    return arg;
}

} // namespace

TEST(Shortcuts, CreateExistsDelete)
{
    SKIP_ON_WINDOWS(LinuxConventions);
    TempDir dir;
    const std::string folder = dir.File("Desktop");
    EXPECT_FALSE(ShortcutExists(folder, "brimtale.desktop"));

    // The folder is made when it is missing, with its parents (a new account
    // has no ~/.local/share/applications yet).
    const std::string menu = dir.File("local/share/applications");
    CreateShortcut("Brimtale", "/opt/brimtale/bin/brimtale", menu, "brimtale.desktop");
    EXPECT_TRUE(ShortcutExists(menu, "brimtale.desktop"));
    CreateShortcut("Brimtale", "/opt/brimtale/bin/brimtale", folder, "brimtale.desktop");
    ASSERT_TRUE(ShortcutExists(folder, "brimtale.desktop"));
    const std::string text = TempDir::Read(folder + "/brimtale.desktop");
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_EQ(Key(text, "Type"), "Application");
    EXPECT_EQ(Key(text, "Name"), "Brimtale");
    EXPECT_EQ(Key(text, "Path"), "/opt/brimtale/bin");
    EXPECT_EQ(UnquoteExec(Key(text, "Exec")), "/opt/brimtale/bin/brimtale");
    EXPECT_EQ(Key(text, "Icon"), "<missing>");
    EXPECT_EQ(Key(text, "Categories"), "AudioVideo;Video;"); // one main category
    struct stat st {};
    ASSERT_EQ(::stat((folder + "/brimtale.desktop").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR) << "a desktop launcher must be executable";

    DeleteShortcut(folder, "brimtale.desktop");
    EXPECT_FALSE(ShortcutExists(folder, "brimtale.desktop"));
    DeleteShortcut(folder, "brimtale.desktop");  // nothing there: no error
}

TEST(Shortcuts, ExecSurvivesAwkwardPaths)
{
    for (const std::string& target : {std::string("/home/a b/my \"vids\"/brimtale"),
                                     std::string("/tmp/$(touch x);`id`/50%/back\\slash/brimtale"),
                                     std::string("/tmp/new\nline/tab\there/brimtale")}) {
        const std::string text = DesktopEntryText("Brimtale", target, "/usr/share/icons/x.svg");
        // One line per key: a line break in the path must not start a new key.
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 9) << text;
        EXPECT_EQ(UnquoteExec(Key(text, "Exec")), target);
        EXPECT_EQ(Key(text, "Icon"), "/usr/share/icons/x.svg");
    }
}

TEST(Shortcuts, FailuresAreSilent)
{
    TempDir dir;
    // The folder's parent is a file: the folder can't be made, nothing is written.
    const std::string blocker = dir.Write("file", "x");
    CreateShortcut("Brimtale", "/bin/true", blocker + "/Desktop", "brimtale.desktop");
    EXPECT_FALSE(ShortcutExists(blocker + "/Desktop", "brimtale.desktop"));
    // An unknown folder.
    EXPECT_FALSE(ShortcutExists("", "brimtale.desktop"));
    CreateShortcut("Brimtale", "/bin/true", "", "brimtale.desktop");
    DeleteShortcut("", "brimtale.desktop");
}

TEST(Shortcuts, ExistingEntryIsLeftToTheCaller)
{
    // ShortcutExists looks only at the name: whatever the file holds, it counts.
    TempDir dir;
    dir.Write("brimtale.desktop", "not a desktop entry");
    EXPECT_TRUE(ShortcutExists(dir.Path(), "brimtale.desktop"));
    DeleteShortcut(dir.Path(), "brimtale.desktop");
    EXPECT_FALSE(ShortcutExists(dir.Path(), "brimtale.desktop"));
}

// Sets an environment variable for one test and puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        testsys::SetEnv(name, value);
    }
    ~ScopedEnv()
    {
        if (old_)
            testsys::SetEnv(name_, *old_);
        else
            testsys::UnsetEnv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(ShellFolders, TheUsersDesktopAndMenuFolders)
{
    SKIP_ON_WINDOWS(LinuxConventions);
    TempDir home;
    const ScopedEnv homeEnv("HOME", home.Path());
    const ScopedEnv config("XDG_CONFIG_HOME", home.File("config"));
    // A relative data folder is none: the default one is used.
    const ScopedEnv data("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(ShellFolder("Desktop"), home.File("Desktop"));
    EXPECT_EQ(ShellFolder("Start Menu"), home.File(".local/share/applications"));
    EXPECT_EQ(ShellFolder("Favorites"), "");

    // A desktop the user renamed (as a Polish desktop names it), with the file's quoting.
    std::filesystem::create_directories(home.File("config"));
    home.Write("config/user-dirs.dirs", "# written by xdg-user-dirs-update\nXDG_VIDEOS_DIR=\"$HOME/Wideo\"\n"
                                        "XDG_DESKTOP_DIR=\"$HOME/Pulpit/\"\n");
    EXPECT_EQ(ShellFolder("Desktop"), home.File("Pulpit"));
    const ScopedEnv absoluteData("XDG_DATA_HOME", home.File("data"));
    EXPECT_EQ(ShellFolder("Start Menu"), home.File("data/applications"));
}
