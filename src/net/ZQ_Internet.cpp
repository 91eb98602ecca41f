// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/ZQ_Internet.h"

#include "base/MemoryStream.h"
#include "system/FileDescriptors.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace inet_detail {

using Clock = std::chrono::steady_clock;

// The limits of the current thread's network step (TNetworkStepScope).
thread_local Clock::time_point stepDeadline = Clock::time_point::max();
thread_local const std::atomic<bool>* stepCancel = nullptr;

bool StepEnded()
{
    return (stepCancel && stepCancel->load()) || Clock::now() >= stepDeadline;
}

constexpr long ReceiveBufferBytes = 64 * 1024;
// What a transfer holds of a body that has not been read yet, at most (plus one
// delivery of libcurl's): large enough that libcurl is paused seldom.
constexpr std::size_t PendingLimit = 1024 * 1024;

void GlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// What one request looks like.
struct RequestShape {
    std::string url;
    std::string userAgent;
    std::vector<std::string> headers;  // complete header lines, no line ends
    bool systemProxy = false;          // honour the proxy variables; otherwise connect directly
    long connectTimeoutSeconds = 15;
    long stallTimeoutSeconds = 30;
    std::int64_t rangeFrom = 0;        // > 0: ask for the body from that byte on
    std::int64_t maxBytesPerSecond = 0;  // > 0: received no faster than this
};

// One HTTP request over libcurl's multi interface, read by pulling. Send returns
// once the final response's headers are in; Read then hands out the body. The
// write callback keeps up to PendingLimit bytes of the body and pauses the
// transfer when more would not fit, so libcurl stops reading the socket: what is
// held is bounded by that limit plus libcurl's receive buffer.
class PullTransfer {
public:
    PullTransfer() = default;
    ~PullTransfer() { Release(); }
    PullTransfer(const PullTransfer&) = delete;
    PullTransfer& operator=(const PullTransfer&) = delete;

    // The "session": libcurl's handles. False when they can't be made.
    bool Create();
    // Sends the request and waits for the final response's headers. False when no
    // response came (refused, unresolvable, garbage, timed out, bad redirect).
    bool Send(const RequestShape& shape);
    // Up to count bytes; fewer only at the end of the body. False when the body
    // can't be read further (got is 0 then); true with got 0 at its normal end.
    bool Read(char* out, std::size_t count, std::size_t& got);

    // The announced length of the body, or -1 when the headers don't give one.
    std::int64_t ContentLength() const;
    // The value of a header of the final response (name in lower case), or empty.
    std::string Header(const std::string& lowerName) const;
    std::int64_t RangeFrom() const { return rangeFrom_; }
    bool BodyTouched() const { return bodyTouched_; }
    // How the transfer ended (CURLE_OK while it runs).
    CURLcode Result() const { return result_; }
    // The final response's HTTP status, 0 when none came.
    int StatusCode() const;

private:
    static std::size_t OnWrite(char* data, std::size_t size, std::size_t n, void* self);
    static std::size_t OnHeader(char* data, std::size_t size, std::size_t n, void* self);
    // One round of the multi handle: lets libcurl work, then waits (bounded) for
    // the socket. Returns after anything arrived, the transfer ended or time ran out.
    void Pump(Clock::time_point deadline);
    // Pumps until the final headers are in, the transfer ended or time ran out.
    void WaitForHeaders(long connectTimeoutSeconds);
    void Release();

    CURL* easy_ = nullptr;
    CURLM* multi_ = nullptr;
    curl_slist* headerList_ = nullptr;
    bool attached_ = false;

    std::vector<char> pending_;
    std::size_t pendingPos_ = 0;
    bool paused_ = false;
    bool activity_ = false;
    bool headersDone_ = false;
    bool finished_ = false;
    bool bodyTouched_ = false;
    CURLcode result_ = CURLE_OK;
    char errorText_[CURL_ERROR_SIZE] = {};
    long stallSeconds_ = 30;
    std::int64_t rangeFrom_ = 0;

    bool locationSeen_ = false;
    std::map<std::string, std::string> blockHeaders_;
    std::map<std::string, std::string> finalHeaders_;
};

bool PullTransfer::Create()
{
    GlobalInit();
    easy_ = curl_easy_init();
    multi_ = curl_multi_init();
    if (!easy_ || !multi_) {
        Release();
        return false;
    }
    return true;
}

