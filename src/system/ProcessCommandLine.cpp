// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/ProcessCommandLine.h"

std::string QuoteWindowsArgument(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\n\v\r\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(2 * backslashes + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out.push_back(c);
    }
    // Before the closing quote every backslash is doubled, so none escapes it.
    out.append(2 * backslashes, '\\');
    out.push_back('"');
    return out;
}

std::string WindowsCommandLine(const std::string& program, const std::vector<std::string>& args)
{
    if (program.find_first_of("\"\r\n") != std::string::npos)
        return {};
    std::string line = "\"" + program + "\"";
    for (const std::string& arg : args)
        line += " " + QuoteWindowsArgument(arg);
    return line;
}

std::vector<std::string> SplitWindowsArguments(const std::string& commandLine)
{
    std::size_t i = 0;
    const std::size_t n = commandLine.size();
    // The program's name: up to the first blank outside quotes, quotes dropped.
    bool quoted = false;
    for (; i < n; ++i) {
        const char c = commandLine[i];
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && (c == ' ' || c == '\t'))
            break;
    }
    std::vector<std::string> args;
    for (;;) {
        while (i < n && (commandLine[i] == ' ' || commandLine[i] == '\t'))
            ++i;
        if (i >= n)
            break;
        std::string arg;
        quoted = false;
        for (; i < n; ++i) {
            const char c = commandLine[i];
            if (c == '\\') {
                std::size_t count = 0;
                while (i < n && commandLine[i] == '\\') {
                    ++count;
                    ++i;
                }
                if (i < n && commandLine[i] == '"') {
                    arg.append(count / 2, '\\');
                    if (count % 2 == 1) {
                        arg.push_back('"');
                        continue;
                    }
                    --i;  // the quote is read again as a quote
                } else {
                    arg.append(count, '\\');
                    --i;
                }
                continue;
            }
            if (c == '"') {
                // Two quotes in a quoted part give one quote (and stay quoted).
                if (quoted && i + 1 < n && commandLine[i + 1] == '"') {
                    arg.push_back('"');
                    ++i;
                    continue;
                }
                quoted = !quoted;
                continue;
            }
            if (!quoted && (c == ' ' || c == '\t'))
                break;
            arg.push_back(c);
        }
        args.push_back(arg);
    }
    return args;
}
