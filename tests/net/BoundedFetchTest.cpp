// SPDX-License-Identifier: GPL-3.0-or-later
// One bounded fetch against the loopback server: where its redirects may lead.

#include "net/BoundedFetch.h"

#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using namespace testhttp;

namespace {
// A server whose one address redirects to another server's file.
struct TRedirectingServers {
    TestHttpServer from;
    TestHttpServer to;
    TRedirectingServers()
    {
        to.Serve("/file", "the file", "text/plain");
        from.Handle("/start", [this](const Request&) {
            Response r;
            r.status = 302;
            r.headers.emplace_back("Location", to.Url("/file"));
            return r;
        });
    }
};
} // namespace

TEST(BoundedFetch, ARedirectToPlainHttpIsFollowedUnlessOnlyHttpsMayFollow)
{
    TRedirectingServers servers;
    TFetchLimits limits;
    std::string body;
    TFetchResult fetched = BoundedFetchText(servers.from.Url("/start"), limits, body, {});
    ASSERT_TRUE(fetched.Ok) << fetched.Error;
    EXPECT_EQ(body, "the file");
    EXPECT_EQ(servers.to.Requests().size(), 1u);

    // Told that redirects lead to https alone, the fetch does not go down to http.
    limits.RedirectsHttpsOnly = true;
    fetched = BoundedFetchText(servers.from.Url("/start"), limits, body, {});
    EXPECT_FALSE(fetched.Ok);
    EXPECT_FALSE(fetched.Error.empty());
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(servers.from.Requests().size(), 2u);
    EXPECT_EQ(servers.to.Requests().size(), 1u) << "the http redirect was followed";

    // Not following at all, the target is handed back as it is.
    limits.FollowRedirects = false;
    fetched = BoundedFetchText(servers.from.Url("/start"), limits, body, {});
    EXPECT_TRUE(fetched.Ok) << fetched.Error;
    EXPECT_EQ(fetched.Location, servers.to.Url("/file"));
}

TEST(BoundedFetch, ASharedDeadlineEndsAFetchThatHasTimeLeftOfItsOwn)
{
    TestHttpServer server;
    Response slow;
    slow.body = std::string(400, 'x');
    slow.trickleMs = 50;  // 20 s in all
    server.Handle("/slow", [slow](const Request&) { return slow; });
    TFetchLimits limits;  // half an hour of its own
    limits.Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    std::string body;
    const auto started = std::chrono::steady_clock::now();
    TFetchResult fetched = BoundedFetchText(server.Url("/slow"), limits, body, {});
    EXPECT_FALSE(fetched.Ok);
    EXPECT_TRUE(fetched.Stalled);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));

    // A deadline already past: nothing is asked at all.
    TestHttpServer untouched;
    untouched.Serve("/file", "the file", "text/plain");
    limits.Deadline = std::chrono::steady_clock::now() - std::chrono::milliseconds(1);
    fetched = BoundedFetchText(untouched.Url("/file"), limits, body, {});
    EXPECT_FALSE(fetched.Ok);
    EXPECT_FALSE(fetched.Error.empty());
    EXPECT_FALSE(untouched.WaitForRequests(1, std::chrono::milliseconds(200)));
}