void PullTransfer::Release()
{
    if (multi_ && easy_ && attached_)
        curl_multi_remove_handle(multi_, easy_);
    attached_ = false;
    if (easy_)
        curl_easy_cleanup(easy_);
    easy_ = nullptr;
    if (multi_)
        curl_multi_cleanup(multi_);
    multi_ = nullptr;
    if (headerList_)
        curl_slist_free_all(headerList_);
    headerList_ = nullptr;
}

bool PullTransfer::Send(const RequestShape& shape)
{
    if (!easy_ || !multi_)
        return false;
    stallSeconds_ = std::max(1L, shape.stallTimeoutSeconds);
    rangeFrom_ = shape.rangeFrom;

    for (const auto& h : shape.headers)
        headerList_ = curl_slist_append(headerList_, h.c_str());

    CURL* e = easy_;
    curl_easy_setopt(e, CURLOPT_URL, shape.url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 20L);
    // HTTP/1.1 only: an HTTP/2 stream keeps receiving into its window while paused.
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, std::max(1L, shape.connectTimeoutSeconds));
    curl_easy_setopt(e, CURLOPT_USERAGENT, shape.userAgent.c_str());
    if (headerList_)
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, headerList_);
    if (!shape.systemProxy)
        curl_easy_setopt(e, CURLOPT_PROXY, "");
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (shape.rangeFrom > 0)
        curl_easy_setopt(e, CURLOPT_RANGE, (std::to_string(shape.rangeFrom) + "-").c_str());
    // Fewer, larger socket reads; the pause below still bounds what is held to
    // this buffer plus one delivery.
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, ReceiveBufferBytes);
    if (shape.maxBytesPerSecond > 0)
        curl_easy_setopt(e, CURLOPT_MAX_RECV_SPEED_LARGE, static_cast<curl_off_t>(shape.maxBytesPerSecond));
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &PullTransfer::OnWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &PullTransfer::OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText_);
    errorText_[0] = '\0';

    if (curl_multi_add_handle(multi_, e) != CURLM_OK)
        return false;
    attached_ = true;
    WaitForHeaders(shape.connectTimeoutSeconds);
    if (!headersDone_ && result_ == CURLE_WEIRD_SERVER_REPLY && std::strstr(errorText_, "Content-Length")) {
        // libcurl refuses a response whose Content-Length it can't read. Such a
        // body can only end with the connection, so the request is sent once
        // more on a connection of its own, with the length left unread (the
        // announced length is then unknown, 0).
        curl_multi_remove_handle(multi_, e);
        attached_ = false;
        pending_.clear();
        pendingPos_ = 0;
        paused_ = false;
        finished_ = false;
        result_ = CURLE_OK;
        locationSeen_ = false;
        blockHeaders_.clear();
        finalHeaders_.clear();
        curl_easy_setopt(e, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
        curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
        if (curl_multi_add_handle(multi_, e) != CURLM_OK)
            return false;
        attached_ = true;
        WaitForHeaders(shape.connectTimeoutSeconds);
    }
    return headersDone_ || result_ == CURLE_OK;
}

void PullTransfer::WaitForHeaders(long connectTimeoutSeconds)
{
    // Connecting has its own limit; after that, silence longer than the stall
    // limit ends the wait.
    auto deadline = Clock::now() + std::chrono::seconds(std::max(1L, connectTimeoutSeconds) + stallSeconds_);
    while (!headersDone_ && !finished_) {
        activity_ = false;
        Pump(deadline);
        if (activity_)
            deadline = std::max(deadline, Clock::now() + std::chrono::seconds(stallSeconds_));
    }
}

void PullTransfer::Pump(Clock::time_point deadline)
{
    int running = 0;
    curl_multi_perform(multi_, &running);
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy_) {
            finished_ = true;
            result_ = msg->data.result;
        }
    }
    if (!finished_ && StepEnded()) {
        // The step's overall limit holds even while bytes trickle in.
        finished_ = true;
        result_ = CURLE_OPERATION_TIMEDOUT;
        return;
    }
    if (finished_ || activity_)
        return;
    const auto now = Clock::now();
    deadline = std::min(deadline, stepDeadline);
    if (now >= deadline) {
        finished_ = true;
        result_ = CURLE_OPERATION_TIMEDOUT;
        return;
    }
    // Short waits, so that a cancelled step ends within a tenth of a second.
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
    curl_multi_poll(multi_, nullptr, 0, static_cast<int>(std::min<long long>(wait, 100)), nullptr);
}

