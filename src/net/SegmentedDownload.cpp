// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/SegmentedDownload.h"

#include "net/HostSlots.h"
#include "net/SegmentState.h"
#include "base/ZQ_Strings.h"
#include "system/FileDescriptors.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

constexpr long ReceiveBufferBytes = 64 * 1024;
constexpr std::size_t WriteBatchBytes = 256 * 1024;
// A file that one connection would finish within this long stays on one.
constexpr double SplitWorthSeconds = 1.0;


// "bytes FROM-TO/TOTAL" of a Content-Range header.
struct ContentRange {
    std::int64_t from = 0;
    std::int64_t to = 0;
    std::int64_t total = 0;
};
std::optional<ContentRange> ParseContentRange(const std::string& header)
{
    const std::string v = LowerAscii(Trim(header));
    if (v.rfind("bytes ", 0) != 0)
        return std::nullopt;
    const std::string rest = Trim(v.substr(6));
    const std::size_t dash = rest.find('-');
    const std::size_t slash = rest.find('/');
    if (dash == std::string::npos || slash == std::string::npos || slash < dash)
        return std::nullopt;
    const auto from = SegmentNumber(rest.substr(0, dash));
    const auto to = SegmentNumber(rest.substr(dash + 1, slash - dash - 1));
    const auto total = SegmentNumber(rest.substr(slash + 1));
    if (!from || !to || !total || *from > *to || *to >= *total)
        return std::nullopt;
    return ContentRange{*from, *to, *total};
}

bool GlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    return true;
}

bool NotTrustedCode(CURLcode why)
{
    return why == CURLE_PEER_FAILED_VERIFICATION || why == CURLE_SSL_CACERT_BADFILE ||
           why == CURLE_SSL_CERTPROBLEM || why == CURLE_SSL_ISSUER_ERROR;
}

class Segmenter;

// One connection: one request for [pos, end) of the file.
struct Connection {
    Segmenter* owner = nullptr;
    CURL* easy = nullptr;
    int slot = -1;
    std::int64_t asked = 0;     // the first byte asked for
    std::int64_t askedEnd = 0;  // one past the last byte asked for (total for the first, open request)
    std::int64_t pos = 0;       // the next byte that comes
    std::int64_t written = 0;   // the bytes before it are in the file
    std::vector<char> buffer;   // what came after written, not in the file yet
    std::int64_t end = 0;       // one past the last byte this connection writes (shrinks when split)
    int fails = 0;              // tries in a row of this part that brought nothing
    bool checked = false;       // the answer's headers were looked at
    bool cut = false;           // ended here on purpose: its part is done
    bool refused = false;       // the answer doesn't fit: one connection from the start
    bool firstRequest = false;  // the open request that learns the size
    bool paused = false;        // held back by the speed limit
    std::map<std::string, std::string> headers;  // of the latest response, names lower case
};

struct PendingPart {
    std::int64_t from = 0;
    std::int64_t to = 0;
    int fails = 0;
};

class Segmenter {
public:
    explicit Segmenter(const TSegmentedRequest& r) : r_(r) {}
    ~Segmenter();
    TSegmentedResult Run();

    std::size_t Write(Connection& c, const char* data, std::size_t bytes);
    std::size_t Header(Connection& c, const char* data, std::size_t bytes);

private:
    bool OpenFile();
    // When the bytes received so far are due under the speed limit.
    Clock::time_point Due() const
    {
        return paceStart_ + std::chrono::microseconds(static_cast<std::int64_t>(
                                static_cast<double>(done_ - pacedFrom_) * 1e6 / static_cast<double>(r_.MaxBytesPerSecond)));
    }
    // Writes what the connection holds; false when the file can't take it.
    bool Flush(Connection& c);
    bool Start(std::int64_t from, std::int64_t to, int fails, bool first);
    void Finish(Connection& c, CURLcode result);
    // Whether the answer on c is a part of the same file; sets up the segments
    // on the first answer.
    enum class Verdict { Ok, Refused, Retry };
    Verdict Check(Connection& c);
    bool Plan(Connection& first, std::int64_t total);
    // Work for a connection that is free: a waiting part, else half of the
    // largest running one.
    bool NextWork(PendingPart& part);
    TSegmentState State() const;
    void SaveState();
    int Allowed() const;

