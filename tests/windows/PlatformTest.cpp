// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows side of the platform layer (src/system/windows), run under Wine:
// command lines, child processes and their jobs, UTF-8 paths beyond 260
// characters, links refused, atomic replacement, locks, the program's names.
// The test program is also its own child: "--child ..." modes below.
#include "base/ZQ_Strings.h"
#include "system/ConRun.h"
#include "system/FileDescriptors.h"
#include "system/FileNames.h"
#include "system/ProcessCommandLine.h"
#include "system/UserFolders.h"
#include "system/ZQ_FileSystem.h"
#include "system/ZQ_System.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
// windows.h and shellapi.h name ReplaceFileW and FindExecutableW so; the program's own are meant.
#undef ReplaceFile
#undef FindExecutable

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring Wide(const std::string& text)
{
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string Narrow(const std::wstring& text)
{
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                        nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// What CommandLineToArgvW makes of a command line, in UTF-8.
std::vector<std::string> SystemSplit(const std::string& line)
{
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(Wide(line).c_str(), &count);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i)
        args.push_back(Narrow(argv[i]));
    ::LocalFree(argv);
    return args;
}

const std::vector<std::string> HostileArgs = {
    "plain", "", " ", "two words", "tab\there", "quote\"inside", "\"", "\\", "trailing\\", "trailing\\\\",
    "back\\\"slash", "C:\\Program Files\\x\\", "$(id); `x` | y > z", "a & b ^ c %PATH% !v!", "'single'",
    "new\nline", "za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85 \xF0\x9F\x8E\xAC", "\"\"", "a\"\"b",
};

class TempFolder {
public:
    TempFolder()
    {
        wchar_t temp[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH + 1, temp);
        path_ = Narrow(temp) + "bt-platform-" + std::to_string(::GetCurrentProcessId()) + "-" +
                std::to_string(::GetTickCount64());
        for (char& c : path_)
            if (c == '\\')
                c = '/';
        ForceDirectories(path_);
    }
    ~TempFolder() { RemoveFolderTree(path_); }
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

bool EndsWithExe(const std::string& path)
{
    return path.size() > 4 && (path.substr(path.size() - 4) == ".exe" || path.substr(path.size() - 4) == ".EXE");
}

bool WriteText(const std::string& path, const std::string& text)
{
    const int fd = OpenOwnFileForWriting(path, true);
    if (fd < 0)
        return false;
    const bool ok = WriteAll(fd, text.data(), text.size());
    return CloseFile(fd) && ok;
}

} // namespace

TEST(WindowsCommandLine, EveryArgumentComesBackAsItWasThroughCommandLineToArgvW)
{
    const std::string line = WindowsCommandLine("C:/Program Files/Brimtale/ffmpeg.exe", HostileArgs);
    std::vector<std::string> back = SystemSplit(line);
    ASSERT_EQ(back.size(), HostileArgs.size() + 1) << line;
    EXPECT_EQ(back[0], "C:/Program Files/Brimtale/ffmpeg.exe");
    back.erase(back.begin());
    EXPECT_EQ(back, HostileArgs);
    // The program's own splitting agrees with the system's.
    EXPECT_EQ(SplitWindowsArguments(line), HostileArgs);
    // A program's path can't hold a quote: no command line is made with one.
    EXPECT_EQ(WindowsCommandLine("C:/a\"b.exe", {}), "");
}

TEST(WindowsProcesses, ArgumentsReachTheChildWholeAndItsExitCodeComesBack)
{
    std::vector<std::string> args = {"--child", "echo", "7"};
    args.insert(args.end(), HostileArgs.begin(), HostileArgs.end());
    std::vector<std::string> lines;
    const std::uint32_t code = RunConsoleApp(ExecutablePath(), args, &lines, nullptr);
    EXPECT_EQ(code, 7u);
    // Standard output and standard error on the one pipe, in order; standard
    // input is NUL (read to its end at once).
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "out");
    EXPECT_EQ(lines[1], "err");
    EXPECT_EQ(lines[2], "stdin 0");
    // Each argument as one line; a line break in one makes two lines. (The
    // collector's last entry is the empty one after the final line end.)
    if (!lines.empty() && lines.back().empty())
        lines.pop_back();
    std::vector<std::string> expected;
    for (const std::string& arg : HostileArgs) {
        if (arg == "new\nline") {
            expected.push_back("[new");
            expected.push_back("line]");
        } else {
            expected.push_back("[" + arg + "]");
        }
    }
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end()), expected);

    EXPECT_THROW(RunConsoleApp("no-such-program-here", std::vector<std::string>{}, nullptr, nullptr), EConsoleError);
}