bool PullTransfer::Read(char* out, std::size_t count, std::size_t& got)
{
    got = 0;
    if (!easy_ || !multi_)
        return false;
    bodyTouched_ = true;
    auto deadline = Clock::now() + std::chrono::seconds(stallSeconds_);
    while (got < count) {
        if (pendingPos_ < pending_.size()) {
            const std::size_t n = std::min(count - got, pending_.size() - pendingPos_);
            std::memcpy(out + got, pending_.data() + pendingPos_, n);
            pendingPos_ += n;
            got += n;
            continue;
        }
        if (finished_)
            break;
        activity_ = false;
        if (paused_) {
            // Everything handed over is taken: let libcurl go on (it may hand
            // over what it held back right here).
            paused_ = false;
            curl_easy_pause(easy_, CURLPAUSE_CONT);
            if (pendingPos_ < pending_.size())
                continue;
        }
        Pump(deadline);
        if (activity_)
            deadline = Clock::now() + std::chrono::seconds(stallSeconds_);
    }
    if (got > 0)
        return true;
    return finished_ && result_ == CURLE_OK;
}

std::size_t PullTransfer::OnWrite(char* data, std::size_t size, std::size_t n, void* self)
{
    auto* t = static_cast<PullTransfer*>(self);
    const std::size_t bytes = size * n;
    const std::size_t held = t->pending_.size() - t->pendingPos_;
    if (held > 0 && held + bytes > PendingLimit) {
        // Full: libcurl keeps this delivery and stops reading the socket until
        // what is held has been taken.
        t->paused_ = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (held == 0) {
        t->pending_.clear();
        t->pendingPos_ = 0;
    } else if (t->pendingPos_ > 0 && t->pending_.size() + bytes > PendingLimit) {
        t->pending_.erase(t->pending_.begin(), t->pending_.begin() + static_cast<std::ptrdiff_t>(t->pendingPos_));
        t->pendingPos_ = 0;
    }
    t->pending_.insert(t->pending_.end(), data, data + bytes);
    t->headersDone_ = true;  // body bytes come only after the final headers
    t->activity_ = true;
    return bytes;
}

std::size_t PullTransfer::OnHeader(char* data, std::size_t size, std::size_t n, void* self)
{
    auto* t = static_cast<PullTransfer*>(self);
    const std::size_t bytes = size * n;
    t->activity_ = true;
    if (t->headersDone_)
        return bytes;  // trailers of a chunked body
    const std::string line(data, bytes);
    if (line.rfind("HTTP/", 0) == 0) {
        t->blockHeaders_.clear();
        t->locationSeen_ = false;
    } else if (line == "\r\n" || line == "\n") {
        // End of one response's headers: the final one unless libcurl goes on to
        // an interim response or a redirect.
        long code = 0;
        curl_easy_getinfo(t->easy_, CURLINFO_RESPONSE_CODE, &code);
        const bool interim = code >= 100 && code < 200;
        const bool redirect = code >= 300 && code < 400 && t->locationSeen_;
        if (!interim && !redirect) {
            t->headersDone_ = true;
            t->finalHeaders_ = t->blockHeaders_;
        }
    } else {
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos) {
            const std::string name = LowerAscii(Trim(line.substr(0, colon)));
            t->blockHeaders_[name] = Trim(line.substr(colon + 1));
            if (name == "location")
                t->locationSeen_ = true;
        }
    }
    return bytes;
}

std::int64_t PullTransfer::ContentLength() const
{
    const std::string v = Header("content-length");
    if (v.empty() || v.find_first_not_of("0123456789") != std::string::npos || v.size() > 18)
        return -1;
    return static_cast<std::int64_t>(std::strtoll(v.c_str(), nullptr, 10));
}

int PullTransfer::StatusCode() const
{
    long code = 0;
    if (!easy_ || curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK)
        return 0;
    return code >= 100 && code <= 999 ? static_cast<int>(code) : 0;
}

std::string PullTransfer::Header(const std::string& lowerName) const
{
    auto it = finalHeaders_.find(lowerName);
    return it == finalHeaders_.end() ? std::string() : it->second;
}

