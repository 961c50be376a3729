// The wizard's network test against the fake store server.
#include "NetworkTest.h"

#include "FakeStoreServer.h"

#include <QTcpServer>

#include <gtest/gtest.h>

namespace {

using Answer = FakeStoreServer::Answer;

const auto never = [] { return false; };

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace

TEST(NetworkTest, LoginWithTheTestAccountSucceedsWhateverTheBodySays)
{
    FakeStoreServer store;
    store.answer("/api/login", R"({"state":1002,"msg":"wrong password"})");
    EXPECT_TRUE(NetworkTest::run(store.baseUrl() + "/api/login", " S 1 ", never).success);
    ASSERT_EQ(store.requestsTo("/api/login").size(), 1u);
    const FakeStoreServer::Request request = store.requestsTo("/api/login").front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.body, "{\n    \"mac\": \" S 1 \",\n    \"passWord\": \"Qpt804215\",\n    \"userName\": \"kxdemo\"\n}\n");
}

TEST(NetworkTest, FailuresSayWhy)
{
    FakeStoreServer store;
    store.answer("/error", Answer{500, "{}"});
    const NetworkTest::Outcome status = NetworkTest::run(store.baseUrl() + "/error", "S", never);
    EXPECT_FALSE(status.success);
    EXPECT_TRUE(status.error.contains("Internal Server Error")) << status.error.toStdString();
    const NetworkTest::Outcome refused
        = NetworkTest::run(QString("http://127.0.0.1:%1/login").arg(closedPort()), "S", never);
    EXPECT_FALSE(refused.success);
    EXPECT_EQ(refused.error, "Connection refused");
    EXPECT_FALSE(NetworkTest::run(QString(), "S", never).success);

    Answer silent;
    silent.never = true;
    store.answer("/silent", silent);
    const NetworkTest::Outcome late = NetworkTest::run(store.baseUrl() + "/silent", "S", never, 300);
    EXPECT_FALSE(late.success);
    EXPECT_TRUE(late.timedOut);
    // A stop (the window closing) ends the wait at once, and is no time-out.
    const NetworkTest::Outcome stopped = NetworkTest::run(store.baseUrl() + "/silent", "S", [] { return true; });
    EXPECT_FALSE(stopped.success);
    EXPECT_FALSE(stopped.timedOut);
}

TEST(NetworkTest, HttpsWithASelfSignedCertificate)
{
    FakeStoreServer store(FakeStoreServer::Scheme::Https);
    store.answer("/login", R"({"state":0})");
    EXPECT_TRUE(NetworkTest::run(store.baseUrl() + "/login", "S", never).success);
}
