#pragma once
// The HTTP client (over libcurl) through which the program reads pages into
// memory and media files onto disk, and the one-shot web queries: page title,
// announced size and media type from the first bytes.
//
// Reading is pulled: Open sends the request and receives the headers; each read
// then returns up to N bytes of the body and fewer only at its end. Redirects are
// followed, only http and https are spoken, and nothing waits forever.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TMemoryStream;

// Bytes of the chunk just read and the running total; false stops the transfer.
using TInetProgressCallback = std::function<bool(std::int32_t chunkBytes, std::int64_t totalBytes)>;

// Outcome codes of TInet::Status.
enum : std::int32_t {
    InetOk = 0,             // opened; a transfer ended normally or at its chunk limit
    InetNoSession = 1,      // no session could be made
    InetNotOpened = 2,      // the address could not be opened
    InetAborted = 3,        // the progress callback asked to stop
    InetSeekFailed = 4,     // the resume offset could not be reached
    InetClosed = 10,        // not open (initial, after Close, failed connectivity check)
};

class TInet {
public:
    static constexpr std::size_t PageChunk = 1024;   // ReadToStream
    static constexpr std::size_t FileChunk = 10240;  // DownloadToFile

    TInet();
    ~TInet();
    TInet(const TInet&) = delete;
    TInet& operator=(const TInet&) = delete;

    std::string Url;
    std::uint64_t ContentLength = 0;  // from the response headers; 0 when missing
    std::string RequestHeaders = "Accept: */*\r\n";
    std::string UserAgent = "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1)";
    bool IsOpen = false;
    std::int32_t Status = InetClosed;
    TInetProgressCallback OnProgress;

    // Connection and stall limits. A transfer that receives nothing for
    // StallTimeoutSeconds fails like any other read failure.
    long ConnectTimeoutSeconds = 15;
    long StallTimeoutSeconds = 30;

    bool Open();
    bool OpenUrl(const std::string& url);
    void Close();

    // Appends the body in 1024-byte reads; maxChunks 0 means no limit.
    bool ReadToStream(TMemoryStream* stream, int maxChunks);

    // Writes the body in 10240-byte reads. startOffset > 0 continues the body from
    // that byte (an HTTP range); append continues an existing file, otherwise the
    // file is started anew.
    bool DownloadToFile(const std::string& fileName, int maxChunks, std::int64_t startOffset, bool append);

private:
    struct Transfer;
    std::unique_ptr<Transfer> transfer_;
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