    const TSegmentedRequest& r_;
    std::string url_;
    int fd_ = -1;
    CURLM* multi_ = nullptr;
    std::list<Connection> conns_;
    std::vector<PendingPart> pending_;
    TSegmentStateWriter state_;
    bool haveState_ = false;
    std::int64_t total_ = 0;  // 0 until known
    std::string etag_;
    std::string modified_;
    std::int64_t done_ = 0;
    std::int64_t unreported_ = 0;
    bool writeFailed_ = false;
    int writeError_ = 0;
    bool oneConnection_ = false;
    bool failed_ = false;
    bool notTrusted_ = false;
    bool plain_ = false;  // one connection from the start, no state
    bool splitOpen_ = false;  // more connections may take parts
    std::optional<Clock::time_point> firstByte_;
    Clock::time_point paceStart_ = Clock::now();
    std::int64_t pacedFrom_ = 0;
    int most_ = 0;
};

std::size_t OnWrite(char* data, std::size_t size, std::size_t n, void* self)
{
    auto* c = static_cast<Connection*>(self);
    return c->owner->Write(*c, data, size * n);
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t n, void* self)
{
    auto* c = static_cast<Connection*>(self);
    return c->owner->Header(*c, data, size * n);
}

Segmenter::~Segmenter()
{
    for (Connection& c : conns_) {
        if (c.easy) {
            curl_multi_remove_handle(multi_, c.easy);
            curl_easy_cleanup(c.easy);
        }
        if (r_.Slots)
            r_.Slots->Give(c.slot);
    }
    if (multi_)
        curl_multi_cleanup(multi_);
    CloseFile(fd_);
}

bool Segmenter::OpenFile()
{
    const TPathInfo info = PathInfoOf(r_.FileName);
    if (r_.FileName.empty() || (info.Exists && !info.Regular))
        return false;
    if (r_.OwnFile) {
        bool changed = false;
        fd_ = OpenSameFileForWriting(r_.FileName, *r_.OwnFile, changed);
    } else {
        fd_ = OpenOwnFileForWriting(r_.FileName, false);
    }
    return fd_ >= 0;
}

int Segmenter::Allowed() const
{
    return std::clamp(r_.Connections, 1, 64);
}

bool Segmenter::Start(std::int64_t from, std::int64_t to, int fails, bool first)
{
    int slot = -1;
    if (r_.Slots) {
        slot = r_.Slots->TryTake();
        if (slot < 0)
            return false;
    }
    CURL* e = curl_easy_init();
    if (!e) {
        if (r_.Slots)
            r_.Slots->Give(slot);
        return false;
    }
    Connection& c = conns_.emplace_back();
    c.owner = this;
    c.easy = e;
    c.slot = slot;
    c.asked = from;
    c.askedEnd = to;
    c.pos = from;
    c.written = from;
    c.end = to;
    c.fails = fails;
    c.firstRequest = first;
    curl_easy_setopt(e, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, std::max(1L, r_.ConnectTimeoutSeconds));
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    // A connection held back by the speed limit is no stalled one: it may
    // wait for the deliveries of all the others to be due.
    long stall = std::max(1L, r_.StallTimeoutSeconds);
    if (r_.MaxBytesPerSecond > 0)
        stall += static_cast<long>(std::min<std::int64_t>(
            2 * ReceiveBufferBytes * Allowed() / std::max<std::int64_t>(1, r_.MaxBytesPerSecond), 3600));
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, stall);
    curl_easy_setopt(e, CURLOPT_USERAGENT, r_.UserAgent.c_str());
    curl_easy_setopt(e, CURLOPT_PROXY, "");
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, ReceiveBufferBytes);
    const std::string range = std::to_string(from) + "-" + (first ? std::string() : std::to_string(to - 1));
    curl_easy_setopt(e, CURLOPT_RANGE, range.c_str());
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &OnWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &c);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &c);
    if (curl_multi_add_handle(multi_, e) != CURLM_OK) {
        curl_easy_cleanup(e);
        c.easy = nullptr;
        if (r_.Slots)
            r_.Slots->Give(slot);
        conns_.pop_back();
        return false;
    }
    most_ = std::max(most_, static_cast<int>(conns_.size()));
    return true;
}

