// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TestHttpServer.h"

#include "base/ZQ_Strings.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace testhttp {

namespace {

constexpr std::size_t PatternPeriod = 65521;  // a prime, so offsets never line up by accident
constexpr std::size_t MaxHeaderBytes = 64 * 1024;
constexpr std::size_t SendBlock = 64 * 1024;

const std::array<unsigned char, PatternPeriod>& Pattern()
{
    static const std::array<unsigned char, PatternPeriod> table = [] {
        std::array<unsigned char, PatternPeriod> t{};
        std::uint32_t x = 2463534242u;
        for (auto& b : t) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<unsigned char>(x >> 24);
        }
        return t;
    }();
    return table;
}

const char* Reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

// Sends everything or gives up (peer gone, connection shut down by the server).
bool SendAll(testsys::Socket fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const long long n = testsys::SendSome(fd, data, size);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool SendAll(testsys::Socket fd, const std::string& s) { return SendAll(fd, s.data(), s.size()); }

void AddNoProxy(const char* name)
{
    const char* old = std::getenv(name);
    std::string value = old ? old : "";
    if (value.find("127.0.0.1") != std::string::npos && value.find("localhost") != std::string::npos)
        return;
    value += value.empty() ? "127.0.0.1,localhost" : ",127.0.0.1,localhost";
    testsys::SetEnv(name, value);
}

} // namespace

void GeneratedBytes(std::uint64_t offset, char* out, std::size_t count)
{
    const auto& table = Pattern();
    std::size_t pos = static_cast<std::size_t>(offset % PatternPeriod);
    while (count > 0) {
        const std::size_t n = std::min(count, PatternPeriod - pos);
        std::memcpy(out, table.data() + pos, n);
        out += n;
        count -= n;
        pos = 0;
    }
}

Response PacedMedia(std::uint64_t size, int paceMs)
{
    Response r;
    r.headers.push_back({"Content-Type", "video/mp4"});
    r.generatedSize = size;
    r.paceMs = paceMs;
    return r;
}

std::string GeneratedBody(std::uint64_t offset, std::size_t count)
{
    std::string s(count, '\0');
    GeneratedBytes(offset, s.data(), count);
    return s;
}

TestHttpServer::TestHttpServer(std::chrono::seconds lifetime)
{
    AddNoProxy("no_proxy");
    AddNoProxy("NO_PROXY");

    listenFd_ = testsys::BindLoopback(true, port_);
    if (listenFd_ == testsys::NoSocket || !testsys::MakeWaker(wakeFds_)) {
        testsys::CloseSocket(listenFd_);
        throw std::runtime_error("test server: can't listen on 127.0.0.1");
    }
    deadline_ = std::chrono::steady_clock::now() + lifetime;
    fallback_ = [](const Request&) {
        Response r;
        r.status = 404;
        r.headers.emplace_back("Content-Type", "text/html");
        r.body = "<html><head><title>404 Not Found</title></head><body>Not Found</body></html>";
        return r;
    };
    thread_ = std::thread([this] { Run(); });
}

TestHttpServer::~TestHttpServer()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    testsys::Wake(wakeFds_);
    if (thread_.joinable())
        thread_.join();
    // Run has shut every connection down on its way out; wait for their threads.
    std::list<Connection> rest;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        rest.swap(connections_);
    }
    for (auto& c : rest)
        if (c.thread.joinable())
            c.thread.join();
    testsys::CloseSocket(listenFd_);
    testsys::CloseWaker(wakeFds_);
}

void TestHttpServer::Handle(const std::string& path, Handler handler)
{
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = std::move(handler);
}

void TestHttpServer::Serve(const std::string& path, const std::string& body, const std::string& contentType)
{
    Handle(path, [body, contentType](const Request&) {
        Response r;
        r.headers.emplace_back("Content-Type", contentType);
        r.body = body;
        return r;
    });
}

void TestHttpServer::Fallback(Handler handler)
{
    std::lock_guard<std::mutex> lock(mutex_);
    fallback_ = std::move(handler);
}

std::string ClosedPortUrl(const std::string& pathAndQuery)
{
    // A socket bound to the port and never listening keeps it taken for the
    // whole run, and a connection to it is refused.
    static const std::uint16_t port = [] {
        std::uint16_t bound = 0;
        if (testsys::BindLoopback(false, bound) == testsys::NoSocket)
            throw std::runtime_error("bind failed");
        return bound;
    }();
    return "http://127.0.0.1:" + std::to_string(port) + pathAndQuery;
}

std::string TestHttpServer::Url(const std::string& pathAndQuery) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + pathAndQuery;
}

std::vector<Request> TestHttpServer::Requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool TestHttpServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

std::size_t TestHttpServer::OpenConnections() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<std::size_t>(std::count_if(connections_.begin(), connections_.end(),
                                                  [](const Connection& c) { return !c.done; }));
}

bool TestHttpServer::Stopping() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
}

// Waits until the server stops (true) or the time comes (false).
bool TestHttpServer::WaitForStop(std::chrono::steady_clock::time_point until)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_until(lock, std::min(until, deadline_), [this] { return stopping_; })
        || stopping_ || std::chrono::steady_clock::now() >= deadline_;
}

