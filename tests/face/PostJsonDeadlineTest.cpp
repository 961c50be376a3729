// The blocking request's full 15 s deadline (slow).
#include "CloudFixture.h"
#include "PostJson.h"

#include <thread>

namespace {

class PostJsonDeadlineTest : public CloudFixture
{
};

// The full 15 s: an answer after 14 s arrives, one after 16 s is given up.
TEST_F(PostJsonDeadlineTest, AnswerAfter14SecondsArrivesAnswerAfter16TimesOut)
{
    startCore();
    store.answer("/14", {200, R"({"after":14})", "application/json", 14000});
    store.answer("/16", {200, R"({"after":16})", "application/json", 16000});
    int in14 = -1;
    int in16 = -1;
    QByteArray reply14;
    QByteArray reply16 = "untouched";
    std::atomic<bool> ready14{true};
    std::atomic<bool> ready16{true};
    onLoopThread([&] {
        std::thread second([&] {
            PostJson request(stopRequested, ready16);
            in16 = request.send(reply16, store.baseUrl() + "/16", "{}", TlsPolicy::relaxed());
        });
        PostJson request(stopRequested, ready14);
        in14 = request.send(reply14, store.baseUrl() + "/14", "{}", TlsPolicy::relaxed());
        second.join();
    });
    EXPECT_EQ(in14, PostJson::ok);
    EXPECT_EQ(reply14, R"({"after":14})");
    EXPECT_EQ(in16, PostJson::failed);
    EXPECT_EQ(reply16, "untouched");
    EXPECT_TRUE(log().contains(store.baseUrl() + "/16" + "(Timeout)"));
    EXPECT_FALSE(log().contains(store.baseUrl() + "/14" + "(Timeout)"));
    ASSERT_EQ(callsOf("notify").size(), 1);
    EXPECT_EQ(callsOf("notify")[0].code, NV_NOTIFY_NETWORK_ERROR);
    EXPECT_EQ(callsOf("notify")[0].text, "Network error (timeout)");
}

} // namespace
