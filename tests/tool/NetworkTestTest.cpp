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
    EXPECT_TRUE(NetworkTest::run(store.baseUrl() + "/api/login", " S 1 ", never));
    ASSERT_EQ(store.requestsTo("/api/login").size(), 1u);
    const FakeStoreServer::Request request = store.requestsTo("/api/login").front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.body, "{\n    \"mac\": \" S 1 \",\n    \"passWord\": \"Qpt804215\",\n    \"userName\": \"kxdemo\"\n}\n");
}

TEST(NetworkTest, FailuresErrorStatusRefusedConnectionNoAddressAndStop)
{
    FakeStoreServer store;
    store.answer("/error", Answer{500, "{}"});
    EXPECT_FALSE(NetworkTest::run(store.baseUrl() + "/error", "S", never));
    EXPECT_FALSE(NetworkTest::run(QString("http://127.0.0.1:%1/login").arg(closedPort()), "S", never));
    EXPECT_FALSE(NetworkTest::run(QString(), "S", never));
    Answer silent;
    silent.never = true;
    store.answer("/silent", silent);
    // A stop (the window closing) ends the wait at once.
    EXPECT_FALSE(NetworkTest::run(store.baseUrl() + "/silent", "S", [] { return true; }));
}

TEST(NetworkTest, HttpsWithASelfSignedCertificate)
{
    FakeStoreServer store(FakeStoreServer::Scheme::Https);
    store.answer("/login", R"({"state":0})");
    EXPECT_TRUE(NetworkTest::run(store.baseUrl() + "/login", "S", never));
}
