// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the tests. It runs on its own thread,
// serves the routes a test registers, and stops when it is destroyed (or, as a
// safety net, after a time limit).
//
// Every connection gets a thread of its own and one response, sent with
// "Connection: close". Handlers may therefore run on several threads at once.
// Destroying the server ends every connection, stalled ones included.
//
// Constructing a server makes sure that "no_proxy"/"NO_PROXY" name 127.0.0.1 and
// localhost, so that clients that honour the proxy variables still talk to it
// directly.

#include "support/TestSystem.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testhttp {

struct Request {
    std::string method;
    std::string target;  // path and query as sent
    std::string path;    // without the query
    std::string query;   // after "?", without it
    std::map<std::string, std::string> headers;  // names lower-cased
};

struct Response {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool sendContentLength = true;
    std::int64_t announcedLength = -1;  // Content-Length to announce; -1: the body's size
    bool chunked = false;               // send the body with chunked transfer coding
    std::uint64_t generatedSize = 0;    // > 0: a generated body of that many bytes instead of body
    std::int64_t stallAfter = -1;       // >= 0: after that many body bytes, stop sending (keep the connection)
    std::int64_t dropAfter = -1;        // >= 0: after that many body bytes, close the connection
    bool honourRanges = true;           // answer "Range: bytes=N-" with 206 and the rest
    std::string raw;                    // non-empty: sent as it is instead of an HTTP response
    bool silent = false;                // accept, read the request, never answer (until the server stops)
    int trickleMs = 0;                  // > 0: send the body one byte at a time, this many ms apart
    int paceMs = 0;                     // > 0: wait this long after each 64 KiB block of the body
};

using Handler = std::function<Response(const Request&)>;

// The bytes of a generated body (Response::generatedSize), by position. The
// pattern repeats only every 65521 bytes, so a body read from a wrong offset
// does not match.
void GeneratedBytes(std::uint64_t offset, char* out, std::size_t count);
std::string GeneratedBody(std::uint64_t offset, std::size_t count);

// A generated video of size bytes, paced paceMs after every 64 KiB as on a real line.
Response PacedMedia(std::uint64_t size, int paceMs);

// An address on 127.0.0.1 whose port nothing listens on: connecting is refused
// at once, as with a host that is down.
std::string ClosedPortUrl(const std::string& pathAndQuery);

class TestHttpServer {
public:
    explicit TestHttpServer(std::chrono::seconds lifetime = std::chrono::seconds(120));
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // Routes match the path exactly (the query is not part of it).
    void Handle(const std::string& path, Handler handler);
    void Serve(const std::string& path, const std::string& body,
               const std::string& contentType = "text/html");
    // Unmatched paths get this handler (default: 404 with a short page).
    void Fallback(Handler handler);

    std::uint16_t Port() const { return port_; }
    // "http://127.0.0.1:PORT" + pathAndQuery
    std::string Url(const std::string& pathAndQuery) const;
    std::vector<Request> Requests() const;
    // Waits until the server has seen count requests (true) or the timeout passed.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    // Connections currently open (a stalled one counts until it ends).
    std::size_t OpenConnections() const;

private:
    struct Connection {
        testsys::Socket fd = testsys::NoSocket;
        bool done = false;
        std::thread thread;
    };

    void Run();
    void Serve1(Connection& conn);
    void Respond(testsys::Socket fd, const Request& request, Response response);
    bool WaitForStop(std::chrono::steady_clock::time_point until);
    bool Stopping() const;

    testsys::Socket listenFd_ = testsys::NoSocket;
    testsys::Socket wakeFds_[2] = {testsys::NoSocket, testsys::NoSocket};
    std::uint16_t port_ = 0;
    std::chrono::steady_clock::time_point deadline_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<std::string, Handler> routes_;
    Handler fallback_;
    std::vector<Request> requests_;
    std::list<Connection> connections_;
    bool stopping_ = false;
    std::thread thread_;
};

// Pages that answer 403 and 500 ("/status403", "/status500") and a file that is
// no media ("/files/data.bin", 64 KiB of every byte value, application/octet-stream).
void ServeRefusalsAndAPlainFile(TestHttpServer& server);

// The page engine's release tag on the server: "/yt-dlp/yt-dlp/releases/latest"
// redirects to the tag, and its SHA2-256SUMS, SHA2-256SUMS.sig and the engine
// ("yt-dlp", "yt-dlp_linux") are served with the given bodies; anything else is 404.
void ServeEngineRelease(TestHttpServer& server, const std::string& tag, const std::string& sums,
                        const std::string& signature, const std::string& engine);

} // namespace testhttp