void TestHttpServer::Run()
{
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (Stopping() || now >= deadline_)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - now).count();
        const int n = testsys::WaitReadable({listenFd_, wakeFds_[0]},
                                            static_cast<int>(std::min<long long>(left, 1000)));
        if (n < 0)
            break;

        // Threads of finished connections are joined as we go.
        std::list<Connection> finished;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto it = connections_.begin(); it != connections_.end();) {
                auto next = std::next(it);
                if (it->done)
                    finished.splice(finished.end(), connections_, it);
                it = next;
            }
        }
        for (auto& c : finished)
            c.thread.join();

        if (n <= 0 || !(n & 1))
            continue;
        const testsys::Socket fd = testsys::Accept(listenFd_);
        if (fd == testsys::NoSocket)
            continue;
        std::lock_guard<std::mutex> lock(mutex_);
        connections_.emplace_back();
        Connection& conn = connections_.back();
        conn.fd = fd;
        conn.thread = std::thread([this, &conn] { Serve1(conn); });
    }

    // Stopped or out of time: wake every connection, stalled ones included.
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (auto& c : connections_)
        if (c.fd != testsys::NoSocket)
            testsys::ShutdownBoth(c.fd);
    changed_.notify_all();
}

void TestHttpServer::Serve1(Connection& conn)
{
    const testsys::Socket fd = conn.fd;

    // Read the request head, bounded in size and time.
    std::string head;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::size_t end = std::string::npos;
    while (end == std::string::npos && head.size() < MaxHeaderBytes) {
        if (Stopping() || std::chrono::steady_clock::now() >= giveUp)
            break;
        if (testsys::WaitReadable({fd}, 100) <= 0)
            continue;
        char buf[4096];
        const long long n = testsys::ReceiveSome(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        head.append(buf, static_cast<std::size_t>(n));
        end = head.find("\r\n\r\n");
    }

    if (end != std::string::npos) {
        Request req;
        std::size_t lineEnd = head.find("\r\n");
        const std::string first = head.substr(0, lineEnd);
        const std::size_t sp1 = first.find(' ');
        const std::size_t sp2 = first.find(' ', sp1 == std::string::npos ? 0 : sp1 + 1);
        if (sp1 != std::string::npos) {
            req.method = first.substr(0, sp1);
            req.target = first.substr(sp1 + 1, sp2 == std::string::npos ? std::string::npos : sp2 - sp1 - 1);
        }
        const std::size_t q = req.target.find('?');
        req.path = req.target.substr(0, q);
        req.query = q == std::string::npos ? std::string() : req.target.substr(q + 1);
        std::size_t pos = lineEnd + 2;
        while (pos < end) {
            lineEnd = head.find("\r\n", pos);
            const std::string line = head.substr(pos, lineEnd - pos);
            pos = lineEnd + 2;
            const std::size_t colon = line.find(':');
            if (colon != std::string::npos)
                req.headers[LowerAscii(Trim(line.substr(0, colon)))] = Trim(line.substr(colon + 1));
        }

        Handler handler;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(req);
            auto it = routes_.find(req.path);
            handler = it != routes_.end() ? it->second : fallback_;
        }
        changed_.notify_all();

        Response response;
        try {
            response = handler(req);
        } catch (...) {
            response = Response{};
            response.status = 500;
            response.body = "handler failed";
        }
        Respond(fd, req, std::move(response));
    }

    // Let the client read to the end before the socket goes: half-close, then
    // wait (briefly) for the client to hang up.
    testsys::ShutdownSending(fd);
    const auto lingerUntil = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!Stopping() && std::chrono::steady_clock::now() < lingerUntil) {
        if (testsys::WaitReadable({fd}, 100) <= 0)
            continue;
        char buf[1024];
        if (testsys::ReceiveSome(fd, buf, sizeof buf) <= 0)
            break;
    }

    std::lock_guard<std::mutex> lock(mutex_);
    testsys::CloseSocket(conn.fd);
    conn.fd = testsys::NoSocket;
    conn.done = true;
}