TEST(WindowsProcesses, EndingTheJobEndsTheChildAndWhatItStarted)
{
    std::vector<std::string> lines;
    int grandchild = 0;
    const auto start = std::chrono::steady_clock::now();
    const std::uint32_t code = RunConsoleApp(
        ExecutablePath(), {"--child", "parent"}, &lines,
        [&](int pid, const std::string& line) {
            if (line.rfind("grandchild ", 0) == 0) {
                grandchild = std::stoi(line.substr(11));
                EXPECT_TRUE(EndProcessGroup(pid));
            }
        },
        TLineEndRule::LoneLfCompletes);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(code, 143u);
    ASSERT_GT(grandchild, 0);
    HANDLE h = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(grandchild));
    if (h) {
        EXPECT_EQ(::WaitForSingleObject(h, 5000), WAIT_OBJECT_0) << "the grandchild outlived its job";
        ::CloseHandle(h);
    }
}

TEST(WindowsProcesses, ACapturedRunKeepsOutputAndErrorApart)
{
    const TCapturedRun run = RunCaptured(ExecutablePath(), {"--child", "echo", "3", "x"}, 4096, [] { return false; });
    EXPECT_EQ(run.ExitCode, 3u);
    // As a Windows program writes its text: CR LF.
    EXPECT_EQ(run.Out, "out\r\nstdin 0\r\n[x]\r\n");
    EXPECT_EQ(run.Err, "err\r\n");
}

TEST(WindowsFiles, Utf8NamesAndPathsLongerThan260Characters)
{
    TempFolder temp;
    std::string deep = temp.Path();
    while (deep.size() < 400)
        deep += "/gł\xC4\x99" "boki-folder-\xF0\x9F\x8E\xAC";
    ASSERT_TRUE(ForceDirectories(deep));
    const std::string file = deep + "/za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87.mp4";
    ASSERT_TRUE(WriteText(file, "whole"));
    const TWholeFile read = ReadWholeFile(file, 100);
    ASSERT_TRUE(read.Ok());
    EXPECT_EQ(read.Text, "whole");
    EXPECT_EQ(FileSizeOf(file), 5);
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(PathInfoOf(file).Regular);
    EXPECT_TRUE(DirectoryExists(deep));
    EXPECT_FALSE(FolderNames(deep).empty());
    EXPECT_EQ(FolderNames(deep), std::vector<std::string>{"za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87.mp4"});
}

TEST(WindowsFiles, ReplacingIsAtOnceAndRenamingNeverReplaces)
{
    TempFolder temp;
    const std::string a = temp.File("a.txt"), b = temp.File("b.txt"), c = temp.File("c.txt");
    ASSERT_TRUE(WriteText(a, "new"));
    ASSERT_TRUE(WriteText(b, "old"));
    const std::optional<TFileId> idA = FileIdOf(a);
    ASSERT_TRUE(idA);
    EXPECT_TRUE(ReplaceFile(a, b));
    EXPECT_EQ(ReadWholeFile(b, 10).Text, "new");
    EXPECT_EQ(FileIdOf(b), idA);  // the same file under its new name
    EXPECT_FALSE(PathExists(a));

    ASSERT_TRUE(WriteText(c, "mine"));
    EXPECT_FALSE(RenameFileNoReplace(b, c));
    EXPECT_EQ(ReadWholeFile(c, 10).Text, "mine");
    EXPECT_TRUE(RenameFileNoReplace(b, temp.File("d.txt")));

    // A file put in place of the job's own is never written.
    bool changed = false;
    const int fd = OpenSameFileForWriting(c, *idA, changed);
    EXPECT_LT(fd, 0);
    EXPECT_TRUE(changed);
    // A new file is made only where nothing has the name.
    EXPECT_LT(OpenRegular(c, TOpenAccess::Write, TOpenCreate::NewOnly), 0);
}