// True when the response carries the body from byte `from` on ("Content-Range:
// bytes FROM-..."); a server that ignores the range sends the whole body instead.
bool RangeHonoured(const PullTransfer& t, std::int64_t from)
{
    const std::string v = LowerAscii(t.Header("content-range"));
    const std::string want = "bytes " + std::to_string(from) + "-";
    return v.rfind(want, 0) == 0;
}

// The connectivity check: a plain TCP connection to the address's host and port.
// Also turns away anything that isn't a well-formed http or https address.
bool CanConnect(const std::string& url, long timeoutSeconds)
{
    GlobalInit();
    CURLU* u = curl_url();
    if (!u)
        return false;
    std::string probe;
    char* scheme = nullptr;
    char* port = nullptr;
    if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK
        && curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK
        && curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
        const std::string s = LowerAscii(scheme);
        if ((s == "http" || s == "https")
            && curl_url_set(u, CURLUPART_PORT, port, 0) == CURLUE_OK
            && curl_url_set(u, CURLUPART_SCHEME, "http", 0) == CURLUE_OK) {
            char* full = nullptr;
            if (curl_url_get(u, CURLUPART_URL, &full, 0) == CURLUE_OK)
                probe = full;
            curl_free(full);
        }
    }
    curl_free(scheme);
    curl_free(port);
    curl_url_cleanup(u);
    if (probe.empty())
        return false;

    CURL* e = curl_easy_init();
    if (!e)
        return false;
    const long limit = std::max(1L, timeoutSeconds);
    curl_easy_setopt(e, CURLOPT_URL, probe.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(e, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(e, CURLOPT_PROXY, "");
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, limit);
    curl_easy_setopt(e, CURLOPT_TIMEOUT, limit + 1);
    // A cancelled or timed-out step stops the connection attempt too.
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION,
                     +[](void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) -> int { return StepEnded() ? 1 : 0; });
    const CURLcode rc = StepEnded() ? CURLE_ABORTED_BY_CALLBACK : curl_easy_perform(e);
    curl_easy_cleanup(e);
    return rc == CURLE_OK;
}

const char* const BrowserAgent = "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1)";

} // namespace inet_detail

using namespace inet_detail;

struct TInet::Transfer {
    PullTransfer pull;
};

TInet::TInet() = default;

TInet::~TInet()
{
    transfer_.reset();
}

void TInet::Release()
{
    transfer_.reset();  // handles go exactly once; a second call finds nothing
    IsOpen = false;
}

void TInet::Close()
{
    Release();
    Status = InetClosed;
}

TNetworkStepScope::TNetworkStepScope(std::chrono::milliseconds overall, const std::atomic<bool>* cancel)
    : savedDeadline_(inet_detail::stepDeadline), savedCancel_(inet_detail::stepCancel)
{
    inet_detail::stepDeadline = std::min(savedDeadline_, inet_detail::Clock::now() + overall);
    if (cancel)
        inet_detail::stepCancel = cancel;
}

TNetworkStepScope::TNetworkStepScope(const std::atomic<bool>* cancel)
    : savedDeadline_(inet_detail::stepDeadline), savedCancel_(inet_detail::stepCancel)
{
    if (cancel)
        inet_detail::stepCancel = cancel;
}

TNetworkStepScope::~TNetworkStepScope()
{
    inet_detail::stepDeadline = savedDeadline_;
    inet_detail::stepCancel = savedCancel_;
}

bool NetworkStepEnded()
{
    return inet_detail::StepEnded();
}

bool TInet::Open()
{
    return OpenFrom(0);
}

bool TInet::OpenUrl(const std::string& url)
{
    Url = url;
    return Open();
}

bool TInet::OpenFrom(std::int64_t rangeFrom)
{
    Close();
    if (!CanConnect(Url, ConnectTimeoutSeconds))
        return false;  // Status stays InetClosed
    auto t = std::make_unique<Transfer>();
    if (!t->pull.Create()) {
        Status = InetNoSession;
        return false;
    }
    if (!Request(*t, rangeFrom)) {
        const CURLcode why = t->pull.Result();
        Status = why == CURLE_PEER_FAILED_VERIFICATION || why == CURLE_SSL_CACERT_BADFILE ||
                         why == CURLE_SSL_CERTPROBLEM || why == CURLE_SSL_ISSUER_ERROR
                     ? InetNotTrusted
                     : InetNotOpened;
        return false;  // t and its handles go here
    }
    transfer_ = std::move(t);
    Status = InetOk;
    IsOpen = true;
    return true;
}