void TestHttpServer::Respond(testsys::Socket fd, const Request& request, Response r)
{
    if (r.silent) {
        WaitForStop(std::chrono::steady_clock::time_point::max());
        return;
    }
    if (!r.raw.empty()) {
        SendAll(fd, r.raw);
        return;
    }

    const bool generated = r.generatedSize > 0;
    const std::uint64_t fullSize = generated ? r.generatedSize : r.body.size();
    std::uint64_t start = 0;
    std::uint64_t size = fullSize;
    std::vector<std::pair<std::string, std::string>> extra;

    auto range = request.headers.find("range");
    if (r.honourRanges && r.status == 200 && range != request.headers.end()
        && range->second.rfind("bytes=", 0) == 0) {
        const std::string bytes = range->second.substr(6);
        const std::size_t dash = bytes.find('-');
        char* stop = nullptr;
        const unsigned long long from = std::strtoull(bytes.c_str(), &stop, 10);
        if (dash != std::string::npos && dash > 0 && stop == bytes.c_str() + dash) {
            if (from >= fullSize) {
                r.status = 416;
                extra.emplace_back("Content-Range", "bytes */" + std::to_string(fullSize));
                size = 0;
            } else {
                std::uint64_t last = fullSize - 1;
                const std::string to = bytes.substr(dash + 1);
                if (!to.empty())
                    last = std::min<std::uint64_t>(std::strtoull(to.c_str(), nullptr, 10), last);
                if (last >= from) {
                    r.status = 206;
                    start = from;
                    size = last - from + 1;
                    extra.emplace_back("Content-Range", "bytes " + std::to_string(from) + "-"
                                       + std::to_string(last) + "/" + std::to_string(fullSize));
                }
            }
        }
    }

    std::string head = "HTTP/1.1 " + std::to_string(r.status) + " " + Reason(r.status) + "\r\n";
    for (const auto& [name, value] : r.headers)
        head += name + ": " + value + "\r\n";
    for (const auto& [name, value] : extra)
        head += name + ": " + value + "\r\n";
    if (r.chunked)
        head += "Transfer-Encoding: chunked\r\n";
    else if (r.sendContentLength)
        head += "Content-Length: "
            + std::to_string(r.announcedLength >= 0 && r.status != 206 ? static_cast<std::uint64_t>(r.announcedLength) : size)
            + "\r\n";
    head += "Connection: close\r\n\r\n";
    if (!SendAll(fd, head) || request.method == "HEAD")
        return;

    std::uint64_t sent = 0;
    std::vector<char> block(SendBlock);
    while (sent < size) {
        std::uint64_t want = std::min<std::uint64_t>(size - sent, SendBlock);
        if (r.trickleMs > 0) {
            if (sent > 0 && WaitForStop(std::chrono::steady_clock::now() + std::chrono::milliseconds(r.trickleMs)))
                return;
            want = 1;
        }
        if (r.stallAfter >= 0 && sent + want > static_cast<std::uint64_t>(r.stallAfter))
            want = static_cast<std::uint64_t>(r.stallAfter) - sent;
        if (r.dropAfter >= 0 && sent + want > static_cast<std::uint64_t>(r.dropAfter))
            want = static_cast<std::uint64_t>(r.dropAfter) - sent;
        if (want == 0)
            break;
        const char* data;
        if (generated) {
            GeneratedBytes(start + sent, block.data(), static_cast<std::size_t>(want));
            data = block.data();
        } else {
            data = r.body.data() + start + sent;
        }
        if (r.chunked) {
            char len[32];
            std::snprintf(len, sizeof len, "%llx\r\n", static_cast<unsigned long long>(want));
            if (!SendAll(fd, len, std::strlen(len)))
                return;
        }
        if (!SendAll(fd, data, static_cast<std::size_t>(want)))
            return;
        if (r.chunked && !SendAll(fd, "\r\n", 2))
            return;
        sent += want;
        if (r.paceMs > 0 && sent < size &&
            WaitForStop(std::chrono::steady_clock::now() + std::chrono::milliseconds(r.paceMs)))
            return;
    }

    if (sent < size && r.stallAfter >= 0 && sent == static_cast<std::uint64_t>(r.stallAfter)
        && !(r.dropAfter >= 0 && r.dropAfter <= r.stallAfter)) {
        // Keep the connection and send nothing more until the server stops.
        WaitForStop(std::chrono::steady_clock::time_point::max());
        return;
    }
    if (sent < size)
        return;  // dropped half-way: the caller closes the connection
    if (r.chunked)
        SendAll(fd, "0\r\n\r\n", 5);
}

void ServeRefusalsAndAPlainFile(TestHttpServer& server)
{
    for (const int status : {403, 500}) {
        server.Handle("/status" + std::to_string(status), [status](const Request&) {
            Response r;
            r.status = status;
            r.body = "<html><head><title>Error</title></head><body>no</body></html>";
            return r;
        });
    }
    std::string binary;
    for (int i = 0; i < 64 * 1024; ++i)
        binary += static_cast<char>(i % 256);
    server.Serve("/files/data.bin", binary, "application/octet-stream");
}

void ServeEngineRelease(TestHttpServer& server, const std::string& tag, const std::string& sums,
                        const std::string& signature, const std::string& engine)
{
    server.Fallback([&server, tag, sums, signature, engine](const Request& r) {
        Response response;
        const std::string name = r.path.substr(r.path.rfind('/') + 1);
        if (r.path == "/yt-dlp/yt-dlp/releases/latest") {
            response.status = 302;
            response.headers.emplace_back("Location", server.Url("/yt-dlp/yt-dlp/releases/tag/" + tag));
        } else if (name == "SHA2-256SUMS") {
            response.body = sums;
        } else if (name == "SHA2-256SUMS.sig") {
            response.body = signature;
        } else if (name == "yt-dlp" || name == "yt-dlp_linux") {
            response.body = engine;
        } else {
            response.status = 404;
        }
        return response;
    });
}

} // namespace testhttp