TEST(WindowsFiles, ALockHeldByOneDescriptorRefusesAnother)
{
    TempFolder temp;
    const std::string lock = temp.File("x.lock");
    const int first = OpenRegular(lock, TOpenAccess::ReadWrite, TOpenCreate::IfMissing);
    const int second = OpenRegular(lock, TOpenAccess::ReadWrite, TOpenCreate::IfMissing);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    EXPECT_TRUE(LockFile(first, TLockWait::DontWait));
    EXPECT_FALSE(LockFile(second, TLockWait::DontWait));
    CloseFile(first);  // the lock goes with the descriptor
    EXPECT_TRUE(LockFile(second, TLockWait::DontWait));
    CloseFile(second);
}

TEST(WindowsFiles, ALinkAtTheNameIsNeverFollowed)
{
    TempFolder temp;
    const std::string target = temp.File("target.txt"), link = temp.File("link.txt");
    ASSERT_TRUE(WriteText(target, "secret"));
    // Wine 8 answers CreateSymbolicLinkW with success and makes nothing.
    if (!::CreateSymbolicLinkW(Wide(link).c_str(), Wide(target).c_str(), 0x2 /* unprivileged create */) ||
        !PathExists(link))
        GTEST_SKIP() << "no symbolic link can be made here (Wine makes none)";
    EXPECT_FALSE(PathInfoOf(link).Regular);
    EXPECT_LT(OpenRegular(link, TOpenAccess::Write, TOpenCreate::IfMissing), 0);
    EXPECT_LT(OpenOwnFileForWriting(link, true), 0);
    EXPECT_FALSE(ReadWholeFile(link, 100, TLinkAtName::Refuse).Ok());
    EXPECT_FALSE(FileIdOf(link));
    EXPECT_EQ(ReadWholeFile(target, 100).Text, "secret");
}

TEST(WindowsPrograms, FoundBesideTheProgramOrOnPathButNeverABatchFile)
{
    const std::string self = ExecutablePath();
    ASSERT_FALSE(self.empty());
    EXPECT_TRUE(EndsWithExe(self));
    EXPECT_EQ(FindExecutable(self), self);
    const std::string name = ExtractFileName(self);
    EXPECT_EQ(FindExecutable(name.substr(0, name.size() - 4)), self);  // ".exe" added, beside the program
    const std::string cmd = FindExecutable("cmd");
    EXPECT_FALSE(cmd.empty());  // on PATH (system32)
    TempFolder temp;
    ASSERT_TRUE(WriteText(temp.File("run.bat"), "@echo off\r\n"));
    EXPECT_EQ(FindExecutable(temp.File("run.bat")), "");
    EXPECT_FALSE(IsExecutableFile(temp.File("run.bat")));
}

TEST(WindowsShell, AShellLinkStartsTheProgramInItsFolder)
{
    TempFolder temp;
    const std::string link = temp.File("Brimtale \xC5\xBC.lnk");
    const std::string target = ExecutablePath();
    ASSERT_TRUE(MakeShellLink(link, target, ExtractFileDir(target), "Brimtale", ""));
    ASSERT_TRUE(FileExists(link));
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* shell = nullptr;
    ASSERT_TRUE(SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                             reinterpret_cast<void**>(&shell))));
    IPersistFile* file = nullptr;
    ASSERT_TRUE(SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))));
    std::wstring wideLink = Wide(link);
    for (wchar_t& c : wideLink)
        if (c == L'/')
            c = L'\\';
    ASSERT_TRUE(SUCCEEDED(file->Load(wideLink.c_str(), STGM_READ)));
    wchar_t path[MAX_PATH] = {};
    wchar_t dir[MAX_PATH] = {};
    shell->GetPath(path, MAX_PATH, nullptr, 0);
    shell->GetWorkingDirectory(dir, MAX_PATH);
    file->Release();
    shell->Release();
    ::CoUninitialize();
    std::string gotPath = Narrow(path), gotDir = Narrow(dir);
    for (std::string* p : {&gotPath, &gotDir})
        for (char& c : *p)
            if (c == '\\')
                c = '/';
    EXPECT_EQ(LowerAscii(gotPath), LowerAscii(target));
    EXPECT_EQ(LowerAscii(gotDir), LowerAscii(ExtractFileDir(target)));
}