bool TInet::Request(Transfer& t, std::int64_t rangeFrom)
{
    RequestShape shape;
    shape.url = Url;
    shape.userAgent = UserAgent;
    for (const std::string& line : SplitLines(RequestHeaders))
        if (!Trim(line).empty())
            shape.headers.push_back(line);
    shape.connectTimeoutSeconds = ConnectTimeoutSeconds;
    shape.stallTimeoutSeconds = StallTimeoutSeconds;
    shape.rangeFrom = rangeFrom;
    shape.maxBytesPerSecond = MaxBytesPerSecond;
    HttpStatus = 0;
    if (!t.pull.Send(shape))
        return false;
    const std::int64_t length = t.pull.ContentLength();
    ContentLength = length > 0 ? static_cast<std::uint64_t>(length) : 0;
    ContentType = LowerAscii(Trim(t.pull.Header("content-type")));
    HttpStatus = t.pull.StatusCode();
    return true;
}

bool TInet::ReadToStream(TMemoryStream* stream, int maxChunks)
{
    if (!stream)
        return false;
    if (!IsOpen && !Open())
        return false;

    std::array<char, PageChunk> buffer;
    std::int64_t total = 0;
    int count = 0;
    bool ok = true;
    std::size_t got = 0;
    do {
        ++count;
        ok = transfer_->pull.Read(buffer.data(), buffer.size(), got);
        total += static_cast<std::int64_t>(got);
        if (got > 0)
            stream->Write(buffer.data(), got);
        if (OnProgress && !OnProgress(static_cast<std::int32_t>(got), total)) {
            Release();
            Status = InetAborted;
            return false;
        }
        if (maxChunks != 0 && count >= maxChunks) {
            Status = InetOk;
            return true;
        }
    } while (ok && got > 0);

    if (OnProgress)
        OnProgress(static_cast<std::int32_t>(got), total);
    return ok;
}

bool TInet::DownloadToFile(const std::string& fileName, int maxChunks, std::int64_t startOffset, bool append)
{
    if (startOffset > 0) {
        // The body is continued with a range request. A transfer that is open
        // from the start (or has been read from) is asked again.
        if (!IsOpen) {
            if (!OpenFrom(startOffset))
                return false;
        } else if (transfer_->pull.RangeFrom() != startOffset || transfer_->pull.BodyTouched()) {
            auto t = std::make_unique<Transfer>();
            Release();
            if (!t->pull.Create() || !Request(*t, startOffset)) {
                Status = InetSeekFailed;
                return false;
            }
            transfer_ = std::move(t);
            IsOpen = true;
        }
        if (!RangeHonoured(transfer_->pull, startOffset)) {
            Release();
            Status = InetSeekFailed;
            return false;
        }
    } else if (!IsOpen && !Open()) {
        return false;
    }

    // Only a regular file (or none) is written: never a device, pipe or
    // directory, and never through a symbolic link at the name.
    const TPathInfo info = PathInfoOf(fileName);
    if (fileName.empty() || (info.Exists && !info.Regular))
        return false;
    WriteError = 0;
    int fd = -1;
    if (OwnFile) {
        // The job's own file, and no other: one put at its name since (or
        // none at all) is left alone. Starting anew empties it in place.
        bool changed = false;
        fd = OpenSameFileForWriting(fileName, *OwnFile, changed);
        if (fd < 0 && changed) {
            Release();
            Status = InetFileChanged;
            return false;
        }
        if (fd >= 0 && !append && !SetFileLength(fd, 0)) {
            CloseFile(fd);
            fd = -1;
        }
    } else {
        if (!append)
            RemoveFile(fileName);
        fd = OpenOwnFileForWriting(fileName, !append);
    }
    if (fd < 0) {
        WriteError = errno;
        Status = InetWriteFailed;
        return false;
    }
    if (append && !SeekToEnd(fd)) {
        CloseFile(fd);
        return false;
    }

    // Chunks are the unit of progress; they reach the disk in batches of
    // WriteBatchChunks, so that each write moves a good amount (the batch is all
    // that is held). Every way out writes what arrived.
    std::vector<char> batch(FileChunk * WriteBatchChunks);
    std::size_t filled = 0;
    bool written = true;
    auto flush = [&] {
        if (filled > 0 && written && !WriteAll(fd, batch.data(), filled)) {
            written = false;
            WriteError = errno;
        }
        filled = 0;
        return written;
    };
    auto finish = [&](bool result) {
        result = flush() && result;
        return CloseFile(fd) && result;
    };

    std::int64_t total = startOffset;
    int count = 0;
    bool ok = true;
    std::size_t got = 0;
    // A speed limit: after each chunk the transfer waits until the bytes so far
    // are due at that speed (asking the progress callback meanwhile, so a stop
    // acts at once). The connection stops reading while it waits, so the server
    // slows down as well.
    const auto paceStart = std::chrono::steady_clock::now();
    auto pace = [&] {
        if (MaxBytesPerSecond <= 0)
            return true;
        const auto due = paceStart + std::chrono::microseconds(static_cast<std::int64_t>(
                                         static_cast<double>(total - startOffset) * 1e6 /
                                         static_cast<double>(MaxBytesPerSecond)));
        while (std::chrono::steady_clock::now() < due) {
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                due - std::chrono::steady_clock::now(), std::chrono::milliseconds(50)));
            if (OnProgress && !OnProgress(0, total))
                return false;
        }
        return true;
    };
    do {
        ++count;
        if (batch.size() - filled < FileChunk && !flush()) {
            got = 0;
            break; // a chunk that can't be stored ends the download as a failure
        }
        ok = transfer_->pull.Read(batch.data() + filled, FileChunk, got);
        filled += got;
        total += static_cast<std::int64_t>(got);
        if ((OnProgress && !OnProgress(static_cast<std::int32_t>(got), total)) || !pace()) {
            Release();
            Status = InetAborted;
            finish(false);
            return false;
        }
        if (maxChunks != 0 && count >= maxChunks) {
            Status = InetOk;
            return finish(true);
        }
    } while (ok && got > 0);
    flush();

    if (OnProgress)
        OnProgress(static_cast<std::int32_t>(written ? got : 0), total);
    const bool result = ok && written;
    if (result)
        Status = InetOk;
    const bool closed = finish(result);
    if (!written)
        Status = InetWriteFailed;
    return closed;
}

