#pragma once
// Runs a console program without a shell, with its standard output and standard
// error captured on one pipe as a list of lines, and returns its exit code.
//
// A line is completed by CR; an LF only marks that the next completed line
// starts a new entry, so a progress display rewritten in place with CR keeps a
// single entry.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// Called after every completed line with the child's process id and the line.
using TConsoleLineEvent = std::function<void(int pid, const std::string& line)>;

// "Could not find file %s" and the like; nothing was started when it is thrown.
class EConsoleError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The exit code reported for a program still running 5000 ms after its output ended.
constexpr std::uint32_t StillActiveExitCode = 259;

// The line-completion rules on their own: bytes in, entries out.
class TConsoleLineCollector {
public:
    static constexpr std::size_t LineMax = 1024;

    TConsoleLineCollector(std::vector<std::string>* lines, TConsoleLineEvent onLine, int pid = 0);
    void Feed(const char* data, std::size_t count);
    // The final completion after the output has ended (also for an empty buffer).
    void Finish();

private:
    void Complete();

    std::vector<std::string>* lines_;
    TConsoleLineEvent onLine_;
    int pid_;
    std::string buffer_;
    bool newLine_ = true;
};

// program: a path, or a bare name looked up on PATH (any executable file, a
// script with "#!" included). args are passed as they are, one argument each.
// A child ended by a signal reports 128 + the signal number.
std::uint32_t RunConsoleApp(const std::string& program, const std::vector<std::string>& args,
                            std::vector<std::string>* lines, const TConsoleLineEvent& onLine);

// The same with a parameter text, split into arguments by the command-line rules
// (blanks separate, double quotes group and are dropped, no escape character).
std::uint32_t RunConsoleApp(const std::string& program, const std::string& params,
                            std::vector<std::string>* lines, const TConsoleLineEvent& onLine);