// The shortcut's folders are the shell's own: the paths the older CSIDL call
// gives for the Desktop and the Start Menu, which the user can move.
TEST(WindowsShell, TheDesktopAndTheStartMenuAreTheShellsFolders)
{
    const auto shellFolder = [](int csidl) {
        wchar_t path[MAX_PATH] = {};
        if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
            return std::string();
        std::string folder = Narrow(path);
        for (char& c : folder)
            if (c == '\\')
                c = '/';
        return LowerAscii(folder);
    };
    const std::string desktop = UserDesktopFolder();
    const std::string startMenu = UserStartMenuFolder();
    ASSERT_FALSE(desktop.empty());
    ASSERT_FALSE(startMenu.empty());
    EXPECT_EQ(LowerAscii(desktop), shellFolder(CSIDL_DESKTOPDIRECTORY));
    EXPECT_EQ(LowerAscii(startMenu), shellFolder(CSIDL_STARTMENU));
}

TEST(WindowsNames, ProposedNamesAreNamesWindowsTakes)
{
    EXPECT_EQ(SafeFileName("Film..."), "Film");
    EXPECT_EQ(SafeFileName("con.mp4"), "_con.mp4");
    EXPECT_EQ(SafeFileName("a:b|c?.mp4"), "a_b_c_.mp4");
    // Each really makes a file, and only that one.
    TempFolder temp;
    for (const std::string name : {"con.mp4", "Film. ", "LPT1", "a<b>.mp4", "nul .txt"}) {
        const std::string safe = SafeFileName(name);
        EXPECT_TRUE(WriteText(temp.File(safe), "x")) << safe;
    }
    EXPECT_EQ(FolderNames(temp.Path()).size(), 5u);
}

namespace {
// The child modes. "echo CODE ARGS...": prints "out" on standard output and
// "err" on standard error, how many bytes standard input gave, then each
// argument in brackets, and exits with CODE. "parent": starts itself as
// "sleeper", says the sleeper's process id, and waits. "sleeper": waits.
int RunChild(const std::vector<std::string>& args)
{
    const std::string mode = args.size() > 2 ? args[2] : "";
    if (mode == "echo") {
        std::fputs("out\n", stdout);
        std::fflush(stdout);
        std::fputs("err\n", stderr);
        std::fflush(stderr);
        char buffer[16];
        DWORD got = 0;
        DWORD total = 0;
        while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) && got > 0)
            total += got;
        std::printf("stdin %lu\n", static_cast<unsigned long>(total));
        for (std::size_t i = 4; i < args.size(); ++i)
            std::printf("[%s]\n", args[i].c_str());
        std::fflush(stdout);
        return args.size() > 3 ? std::stoi(args[3]) : 0;
    }
    if (mode == "parent") {
        std::wstring line = L"\"" + Wide(ExecutablePath()) + L"\" --child sleeper";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            return 2;
        std::printf("grandchild %lu\n", static_cast<unsigned long>(pi.dwProcessId));
        std::fflush(stdout);
        ::Sleep(60000);
        return 0;
    }
    if (mode == "sleeper") {
        ::Sleep(60000);
        return 0;
    }
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args = ProgramArguments(argc, argv);
    if (args.size() > 1 && args[1] == "--child")
        return RunChild(args);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
