// SPDX-License-Identifier: GPL-3.0-or-later
// The state file beside a file fetched over several connections.
#include "net/SegmentState.h"

#include "system/FileDescriptors.h"

#include "base/ZQ_Strings.h"
#include "system/ZQ_FileSystem.h"

#include <cerrno>
#include <cstring>

namespace {

// Each copy of the state has a slot of its own in the file.
constexpr std::size_t StateSlotBytes = 8192;
constexpr std::size_t MaxValidatorBytes = 256;
constexpr const char* StateMagic = "brimtale-segments 1";

std::uint64_t Fnv(const std::string& text)
{
    std::uint64_t h = 1469598103934665603ULL;
    for (const unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    return h;
}

std::string Hex(const std::string& bytes)
{
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::optional<std::string> Unhex(const std::string& text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        auto value = [](char c) -> int {
            if (c >= '0' && c <= '9')
                return c - '0';
            if (c >= 'a' && c <= 'f')
                return c - 'a' + 10;
            return -1;
        };
        const int hi = value(text[i]);
        const int lo = value(text[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

// A decimal number of at most 18 digits, nothing else.
} // namespace

std::optional<std::int64_t> SegmentNumber(const std::string& text)
{
    return DecimalDigits(text);
}

std::string SegmentValidator(const std::string& value)
{
    return value.substr(0, MaxValidatorBytes);
}

namespace {

std::string EncodeCopy(const TSegmentState& state, std::uint64_t sequence)
{
    std::string body = std::string(StateMagic) + "\nseq " + std::to_string(sequence) + "\ntotal " +
                       std::to_string(state.Total) + "\netag " + Hex(SegmentValidator(state.ETag)) + "\nmodified " +
                       Hex(SegmentValidator(state.LastModified)) + "\n";
    for (std::size_t i = 0; i < state.Parts.size() && i < MaxSegmentStateParts; ++i)
        body += "part " + std::to_string(state.Parts[i].From) + " " + std::to_string(state.Parts[i].To) + "\n";
    char sum[40];
    std::snprintf(sum, sizeof sum, "sum %016llx\n", static_cast<unsigned long long>(Fnv(body)));
    body += sum;
    body.resize(StateSlotBytes, '\0');
    return body;
}

std::optional<TSegmentStateCopy> DecodeCopy(const std::string& slot)
{
    const std::string text = slot.substr(0, slot.find('\0'));
    const std::size_t sumAt = text.rfind("sum ");
    if (sumAt == std::string::npos || text.size() != sumAt + 4 + 16 + 1 || text.back() != '\n')
        return std::nullopt;
    const std::string body = text.substr(0, sumAt);
    char expect[20];
    std::snprintf(expect, sizeof expect, "%016llx", static_cast<unsigned long long>(Fnv(body)));
    if (text.compare(sumAt + 4, 16, expect) != 0)
        return std::nullopt;
    TSegmentStateCopy copy;
    std::size_t at = 0;
    bool magic = false;
    bool total = false;
    bool seq = false;
    while (at < body.size()) {
        const std::size_t end = body.find('\n', at);
        if (end == std::string::npos)
            return std::nullopt;
        const std::string line = body.substr(at, end - at);
        at = end + 1;
        if (!magic) {
            if (line != StateMagic)
                return std::nullopt;
            magic = true;
            continue;
        }
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (key == "seq") {
            const auto n = SegmentNumber(value);
            if (!n)
                return std::nullopt;
            copy.Sequence = static_cast<std::uint64_t>(*n);
            seq = true;
        } else if (key == "total") {
            const auto n = SegmentNumber(value);
            if (!n || *n <= 0)
                return std::nullopt;
            copy.State.Total = *n;
            total = true;
        } else if (key == "etag" || key == "modified") {
            const auto v = Unhex(value);
            if (!v || v->size() > MaxValidatorBytes)
                return std::nullopt;
            (key == "etag" ? copy.State.ETag : copy.State.LastModified) = *v;
        } else if (key == "part") {
            const std::size_t gap = value.find(' ');
            if (gap == std::string::npos)
                return std::nullopt;
            const auto from = SegmentNumber(value.substr(0, gap));
            const auto to = SegmentNumber(value.substr(gap + 1));
            if (!from || !to || *from >= *to || copy.State.Parts.size() >= MaxSegmentStateParts)
                return std::nullopt;
            copy.State.Parts.push_back({*from, *to});
        } else {
            return std::nullopt;
        }
    }
    if (!magic || !total || !seq)
        return std::nullopt;
    for (const auto& p : copy.State.Parts)
        if (p.To > copy.State.Total)
            return std::nullopt;
    return copy;
}

} // namespace

TSegmentStateWriter::~TSegmentStateWriter()
{
    CloseFile(fd_);
}

bool TSegmentStateWriter::Create(const std::string& path)
{
    if (PathExists(path)) {
        if (!ReadSegmentState(path.substr(0, path.size() - std::strlen(".parts"))))
            return false;
        RemoveFile(path);
    }
    fd_ = OpenRegular(path, TOpenAccess::ReadWrite, TOpenCreate::NewOnly, 0600);
    return fd_ >= 0;
}

bool TSegmentStateWriter::Continue(const std::string& path, std::uint64_t sequence)
{
    fd_ = OpenRegular(path, TOpenAccess::ReadWrite, TOpenCreate::Never);
    sequence_ = sequence;
    return fd_ >= 0;
}

bool TSegmentStateWriter::Write(const TSegmentState& state)
{
    if (fd_ < 0)
        return false;
    ++sequence_;
    const std::string copy = EncodeCopy(state, sequence_);
    const auto at = static_cast<std::int64_t>((sequence_ % 2) * StateSlotBytes);
    return WriteAllAt(fd_, copy.data(), copy.size(), at);
}

std::optional<TSegmentStateCopy> ReadNewestStateCopy(const std::string& stateFile)
{
    const int fd = OpenRegular(stateFile, TOpenAccess::Read, TOpenCreate::Never);
    if (fd < 0)
        return std::nullopt;
    std::optional<TSegmentStateCopy> best;
    const std::optional<std::int64_t> size = OpenFileSize(fd);
    if (size && *size <= static_cast<std::int64_t>(2 * StateSlotBytes)) {
        for (int slot = 0; slot < 2; ++slot) {
            std::string bytes(StateSlotBytes, '\0');
            const long long n = ReadAt(fd, bytes.data(), bytes.size(), static_cast<std::int64_t>(slot) * StateSlotBytes);
            if (n <= 0)
                continue;
            bytes.resize(static_cast<std::size_t>(n));
            auto copy = DecodeCopy(bytes);
            if (copy && (!best || copy->Sequence > best->Sequence))
                best = std::move(copy);
        }
    }
    CloseFile(fd);
    return best;
}

std::string SegmentStateFile(const std::string& fileName)
{
    return fileName + ".parts";
}

bool HasSegmentState(const std::string& fileName)
{
    return PathInfoOf(SegmentStateFile(fileName)).Regular;
}

void RemoveSegmentState(const std::string& fileName)
{
    const std::string path = SegmentStateFile(fileName);
    if (PathInfoOf(path).Regular)
        RemoveName(path);
}

std::string EncodeSegmentState(const TSegmentState& state)
{
    return EncodeCopy(state, 1);
}

std::optional<TSegmentState> DecodeSegmentState(const std::string& bytes)
{
    auto copy = DecodeCopy(bytes.substr(0, StateSlotBytes));
    if (!copy)
        return std::nullopt;
    return copy->State;
}

std::optional<TSegmentState> ReadSegmentState(const std::string& fileName)
{
    auto copy = ReadNewestStateCopy(SegmentStateFile(fileName));
    if (!copy)
        return std::nullopt;
    return copy->State;
}
