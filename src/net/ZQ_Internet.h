// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The HTTP client (over libcurl) through which the program reads pages into
// memory and media files onto disk, and the one-shot web queries: page title,
// announced size and media type from the first bytes.
//
// Reading is pulled: Open sends the request and receives the headers; each read
// then returns up to N bytes of the body and fewer only at its end. Redirects are
// followed, only http and https are spoken (redirects included), and nothing
// waits forever. TInet connects directly and ignores the proxy variables; the
// one-shot queries FetchPageTitle and QueryContentLength honour them.
//
// The HTTP status is told (HttpStatus) but acts on nothing here: an error page
// is a body like any other.
// No more than about a megabyte of a body is held in memory at a time.

#include "system/ZQ_FileSystem.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class TMemoryStream;

// Limits for the network work of one step (a page read, a title, a probe, a size
// query) on the thread that makes the object, while it lives: every connection
// check, request and read on that thread fails once the overall deadline has
// passed or the cancel flag is set, whatever the server sends or holds back. The
// window runs each step on a thread of its own under such a scope, so that a
// stalled or trickling server can't keep it waiting; nested scopes keep the
// earlier deadline. Nothing is limited outside a scope.
class TNetworkStepScope {
public:
    TNetworkStepScope(std::chrono::milliseconds overall, const std::atomic<bool>* cancel);
    // Only the cancel flag, no deadline (a whole download).
    explicit TNetworkStepScope(const std::atomic<bool>* cancel);
    ~TNetworkStepScope();
    TNetworkStepScope(const TNetworkStepScope&) = delete;
    TNetworkStepScope& operator=(const TNetworkStepScope&) = delete;

private:
    std::chrono::steady_clock::time_point savedDeadline_;
    const std::atomic<bool>* savedCancel_;
};
// True when the current thread's step has been cancelled or has run out of time.
bool NetworkStepEnded();

// Bytes of the chunk just read and the running total; false stops the transfer.
using TInetProgressCallback = std::function<bool(std::int32_t chunkBytes, std::int64_t totalBytes)>;

// Outcome codes of TInet::Status.
enum : std::int32_t {
    InetOk = 0,             // opened; a transfer ended normally or at its chunk limit
    InetNoSession = 1,      // no session could be made
    InetNotOpened = 2,      // the address could not be opened
    InetAborted = 3,        // the progress callback asked to stop
    InetSeekFailed = 4,     // the resume offset could not be reached
    InetWriteFailed = 5,    // the file could not be written (WriteError says why)
    InetNotTrusted = 6,     // the server's certificate is not trusted
    InetFileChanged = 7,    // the file is no longer the one OwnFile names: nothing was written
    InetClosed = 10,        // not open (initial, after Close, failed connectivity check)
};

class TInet {
public:
    static constexpr std::size_t PageChunk = 1024;   // ReadToStream
    static constexpr std::size_t FileChunk = 10240;  // DownloadToFile
    static constexpr std::size_t WriteBatchChunks = 32; // chunks per write to disk

    TInet();
    ~TInet();
    TInet(const TInet&) = delete;
    TInet& operator=(const TInet&) = delete;

    std::string Url;
    std::uint64_t ContentLength = 0;  // from the response headers; 0 when missing
    std::string ContentType;          // from the response headers, lower case; empty when missing
    int HttpStatus = 0;               // the final response's status (200, 404, ...); 0 when none came
    std::string RequestHeaders = "Accept: */*\r\n";
    std::string UserAgent = "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1)";
    bool IsOpen = false;
    std::int32_t Status = InetClosed;
    int WriteError = 0;  // errno of a failed write to the file
    TInetProgressCallback OnProgress;

    // Connection and stall limits. A transfer that receives nothing for
    // StallTimeoutSeconds fails like any other read failure.
    long ConnectTimeoutSeconds = 15;
    long StallTimeoutSeconds = 30;
    // A speed limit for the body (bytes per second); 0: none.
    std::int64_t MaxBytesPerSecond = 0;
    // The file the download may write, when it has one of its own: only that
    // file is written (never another at its name, never a new one), and a body
    // that starts anew empties it in place.
    std::optional<TFileId> OwnFile;

