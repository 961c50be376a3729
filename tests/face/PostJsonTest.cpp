// The face worker's blocking request: outcomes, the network notices the
// host receives once per change, the hard deadline and the stop.
#include "CloudFixture.h"
#include "PostJson.h"

#include <QElapsedTimer>

#include <thread>

namespace {

class PostJsonTest : public CloudFixture
{
protected:
    void SetUp() override
    {
        CloudFixture::SetUp();
        startCore();
    }

    // One request from the loop thread; reply starts as "untouched".
    int post(const QString &url, QByteArray &reply, const QByteArray &body = "{}", int deadlineMs = PostJson::deadlineMs)
    {
        int result = -1;
        onLoopThread([&] {
            PostJson request(stopRequested, networkReady);
            request.setDeadline(deadlineMs);
            result = request.send(reply, url, body, TlsPolicy::relaxed());
        });
        return result;
    }

    QString url(const std::string &path) const { return store.baseUrl() + QString::fromStdString(path); }

    std::atomic<bool> networkReady{true};
};

// A run of failures gives one 6207, a run of successes after it one 6206;
// an HTTP error status is a failure with Qt's number, its body withheld.
TEST_F(PostJsonTest, NetworkStateReachesTheHostOncePerChange)
{
    store.answer("/missing", {404, R"({"state":0,"secret":"body of 404"})"});
    store.answer("/broken", {500, "oops"});
    store.answer("/ok", R"({"state":0,"n":1})");
    const QString refused = "http://127.0.0.1:1/ok"; // nothing listens there

    QByteArray reply = "untouched";
    EXPECT_EQ(post(url("/missing"), reply, "{\"mac\": \"S-1\"}"), PostJson::failed);
    EXPECT_EQ(reply, "untouched");
    EXPECT_EQ(post(url("/broken"), reply), PostJson::failed);
    EXPECT_EQ(post(refused, reply), PostJson::failed);
    EXPECT_EQ(reply, "untouched");
    EXPECT_EQ(post(url("/ok"), reply), PostJson::ok);
    EXPECT_EQ(reply, R"({"state":0,"n":1})");
    EXPECT_EQ(post(url("/ok"), reply), PostJson::ok);

    const auto notices = callsOf("notify");
    ASSERT_EQ(notices.size(), 2);
    EXPECT_EQ(notices[0].code, NV_NOTIFY_NETWORK_ERROR);
    EXPECT_EQ(notices[0].text, "Network error (203)"); // Qt's ContentNotFoundError
    EXPECT_EQ(notices[1].code, NV_NOTIFY_NETWORK_READY);
    EXPECT_EQ(notices[1].text, "Network ready");
    EXPECT_TRUE(log().contains(url("/missing") + "({\"mac\": \"S-1\"}, 203, ")) << log().toStdString();
    EXPECT_FALSE(log().contains("body of 404"));
    EXPECT_EQ(store.requestsTo("/ok")[0].header("Content-Type"), "application/json");
}

TEST_F(PostJsonTest, FirstSuccessSendsNoNoticeAndHttpsWithASelfSignedCertificateWorks)
{
    FakeStoreServer secure(FakeStoreServer::Scheme::Https);
    ASSERT_TRUE(secure.isRunning());
    secure.answer("/ok", R"({"state":0})");
    QByteArray reply;
    EXPECT_EQ(post(secure.baseUrl() + "/ok", reply, "grant_type=client_credentials"), PostJson::ok);
    EXPECT_EQ(reply, R"({"state":0})");
    EXPECT_EQ(secure.requestsTo("/ok")[0].body, "grant_type=client_credentials");
    EXPECT_TRUE(callsOf("notify").isEmpty());
}

// The deadline counts from the hand-over: an answer that keeps trickling
// in does not push it back.
TEST_F(PostJsonTest, TricklingAnswerEndsAtTheDeadline)
{
    FakeStoreServer::Answer trickle;
    trickle.body = std::string(40, 'x');
    trickle.chunked = true;
    trickle.chunkBytes = 1;
    trickle.chunkPauseMs = 100;
    store.answer("/slow", trickle);
    QByteArray reply = "untouched";
    EXPECT_EQ(post(url("/slow"), reply, "{}", 1500), PostJson::failed);
    EXPECT_EQ(reply, "untouched");
    EXPECT_TRUE(log().contains(url("/slow") + "(Timeout)"));
    ASSERT_EQ(callsOf("notify").size(), 1);
    EXPECT_EQ(callsOf("notify")[0].text, "Network error (timeout)");
}

// A stop ends a request that would otherwise wait its full 15 s, and a
// stop is no network failure.
TEST_F(PostJsonTest, StopEndsAWaitingRequest)
{
    FakeStoreServer::Answer never;
    never.never = true;
    store.answer("/never", never);
    std::thread stopper([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stopRequested = true;
    });
    QElapsedTimer clock;
    clock.start();
    QByteArray reply;
    EXPECT_EQ(post(url("/never"), reply), PostJson::failed);
    stopper.join();
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(callsOf("notify").isEmpty());
    EXPECT_FALSE(log().contains("(Timeout)"));
}

TEST_F(PostJsonTest, OversizedAnswerFails)
{
    store.answer("/huge", std::string(5 * 1024 * 1024, ' ') + "{}");
    QByteArray reply = "untouched";
    EXPECT_EQ(post(url("/huge"), reply), PostJson::failed);
    EXPECT_EQ(reply, "untouched");
    EXPECT_EQ(callsOf("notify").size(), 1);
}

} // namespace
