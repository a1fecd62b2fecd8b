#include "base/uri/percent_coding.hpp"

#include <gtest/gtest.h>

#include "host/router.hpp"

namespace {

TEST(PercentCoding, DecodesAndLeavesBrokenEscapes) {
    EXPECT_EQ(uri::percent_decode("a%20b%2Fc"), "a b/c");
    EXPECT_EQ(uri::percent_decode("a+b", true), "a b");
    EXPECT_EQ(uri::percent_decode("a+b"), "a+b");
    EXPECT_EQ(uri::percent_decode("100%"), "100%");
    EXPECT_EQ(uri::percent_decode("%zz%4"), "%zz%4");
    EXPECT_EQ(uri::percent_decode("%00x"), std::string("\0x", 2));
    EXPECT_EQ(uri::percent_encode("My Notebook.ipynb"), "My%20Notebook.ipynb");
    EXPECT_EQ(uri::percent_encode("a/b\xC3\xA9"), "a%2Fb%C3%A9");
    EXPECT_EQ(uri::percent_encode("a/b", "/"), "a/b");
}

TEST(RouteTable, MatchesPlaceholdersOnRawSegments) {
    host::RouteTable routes;
    routes.add("/nuvex-link/kernels/{kernel_id}", {"GET"}, nullptr);
    routes.add_websocket("/nuvex-link/kernels/{kernel_id}/channels");

    auto match = routes.match("/nuvex-link/kernels/k%2F1");
    ASSERT_TRUE(match);
    EXPECT_EQ(match->path_args, host::PathArgs{"k/1"});
    match = routes.match("/nuvex-link/kernels/k1/channels");
    ASSERT_TRUE(match);
    EXPECT_EQ(match->route->kind, host::RouteKind::websocket);
    EXPECT_FALSE(routes.match("/nuvex-link/kernels/"));
    EXPECT_FALSE(routes.match("/nuvex-link/kernels/a/b"));
    EXPECT_FALSE(routes.match("/nuvex-link/kernel/k1"));
}

}  // namespace