std::size_t Segmenter::Header(Connection& c, const char* data, std::size_t bytes)
{
    const std::string line(data, bytes);
    if (line.rfind("HTTP/", 0) == 0) {
        c.headers.clear();
    } else {
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos && c.headers.size() < 200)
            c.headers[LowerAscii(Trim(line.substr(0, colon)))] = Trim(line.substr(colon + 1)).substr(0, 1024);
    }
    return bytes;
}

Segmenter::Verdict Segmenter::Check(Connection& c)
{
    long code = 0;
    curl_easy_getinfo(c.easy, CURLINFO_RESPONSE_CODE, &code);
    // A server that is busy may take the part later; any other answer but a
    // part of the file (200, 416, ...) means the file is fetched whole.
    if (code == 429 || code == 408 || (code >= 500 && code <= 599))
        return c.firstRequest ? Verdict::Refused : Verdict::Retry;
    if (code != 206)
        return Verdict::Refused;
    auto header = [&](const char* name) {
        auto it = c.headers.find(name);
        return it == c.headers.end() ? std::string() : it->second;
    };
    const auto range = ParseContentRange(header("content-range"));
    if (!range || range->from != c.asked)
        return Verdict::Refused;
    if (c.firstRequest && total_ == 0) {
        etag_ = SegmentValidator(header("etag"));
        modified_ = SegmentValidator(header("last-modified"));
        return Plan(c, range->total) ? Verdict::Ok : Verdict::Refused;
    }
    // Every later answer must be about the same file.
    return range->total == total_ && SegmentValidator(header("etag")) == etag_ &&
                   SegmentValidator(header("last-modified")) == modified_
               ? Verdict::Ok
               : Verdict::Refused;
}

bool Segmenter::Plan(Connection& first, std::int64_t total)
{
    total_ = total;
    const int n = total >= r_.MinSize ? Allowed() : 1;
    if (n == 1) {
        // A small file (or one connection asked for) is written as it comes,
        // from the start: its size on disk is what it has, as without segments.
        plain_ = true;
        first.askedEnd = total;
        first.end = total;
        if (r_.OnStart)
            r_.OnStart(0, total);
        return true;
    }
    // The first connection has it all; the others take their parts from it
    // once it shows that the file won't be here in a moment anyway.
    first.askedEnd = total;
    first.end = total;
    // The state goes first, then the file gets its final size: a file of full
    // size without a state beside it is never taken for a whole one.
    if (!state_.Create(SegmentStateFile(r_.FileName)))
        return false;
    haveState_ = true;
    SaveState();
    const int rc = ReserveFileSpace(fd_, total);
    if (rc != 0) {
        writeFailed_ = true;
        writeError_ = rc;
    }
    if (r_.OnStart)
        r_.OnStart(0, total);
    return true;
}

