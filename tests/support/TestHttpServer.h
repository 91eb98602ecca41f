#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the tests. It runs on its own thread,
// serves the routes a test registers, and stops when it is destroyed (or, as a
// safety net, after a time limit).

#include <chrono>
#include <cstdint>
#include <functional>
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
};

using Handler = std::function<Response(const Request&)>;

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

private:
    void Run();
    void Serve1(int fd);

    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::chrono::steady_clock::time_point deadline_;
    mutable std::mutex mutex_;
    std::map<std::string, Handler> routes_;
    Handler fallback_;
    std::vector<Request> requests_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace testhttp
