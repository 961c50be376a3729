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

// A reply without end, or larger than the cap, is read only up to the cap:
// the server writes little more before the connection is cut, and the test
// says why it failed. A small reply is read and discarded as before.
TEST(NetworkTest, RepliesAreBoundedWhileRead)
{
    FakeStoreServer store;
    Answer endless;
    endless.streamBytes = -1;
    Answer huge;
    huge.streamBytes = 200LL * 1024 * 1024;
    Answer small;
    small.streamBytes = 1024 * 1024;
    const struct
    {
        const char *name;
        Answer answer;
        bool success;
    } rows[] = {{"endless", endless, false}, {"200 MB", huge, false}, {"1 MB", small, true}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        store.answer("/login", row.answer);
        const long long before = store.streamedBytes();
        const NetworkTest::Outcome outcome = NetworkTest::run(store.baseUrl() + "/login", "S", never);
        EXPECT_EQ(outcome.success, row.success) << outcome.error.toStdString();
        EXPECT_FALSE(outcome.timedOut);
        if (!row.success) {
            EXPECT_EQ(outcome.error, "Reply larger than 4194304 bytes");
            EXPECT_LT(store.streamedBytes() - before, NetworkTest::kMaxReplyBytes + 16 * 1024 * 1024);
        }
    }
}

// Server/CaFile pins the store server's CA: a certificate it signed passes,
// a self-signed one (accepted without a pin) fails, and a CA file that
// cannot be read fails before anything is sent.
TEST(NetworkTest, APinnedCaDecidesWhichCertificatePasses)
{
    FakeStoreServer signedByCa(FakeStoreServer::Scheme::HttpsFromCa);
    FakeStoreServer selfSigned(FakeStoreServer::Scheme::Https);
    ASSERT_FALSE(signedByCa.caFile().isEmpty());
    signedByCa.answer("/login", R"({"state":0})");
    selfSigned.answer("/login", R"({"state":0})");
    const auto run = [](const FakeStoreServer &store, const QString &caFile) {
        NetworkTest::Setup setup;
        setup.caFile = caFile;
        return NetworkTest::run(store.baseUrl() + "/login", "S", never, NetworkTest::kTimeLimitMs, setup);
    };
    EXPECT_TRUE(run(signedByCa, signedByCa.caFile()).success);
    EXPECT_TRUE(run(selfSigned, QString()).success);
    const NetworkTest::Outcome pinnedElsewhere = run(selfSigned, signedByCa.caFile());
    EXPECT_FALSE(pinnedElsewhere.success);
    EXPECT_FALSE(pinnedElsewhere.error.isEmpty());
    EXPECT_TRUE(selfSigned.requestsTo("/login").size() == 1u) << "the pinned request never reached the server";
    const NetworkTest::Outcome unreadable = run(signedByCa, "/nonexistent/ca.pem");
    EXPECT_FALSE(unreadable.success);
    EXPECT_TRUE(unreadable.error.startsWith("CA file /nonexistent/ca.pem cannot be read")) << unreadable.error.toStdString();
    EXPECT_EQ(signedByCa.requestsTo("/login").size(), 1u);
}