std::string ExtractTitle(const std::string& page)
{
    const std::size_t p = Pos("<TITLE", UpperAscii(page));
    if (p == 0)
        return {};
    const std::string rest = page.substr(p - 1 + 6);
    const std::size_t q = Pos("</TITLE", UpperAscii(rest));
    if (q == 0)
        return {};
    std::string piece = rest.substr(0, q - 1);
    const std::size_t gt = piece.find('>');
    if (gt != std::string::npos)
        piece.erase(0, gt + 1);
    return Trim(piece);
}

std::string FetchPageTitle(const std::string& url)
{
    PullTransfer t;
    if (!t.Create())
        return {};
    RequestShape shape;
    shape.url = url;
    shape.userAgent = BrowserAgent;
    shape.headers = {"Accept: */*", "Cache-Control: no-cache", "Pragma: no-cache"};
    shape.systemProxy = true;
    if (!t.Send(shape))
        return {};
    std::array<char, TInet::FileChunk> buffer;
    std::size_t got = 0;
    std::string page;
    if (t.Read(buffer.data(), buffer.size(), got)) {
        const char* end = static_cast<const char*>(std::memchr(buffer.data(), '\0', got));
        page.assign(buffer.data(), end ? static_cast<std::size_t>(end - buffer.data()) : got);
    }
    return ExtractTitle(page);
}

std::int64_t QueryContentLength(const std::string& url)
{
    PullTransfer t;
    if (!t.Create())
        return 0;
    RequestShape shape;
    shape.url = url;
    shape.userAgent = BrowserAgent;
    shape.systemProxy = true;
    if (!t.Send(shape))
        return 0;
    return std::max<std::int64_t>(t.ContentLength(), 0);
}

std::string MediaExtensionOfBytes(const std::string& d)
{
    if (d.size() < 4)
        return {};
    struct Signature {
        const char* bytes;
        std::size_t length;
        const char* ext;
    };
    static const Signature table[] = {
        {"\x00\x00\x00\x1C", 4, "mp4"},
        {"FLV", 3, "flv"},
        {"ID3", 3, "mp3"},
        {"\xFF\xFB", 2, "mp3"},
        {"RIFF", 4, "avi"},
    };
    for (const Signature& s : table)
        if (d.compare(0, s.length, s.bytes, s.length) == 0)
            return s.ext;
    return {};
}

