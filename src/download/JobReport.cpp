// SPDX-License-Identifier: GPL-3.0-or-later
#include "download/JobReport.h"

#include "base/ZQ_Strings.h"

#include <array>

namespace {

constexpr std::array<const char*, 9> StateNames = {"queued", "downloading", "merging",     "converting", "done",
                                                   "failed", "aborted",     "interrupted", "paused"};
const std::string_view ReportWord = "BMR1";
const std::string_view CommandWord = "BMC1";

std::vector<std::string_view> SplitBlanks(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (start <= line.size()) {
        const std::size_t blank = line.find(' ', start);
        const std::size_t end = blank == std::string_view::npos ? line.size() : blank;
        fields.push_back(line.substr(start, end - start));
        if (blank == std::string_view::npos)
            break;
        start = blank + 1;
    }
    return fields;
}

} // namespace

const char* JobStateName(TJobState state)
{
    return StateNames[static_cast<std::size_t>(state)];
}

std::optional<TJobState> JobStateFromName(std::string_view name)
{
    for (std::size_t i = 0; i < StateNames.size(); ++i)
        if (name == StateNames[i])
            return static_cast<TJobState>(i);
    return std::nullopt;
}

bool JobStateEnded(TJobState state)
{
    return state == TJobState::Done || state == TJobState::Failed || state == TJobState::Aborted ||
           state == TJobState::Paused;
}

bool JobStateWorking(TJobState state)
{
    return state == TJobState::Downloading || state == TJobState::Merging || state == TJobState::Converting;
}

std::string EscapeField(std::string_view text)
{
    static const char* const Hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || c == '%' || c == '\\') {
            out.push_back('%');
            out.push_back(Hex[u >> 4]);
            out.push_back(Hex[u & 0xF]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::optional<std::string> UnescapeField(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto u = static_cast<unsigned char>(text[i]);
        if (u <= 0x20 || u >= 0x7F || text[i] == '\\')
            return std::nullopt;
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = HexDigitValue(text[i + 1]);
        const int low = HexDigitValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

std::string FormatJobReport(const TJobReport& r)
{
    auto number = [](std::int64_t v) { return std::to_string(v < 0 ? 0 : v); };
    std::string line = std::string(ReportWord) + " " + std::to_string(r.Id) + " " + JobStateName(r.State) + " " +
                       number(r.Done) + " " + number(r.Total) + " " + number(r.Speed) + " " +
                       (r.SecondsLeft < 0 ? std::string("-") : number(r.SecondsLeft)) + " " + number(r.Pid) + " " +
                       EscapeField(r.File) + "\n";
    if (line.size() > ReportLineMax)
        return {};
    return line;
}

std::optional<TJobReport> ParseJobReport(std::string_view line)
{
    if (line.size() >= ReportLineMax)
        return std::nullopt;
    const std::vector<std::string_view> f = SplitBlanks(line);
    if (f.size() != 9 || f[0] != ReportWord)
        return std::nullopt;
    TJobReport r;
    const auto id = DecimalDigits(f[1]);
    const auto state = JobStateFromName(f[2]);
    const auto done = DecimalDigits(f[3]);
    const auto total = DecimalDigits(f[4]);
    const auto speed = DecimalDigits(f[5]);
    const auto left = f[6] == "-" ? std::optional<std::int64_t>(-1) : DecimalDigits(f[6]);
    const auto pid = DecimalDigits(f[7]);
    const auto file = UnescapeField(f[8]);
    if (!id || *id == 0 || !state || !done || !total || !speed || !left || !pid || !file)
        return std::nullopt;
    r.Id = static_cast<std::uint64_t>(*id);
    r.State = *state;
    r.Done = *done;
    r.Total = *total;
    r.Speed = *speed;
    r.SecondsLeft = *left;
    r.Pid = *pid;
    r.File = *file;
    return r;
}

std::string FormatJobCommand(std::uint64_t id, TJobCommand command)
{
    return std::string(CommandWord) + " " + std::to_string(id) + " " +
           (command == TJobCommand::Show ? "show" : "abort") + "\n";
}

std::optional<TJobCommand> ParseJobCommand(std::string_view line, std::uint64_t id)
{
    const std::vector<std::string_view> f = SplitBlanks(line);
    if (f.size() != 3 || f[0] != CommandWord)
        return std::nullopt;
    const auto number = DecimalDigits(f[1]);
    if (!number || static_cast<std::uint64_t>(*number) != id)
        return std::nullopt;
    if (f[2] == "show")
        return TJobCommand::Show;
    if (f[2] == "abort")
        return TJobCommand::Abort;
    return std::nullopt;
}

std::vector<std::string> TLineReader::Add(const char* data, std::size_t size)
{
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < size && !bad_; ++i) {
        if (data[i] == '\n') {
            lines.push_back(std::move(partial_));
            partial_.clear();
        } else if (partial_.size() + 1 >= ReportLineMax) {
            bad_ = true;
            partial_.clear();
        } else {
            partial_.push_back(data[i]);
        }
    }
    return lines;
}

bool TReportPacer::Allow(TJobState state, std::int64_t nowMs)
{
    if (last_ && *last_ == state && nowMs - lastMs_ < intervalMs_ && nowMs >= lastMs_)
        return false;
    last_ = state;
    lastMs_ = nowMs;
    return true;
}
