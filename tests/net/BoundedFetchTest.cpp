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