    // Closes, checks that the address's host and port take a TCP connection (a
    // malformed, non-http(s), unresolvable or refused address fails here with
    // Status InetClosed), then sends the request and returns once the final
    // response's headers are in (InetNotOpened when none came).
    bool Open();
    bool OpenUrl(const std::string& url);
    // Releases the handles (each exactly once); IsOpen false, Status InetClosed.
    void Close();

    // Appends the body in 1024-byte reads; maxChunks 0 means no limit. Opens when
    // not open. After each read OnProgress gets (bytes, total); false aborts
    // (handles released, IsOpen false, Status InetAborted, result false). After
    // the last read it gets (0, total) once more. True at the chunk limit and at
    // the normal end of the body; false when a read fails (what came stays in
    // the stream) or stream is null (nothing is opened then).
    bool ReadToStream(TMemoryStream* stream, int maxChunks);

    // Writes the body in 10240-byte reads, with the same callback protocol (the
    // totals count from startOffset). startOffset > 0 continues the body from that
    // byte with a range request; a server that doesn't honour it gives Status
    // InetSeekFailed and the file is not touched. append continues an existing
    // file (created when missing), otherwise the file is started anew. Only a
    // regular file (or a missing one) is written; with OwnFile set, only that
    // file (InetFileChanged otherwise). A read that fails mid-body, or
    // a chunk that can't be written, ends the download with false; the bytes
    // written so far stay in the file.
    bool DownloadToFile(const std::string& fileName, int maxChunks, std::int64_t startOffset, bool append);

private:
    struct Transfer;
    // Open, asking for the body from rangeFrom on when that is > 0.
    bool OpenFrom(std::int64_t rangeFrom);
    // Sends the request of Url on a fresh transfer and takes ContentLength.
    bool Request(Transfer& t, std::int64_t rangeFrom);
    // Releases the transfer's handles (once) and marks the object not open.
    void Release();

    std::unique_ptr<Transfer> transfer_;  // set exactly while IsOpen
};

// The page's title (one uncached read of at most 10240 bytes), or empty.
std::string FetchPageTitle(const std::string& url);
// The text between "<title ...>" and "</title" (any case), trimmed; or empty.
std::string ExtractTitle(const std::string& page);
// The Content-Length the server announces for an address, or 0.
std::int64_t QueryContentLength(const std::string& url);
// "mp4", "flv", "mp3" or "avi" from the first bytes of the body (with a leading
// "." when withDot), or def when the address can't be read or isn't recognised.
std::string DetectMediaExtension(const std::string& url, const std::string& def, bool withDot);
// The same signatures for bytes already read: "mp4", ... or empty.
std::string MediaExtensionOfBytes(const std::string& firstBytes);

// True when the first bytes start like a media container or stream of any
// kind the program or the page engine may read (MP4 and QuickTime boxes,
// Matroska and WebM, Ogg, FLAC, MPEG audio and video, transport streams, ASF,
// RIFF, FLV, ...), also those MediaExtensionOfBytes gives no extension for.
bool LooksLikeMediaBytes(const std::string& firstBytes);
// True when the first bytes are no text (a NUL or another control character
// that text does not hold).
bool LooksLikeBinaryBytes(const std::string& firstBytes);

struct TMediaAddress {
    bool IsMedia = false;     // the server answers with a media file
    std::string Extension;    // from its first bytes ("mp4", ...), empty when not recognised
    std::int64_t Size = 0;    // its announced length, 0 when unknown
    bool NotTrusted = false;  // the server's certificate is not trusted
    int HttpStatus = 0;       // the server's answer (200, 404, ...); 0 when none came
    // The server answers with a file that is neither media nor a page: a type
    // that is no text, markup or stream list, and bytes that are no text and
    // start like no media ("application/octet-stream", an archive, a picture).
    bool PlainFile = false;
};
// Reads the start of what an address answers with: media when the Content-Type
// is video/* or audio/*, or when the first bytes carry a known media signature.
TMediaAddress ProbeMediaAddress(const std::string& url);