std::string DetectMediaExtension(const std::string& url, const std::string& def, bool withDot)
{
    TMemoryStream stream;
    TInet inet;
    if (!inet.OpenUrl(url))
        return def;
    inet.ReadToStream(&stream, 1);
    const std::string ext = MediaExtensionOfBytes(stream.Data());
    if (ext.empty())
        return def;
    return withDot ? "." + ext : ext;
}

bool LooksLikeMediaBytes(const std::string& d)
{
    if (!MediaExtensionOfBytes(d).empty())
        return true;
    const auto startsWith = [&d](const char* bytes, std::size_t length, std::size_t at = 0) {
        return d.size() >= at + length && d.compare(at, length, bytes, length) == 0;
    };
    // MP4, QuickTime, 3GP, fragments: a box name after the box size.
    for (const char* box : {"ftyp", "moov", "mdat", "free", "wide", "skip", "pnot", "moof", "styp", "sidx"})
        if (startsWith(box, 4, 4))
            return true;
    static const std::pair<const char*, std::size_t> starts[] = {
        {"\x1A\x45\xDF\xA3", 4},                  // Matroska, WebM
        {"OggS", 4}, {"fLaC", 4}, {"ID3", 3}, {"FLV", 3}, {"RIFF", 4},
        {"FORM", 4},                              // AIFF
        {"MThd", 4},                              // MIDI
        {".RMF", 4},                              // RealMedia
        {"#!AMR", 5}, {"wvpk", 4}, {"MAC ", 4}, {"caff", 4}, {"DSD ", 4},
        {"FWS", 3}, {"CWS", 3}, {"ZWS", 3},       // Flash
        {"\x30\x26\xB2\x75\x8E\x66\xCF\x11", 8},  // ASF, WMV, WMA
        {"\x00\x00\x01\xBA", 4},                  // MPEG program stream (VOB)
        {"\x00\x00\x01\xB3", 4},                  // MPEG video
        {"\x0B\x77", 2},                          // AC-3
        {"#EXTM3U", 7},                           // HLS
    };
    for (const auto& [bytes, length] : starts)
        if (startsWith(bytes, length))
            return true;
    // An MPEG transport stream: a sync byte every 188 bytes.
    if (d.size() > 188 && d[0] == '\x47' && d[188] == '\x47')
        return true;
    // MPEG audio and AAC frames: eleven set bits of frame sync.
    return d.size() >= 2 && static_cast<unsigned char>(d[0]) == 0xFF &&
           (static_cast<unsigned char>(d[1]) & 0xE0) == 0xE0;
}

bool LooksLikeBinaryBytes(const std::string& d)
{
    for (const char c : d) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\f' && b != 0x1B)
            return true;
    }
    return false;
}

namespace {
// A type the page engine reads as a page or a list of streams: any text,
// markup, JSON, script, or a stream list (HLS, DASH, HDS, SMIL).
bool PageLikeType(const std::string& type)
{
    if (type.compare(0, 5, "text/") == 0)
        return true;
    for (const char* word : {"html", "xml", "json", "mpegurl", "dash", "f4m", "smil", "javascript", "ecmascript"})
        if (type.find(word) != std::string::npos)
            return true;
    return false;
}
} // namespace

TMediaAddress ProbeMediaAddress(const std::string& url)
{
    TMediaAddress probe;
    TMemoryStream stream;
    TInet inet;
    if (!inet.OpenUrl(url)) {
        probe.NotTrusted = inet.Status == InetNotTrusted;
        return probe;
    }
    probe.HttpStatus = inet.HttpStatus;
    inet.ReadToStream(&stream, 1);
    const std::string& first = stream.Data();
    probe.Extension = MediaExtensionOfBytes(first);
    const std::string type = Trim(inet.ContentType.substr(0, inet.ContentType.find(';')));
    probe.IsMedia = !probe.Extension.empty() || type.compare(0, 6, "video/") == 0 || type.compare(0, 6, "audio/") == 0;
    probe.Size = static_cast<std::int64_t>(inet.ContentLength);
    probe.PlainFile = !probe.IsMedia && probe.HttpStatus >= 200 && probe.HttpStatus < 300 && !PageLikeType(type) &&
                      LooksLikeBinaryBytes(first) && !LooksLikeMediaBytes(first);
    return probe;
}
