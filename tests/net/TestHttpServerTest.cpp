// SPDX-License-Identifier: GPL-3.0-or-later
// The loopback server that the HTTP tests stand on, checked with a bare socket
// client so that its faults don't hide behind the client's.

#include "support/TestHttpServer.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace testhttp;

namespace {

// Sends a request and returns everything the server sends until it closes, the
// reply ends with endMark, or 5 s pass. With keepFd the socket is left open.
std::string Exchange(std::uint16_t port, const std::string& request, const std::string& endMark = "",
                     testsys::Socket* keepFd = nullptr)
{
    const testsys::Socket fd = testsys::ConnectLoopback(port);
    std::string reply;
    if (fd != testsys::NoSocket
        && testsys::SendSome(fd, request.data(), request.size()) == static_cast<long long>(request.size())) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < until) {
            if (!endMark.empty() && reply.size() >= endMark.size()
                && reply.compare(reply.size() - endMark.size(), endMark.size(), endMark) == 0)
                break;
            if (testsys::WaitReadable({fd}, 100) <= 0)
                continue;
            char buf[4096];
            const long long n = testsys::ReceiveSome(fd, buf, sizeof buf);
            if (n <= 0)
                break;
            reply.append(buf, static_cast<std::size_t>(n));
        }
    }
    if (keepFd)
        *keepFd = fd;
    else
        testsys::CloseSocket(fd);
    return reply;
}

std::string Get(std::uint16_t port, const std::string& target, const std::string& extra = "")
{
    return Exchange(port, "GET " + target + " HTTP/1.1\r\nHost: x\r\n" + extra + "\r\n");
}

} // namespace

TEST(TestHttpServer, ServesRoutesAndRecordsRequests)
{
    TestHttpServer server;
    server.Serve("/www.youtube.com/watch", "<title>T</title>");
    EXPECT_EQ(server.Url("/a?b=1"), "http://127.0.0.1:" + std::to_string(server.Port()) + "/a?b=1");

    const std::string reply = Get(server.Port(), "/www.youtube.com/watch?v=abc", "X-Test: Yes\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << reply;
    EXPECT_NE(reply.find("Content-Type: text/html\r\n"), std::string::npos);
    EXPECT_NE(reply.find("Content-Length: 16\r\n"), std::string::npos);
    EXPECT_EQ(reply.substr(reply.size() - 16), "<title>T</title>");

    EXPECT_NE(Get(server.Port(), "/elsewhere").find("HTTP/1.1 404 "), std::string::npos);

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, "/www.youtube.com/watch");
    EXPECT_EQ(requests[0].query, "v=abc");
    EXPECT_EQ(requests[0].target, "/www.youtube.com/watch?v=abc");
    EXPECT_EQ(requests[0].headers.at("x-test"), "Yes");
}

TEST(TestHttpServer, RangesChunksAndGeneratedBodies)
{
    TestHttpServer server;
    server.Handle("/gen", [](const Request&) {
        Response r;
        r.generatedSize = 200000;
        return r;
    });
    server.Handle("/chunked", [](const Request&) {
        Response r;
        r.body = "hello world";
        r.chunked = true;
        return r;
    });

    const std::string ranged = Get(server.Port(), "/gen", "Range: bytes=150000-\r\n");
    EXPECT_EQ(ranged.rfind("HTTP/1.1 206 ", 0), 0u);
    EXPECT_NE(ranged.find("Content-Range: bytes 150000-199999/200000\r\n"), std::string::npos);
    const std::size_t bodyAt = ranged.find("\r\n\r\n") + 4;
    EXPECT_EQ(ranged.substr(bodyAt), GeneratedBody(150000, 50000));
    EXPECT_NE(GeneratedBody(0, 64), GeneratedBody(64, 64));

    EXPECT_NE(Get(server.Port(), "/gen", "Range: bytes=200000-\r\n").find("HTTP/1.1 416 "), std::string::npos);

    const std::string chunked = Get(server.Port(), "/chunked");
    EXPECT_NE(chunked.find("Transfer-Encoding: chunked\r\n"), std::string::npos);
    EXPECT_EQ(chunked.substr(chunked.find("\r\n\r\n") + 4), "b\r\nhello world\r\n0\r\n\r\n");
}

TEST(TestHttpServer, StopsWithAStalledConnectionOpen)
{
    const auto start = std::chrono::steady_clock::now();
    testsys::Socket fd = testsys::NoSocket;
    {
        TestHttpServer server;
        server.Handle("/stall", [](const Request&) {
            Response r;
            r.body = std::string(100, 'x');
            r.stallAfter = 10;
            return r;
        });
        const std::string reply = Exchange(server.Port(), "GET /stall HTTP/1.1\r\n\r\n",
                                           std::string(10, 'x'), &fd);
        EXPECT_EQ(reply.substr(reply.find("\r\n\r\n") + 4), std::string(10, 'x'));
        EXPECT_EQ(server.OpenConnections(), 1u);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    // The server ended its side: the client now sees the connection close.
    char c;
    EXPECT_EQ(testsys::ReceiveSome(fd, &c, 1), 0);
    testsys::CloseSocket(fd);
}