std::size_t Segmenter::Write(Connection& c, const char* data, std::size_t bytes)
{
    if (!c.checked) {
        c.checked = true;
        const Verdict verdict = Check(c);
        c.refused = verdict == Verdict::Refused;
        if (verdict != Verdict::Ok)
            return 0;
    }
    if (writeFailed_)
        return 0;
    if (r_.MaxBytesPerSecond > 0 && Clock::now() < Due()) {
        // Ahead of the speed limit: the connection stops reading until the
        // bytes so far are due (libcurl keeps this delivery).
        c.paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    const std::int64_t room = c.end - c.pos;
    const auto take = static_cast<std::size_t>(std::clamp<std::int64_t>(room, 0, static_cast<std::int64_t>(bytes)));
    // Bytes reach the disk in batches: each write moves a good amount.
    if (c.buffer.capacity() < WriteBatchBytes)
        c.buffer.reserve(WriteBatchBytes);
    c.buffer.insert(c.buffer.end(), data, data + take);
    c.pos += static_cast<std::int64_t>(take);
    if (!firstByte_)
        firstByte_ = Clock::now();
    if (c.buffer.size() >= WriteBatchBytes && !Flush(c))
        return 0;
    done_ += static_cast<std::int64_t>(take);
    unreported_ += static_cast<std::int64_t>(take);
    if (c.pos >= c.end && c.askedEnd > c.end) {
        // The rest went to another connection: this one is done.
        c.cut = true;
        return 0;
    }
    return take == bytes ? bytes : 0;
}

bool Segmenter::Flush(Connection& c)
{
    std::size_t written = 0;
    if (!writeFailed_) {
        if (WriteAllAt(fd_, c.buffer.data(), c.buffer.size(), c.written)) {
            written = c.buffer.size();
        } else {
            writeFailed_ = true;
            writeError_ = errno != 0 ? errno : ENOSPC;
        }
    }
    c.written += static_cast<std::int64_t>(written);
    c.buffer.clear();
    return !writeFailed_;
}

void Segmenter::Finish(Connection& c, CURLcode result)
{
    Flush(c);
    if (!c.checked) {
        // An answer without a body (a 416, an empty 200) is judged here; no
        // answer at all is a broken connection.
        long code = 0;
        curl_easy_getinfo(c.easy, CURLINFO_RESPONSE_CODE, &code);
        if (code != 0) {
            c.checked = true;
            c.refused = Check(c) == Verdict::Refused;
        }
    }
    if (c.firstRequest && total_ == 0) {
        // The first answer gave no size: the file goes over one connection,
        // which also tells what is wrong with the address.
        oneConnection_ = true;
    } else if (c.refused) {
        oneConnection_ = true;
    } else if (c.written < c.end) {
        if (NotTrustedCode(result))
            notTrusted_ = true;
        // The part is asked for again, from where it stopped; one that brings
        // nothing several times in a row ends the download (its state stays).
        const int fails = c.written > c.asked ? 0 : c.fails + 1;
        if (plain_ || fails >= r_.SegmentTries || notTrusted_)
            failed_ = true;
        if (!plain_)
            pending_.push_back({c.written, c.end, fails});
    }
    curl_multi_remove_handle(multi_, c.easy);
    curl_easy_cleanup(c.easy);
    c.easy = nullptr;
    if (r_.Slots)
        r_.Slots->Give(c.slot);
    c.slot = -1;
}

bool Segmenter::NextWork(PendingPart& part)
{
    if (!pending_.empty()) {
        part = pending_.front();
        pending_.erase(pending_.begin());
        return true;
    }
    if (plain_)
        return false;
    Connection* largest = nullptr;
    for (Connection& c : conns_)
        if (c.easy && (!largest || c.end - c.pos > largest->end - largest->pos))
            largest = &c;
    if (!largest || largest->end - largest->pos < 2 * std::max<std::int64_t>(r_.MinSplit, 1))
        return false;
    const std::int64_t mid = largest->pos + (largest->end - largest->pos) / 2;
    part = {mid, largest->end, 0};
    largest->end = mid;
    return true;
}

TSegmentState Segmenter::State() const
{
    TSegmentState s;
    s.Total = total_;
    s.ETag = etag_;
    s.LastModified = modified_;
    for (const Connection& c : conns_)
        if (c.written < c.end)
            s.Parts.push_back({c.written, c.end});
    for (const PendingPart& p : pending_)
        s.Parts.push_back({p.from, p.to});
    std::sort(s.Parts.begin(), s.Parts.end(), [](const auto& a, const auto& b) { return a.From < b.From; });
    return s;
}

void Segmenter::SaveState()
{
    // The state never counts a byte that is not in the file.
    for (Connection& c : conns_)
        Flush(c);
    if (haveState_ && !state_.Write(State()) && !writeFailed_) {
        writeFailed_ = true;
        writeError_ = errno;
    }
}

TSegmentedResult Segmenter::Run()
{
    TSegmentedResult result;
    GlobalInit();
    url_ = r_.Url;
    if (!OpenFile()) {
        result.Status = r_.OwnFile && FileIdOf(r_.FileName) != r_.OwnFile ? InetFileChanged : InetWriteFailed;
        result.WriteError = errno;
        return result;
    }
    multi_ = curl_multi_init();
    if (!multi_) {
        result.Status = InetNoSession;
        return result;
    }
    const std::string stateFile = SegmentStateFile(r_.FileName);
    if (PathExists(stateFile)) {
        // Continued: the parts still to fetch, of a file that has its full size.
        const auto copy = ReadNewestStateCopy(stateFile);
        const std::optional<std::int64_t> size = OpenFileSize(fd_);
        if (!copy || !size || *size != copy->State.Total ||
            copy->State.Parts.size() > MaxSegmentStateParts || !state_.Continue(stateFile, copy->Sequence)) {
            RemoveSegmentState(r_.FileName);
            result.End = TSegmentedEnd::OneConnection;
            return result;
        }
        haveState_ = true;
        total_ = copy->State.Total;
        etag_ = copy->State.ETag;
        modified_ = copy->State.LastModified;
        std::int64_t left = 0;
        for (const auto& p : copy->State.Parts) {
            pending_.push_back({p.From, p.To, 0});
            left += p.To - p.From;
        }
        done_ = total_ - left;
        pacedFrom_ = done_;
        splitOpen_ = true;
        if (r_.OnStart)
            r_.OnStart(done_, total_);
    } else if (!SetFileLength(fd_, 0)) {
        // A new download starts from an empty file.
        result.Status = InetWriteFailed;
        result.WriteError = errno;
        return result;
    }
    result.Total = total_;

    auto lastSave = Clock::now();
    auto lastReport = Clock::now();
    auto lastSlotTry = Clock::now();
    bool aborted = false;
    // A new download starts with one open request that learns the size.
    bool firstPending = total_ == 0;
    bool startBlocked = false;
    while (true) {
        if (NetworkStepEnded()) {
            aborted = true;
            break;
        }
        int running = 0;
        curl_multi_perform(multi_, &running);
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
            if (msg->msg != CURLMSG_DONE)
                continue;
            for (Connection& c : conns_)
                if (c.easy == msg->easy_handle) {
                    Finish(c, msg->data.result);
                    break;
                }
        }
        conns_.remove_if([](const Connection& c) { return c.easy == nullptr; });
        if (writeFailed_ || oneConnection_ || failed_)
            break;
        const auto now = Clock::now();
        if (unreported_ > 0 || now - lastReport >= std::chrono::milliseconds(100)) {
            const auto chunk = static_cast<std::int32_t>(std::min<std::int64_t>(unreported_, INT32_MAX));
            unreported_ = 0;
            lastReport = now;
            if (r_.OnProgress && !r_.OnProgress(chunk, done_)) {
                aborted = true;
                break;
            }
        }
        if (total_ > 0 && conns_.empty() && pending_.empty())
            break;
        if (!splitOpen_ && !plain_ && total_ > 0 && firstByte_ &&
            now - *firstByte_ >= std::chrono::milliseconds(r_.SplitAfterMs)) {
            // More connections only for a file that one would keep waiting:
            // a fast one is done before the others would have answered.
            const double seconds = std::chrono::duration<double>(now - *firstByte_).count();
            const double rate = seconds > 0 ? static_cast<double>(done_) / seconds : 0;
            splitOpen_ = r_.SplitAfterMs <= 0 || rate <= 0 ||
                         static_cast<double>(total_ - done_) / rate > SplitWorthSeconds;
        }
        // Free connections take work while the host allows more; a job whose
        // slots are held by others tries again now and then.
        const bool mayStart = !startBlocked || now - lastSlotTry >= std::chrono::milliseconds(250);
        if (firstPending && mayStart) {
            startBlocked = !Start(0, 0, 0, true);
            firstPending = startBlocked;
            lastSlotTry = now;
        } else if (total_ > 0 && mayStart && (splitOpen_ || !pending_.empty())) {
            startBlocked = false;
            while (static_cast<int>(conns_.size()) < Allowed()) {
                PendingPart part;
                if (!NextWork(part))
                    break;
                if (!Start(part.from, part.to, part.fails, false)) {
                    // No slot (or no handle): the part waits, or goes back to
                    // the connection it was split from (its request covers it).
                    bool merged = false;
                    for (Connection& c : conns_)
                        if (c.easy && c.end == part.from && c.askedEnd >= part.to) {
                            c.end = part.to;
                            merged = true;
                            break;
                        }
                    if (!merged)
                        pending_.insert(pending_.begin(), part);
                    startBlocked = true;
                    lastSlotTry = now;
                    break;
                }
            }
        }
        if (now - lastSave >= std::chrono::seconds(1)) {
            SaveState();
            lastSave = now;
        }
        int waitMs = 100;
        if (r_.MaxBytesPerSecond > 0) {
            const auto due = Due();
            if (now >= due) {
                for (Connection& c : conns_)
                    if (c.paused && c.easy) {
                        c.paused = false;
                        curl_easy_pause(c.easy, CURLPAUSE_CONT);
                    }
            } else {
                waitMs = static_cast<int>(std::clamp<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count() + 1, 1, 100));
            }
        }
        curl_multi_poll(multi_, nullptr, 0, waitMs, nullptr);
    }

    result.MostConnections = most_;
    result.Total = total_;
    // What came in the last round is counted, whatever ended the run.
    if (unreported_ > 0 && r_.OnProgress && !oneConnection_)
        r_.OnProgress(static_cast<std::int32_t>(std::min<std::int64_t>(unreported_, INT32_MAX)), done_);
    unreported_ = 0;
    if (oneConnection_) {
        // Nothing here is relied on: the file is fetched whole again.
        for (Connection& c : conns_)
            if (c.easy) {
                curl_multi_remove_handle(multi_, c.easy);
                curl_easy_cleanup(c.easy);
                c.easy = nullptr;
            }
        RemoveSegmentState(r_.FileName);
        result.End = TSegmentedEnd::OneConnection;
        return result;
    }
    // Whatever stopped the run, the parts that are left are kept.
    bool allWritten = true;
    for (Connection& c : conns_) {
        if (c.easy) {
            curl_multi_remove_handle(multi_, c.easy);
            curl_easy_cleanup(c.easy);
            c.easy = nullptr;
        }
        Flush(c);
        allWritten = allWritten && c.written >= c.end;
    }
    if (total_ > 0 && !failed_ && done_ >= total_ && allWritten && pending_.empty() && !writeFailed_) {
        conns_.clear();
        const std::optional<std::int64_t> size = OpenFileSize(fd_);
        const bool whole = size && *size == total_;
        if (whole) {
            RemoveSegmentState(r_.FileName);
            result.End = TSegmentedEnd::Done;
            if (r_.OnProgress)
                r_.OnProgress(0, done_);
            return result;
        }
        writeFailed_ = true;
        writeError_ = errno;
    }
    SaveState();
    if (writeFailed_) {
        result.Status = InetWriteFailed;
        result.WriteError = writeError_;
    } else if (notTrusted_) {
        result.Status = InetNotTrusted;
    } else if (aborted) {
        result.Status = InetAborted;
    } else if (total_ == 0) {
        result.Status = InetNotOpened;
    }
    result.End = aborted ? TSegmentedEnd::Aborted : TSegmentedEnd::Failed;
    return result;
}

} // namespace

TSegmentedResult DownloadSegmented(const TSegmentedRequest& request)
{
    Segmenter segmenter(request);
    return segmenter.Run();
}

bool UsesConnections(const std::string& fileName, bool continuing)
{
    return !continuing || HasSegmentState(fileName);
}

bool DownloadWithConnections(TInet& inet, const std::string& fileName, int connections,
                             const std::function<void(std::int64_t done, std::int64_t total)>& onStart,
                             std::int64_t minSize, int splitAfterMs)
{
    TSegmentedRequest request;
    request.Url = inet.Url;
    request.FileName = fileName;
    request.OwnFile = inet.OwnFile;
    request.Connections = std::clamp(connections, 1, 64);
    request.MinSize = minSize;
    request.SplitAfterMs = splitAfterMs;
    request.MaxBytesPerSecond = inet.MaxBytesPerSecond;
    request.UserAgent = inet.UserAgent;
    request.ConnectTimeoutSeconds = inet.ConnectTimeoutSeconds;
    request.StallTimeoutSeconds = inet.StallTimeoutSeconds;
    request.OnStart = onStart;
    request.OnProgress = inet.OnProgress;
    const std::string hostKey = HostKeyOf(inet.Url);
    std::unique_ptr<THostSlots> slots;
    if (!hostKey.empty()) {
        slots = std::make_unique<THostSlots>(HostSlotFolder(), hostKey, request.Connections);
        request.Slots = slots.get();
    }
    const TSegmentedResult result = DownloadSegmented(request);
    inet.WriteError = result.WriteError;
    switch (result.End) {
    case TSegmentedEnd::Done:
        inet.Status = InetOk;
        return true;
    case TSegmentedEnd::OneConnection:
        break;
    case TSegmentedEnd::Failed:
    case TSegmentedEnd::Aborted:
        inet.Status = result.Status;
        return false;
    }
    // Over one connection, from the start (the file is emptied in place).
    slots.reset();
    if (NetworkStepEnded() || (inet.OnProgress && !inet.OnProgress(0, 0))) {
        inet.Status = InetAborted;
        return false;
    }
    if (onStart)
        onStart(0, 0);
    return inet.DownloadToFile(fileName, 0, 0, false);
}
