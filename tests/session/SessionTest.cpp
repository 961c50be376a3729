// The session over its life: logout, logins that overlap, HTTP failures,
// texts outside ASCII, edited addresses, TLS for trade reports and answers
// that must never reach the host.
#include "SessionFixture.h"

#include <QTest>

#include <thread>

namespace {

class SessionTest : public SessionFixture
{
protected:
    // Waits until the store has received count requests for path.
    bool waitForRequests(FakeStoreServer &server, const std::string &path, size_t count)
    {
        return waitUntil([&] { return server.requestsTo(path).size() >= count; });
    }

    // After the request is seen, gives a wrongly handled answer the time to arrive.
    void settle() { QTest::qWait(300); }
};

// Logout is local: the workers stop, the session goes, nothing is sent;
// without a session it still stops and answers 0.
TEST_F(SessionTest, LogoutEndsTheSessionWithoutTellingTheServer)
{
    startCore(store.baseUrl());
    logIn("tok-1");
    ASSERT_EQ(core->Start(), 0);
    const int stops = log().count("Stop working");

    EXPECT_EQ(core->Logout(), 0);
    EXPECT_FALSE(core->isStarted());
    EXPECT_EQ(core->base().sessionToken(), "");
    EXPECT_EQ(core->base().brandId(), "");
    EXPECT_EQ(core->Start(), NV_ERR_NO_SESSION);
    EXPECT_EQ(core->ReportData("{}"), NV_ERR_NO_SESSION);
    EXPECT_EQ(core->Logout(), 0);
    EXPECT_EQ(log().count("Stop working"), stops + 2);
    settle();
    EXPECT_EQ(store.requests().size(), 1u) << "only the login";
    EXPECT_EQ(calls.size(), 1) << "only the login's callback";
}

// A worker on another thread ends the session through the base: on the
// host thread the workers stop and the session goes first, then the host
// hears 6106.
TEST_F(SessionTest, AWorkerThreadEndsTheSessionOnTheHostThread)
{
    startCore(store.baseUrl());
    logIn("tok-1");
    ASSERT_EQ(core->Start(), 0);
    std::thread worker([this] { core->base().requestSessionEnd(); });
    worker.join();
    EXPECT_TRUE(core->isStarted()) << "nothing happens before the host thread runs its loop";
    ASSERT_TRUE(waitForCalls("session", 2));
    EXPECT_EQ(calls.last().code, NV_SESSION_INVALID_TOKEN);
    EXPECT_FALSE(core->isStarted());
    EXPECT_EQ(core->base().sessionToken(), "");
}

// Each answer of overlapping logins is handled as it arrives; the token is
// the one of the answer that came last.
TEST_F(SessionTest, OverlappingLoginsAreHandledInArrivalOrder)
{
    store.queue("/login", {200, R"({"state":0,"token":"slow","brandLabelList":[{"labelName":"S"}]})",
                           "application/json", 800});
    store.queue("/login", {200, R"({"state":0,"token":"fast","brandLabelList":[{"labelName":"F"}]})"});
    startCore(store.baseUrl());
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_EQ(core->Login("user", "secret"), 0);

    ASSERT_TRUE(waitForCalls("session", 1));
    EXPECT_TRUE(callsOf("session")[0].text.contains("\"F\""));
    EXPECT_EQ(core->base().sessionToken(), "fast");
    ASSERT_TRUE(waitForCalls("session", 2));
    EXPECT_TRUE(callsOf("session")[1].text.contains("\"S\""));
    EXPECT_EQ(core->base().sessionToken(), "slow");
}

// An HTTP error status is a network error with Qt's number, whatever the
// body says; the open session stays.
TEST_F(SessionTest, HttpErrorStatusOfALoginIsANetworkError)
{
    startCore(store.baseUrl());
    logIn("first");
    store.queue("/login", {500, R"({"state":0,"token":"second"})"});
    store.queue("/login", {404, R"({"state":0,"token":"third"})"});
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_TRUE(waitForCalls("session", 2));
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_TRUE(waitForCalls("session", 3));

    EXPECT_EQ(callsOf("session")[1].code, NV_SESSION_NETWORK_ERROR);
    EXPECT_EQ(callsOf("session")[1].text, "Network error(401)"); // Qt's InternalServerError
    EXPECT_EQ(callsOf("session")[2].code, NV_SESSION_NETWORK_ERROR);
    EXPECT_EQ(callsOf("session")[2].text, "Network error(203)"); // Qt's ContentNotFoundError
    EXPECT_TRUE(log().contains("ERROR root - Login erro: 401, ")) << log().toStdString();
    EXPECT_EQ(core->base().sessionToken(), "first");
}

TEST_F(SessionTest, TextsOutsideAsciiSurviveTheLogin)
{
    store.queue("/login", {200, R"({"state":1003,"msg":"密码错误"})"});
    store.queue("/login", {200, R"({"state":0,"token":"令牌 1","brandId":"品牌",)"
                                R"("brandLabelList":[{"labelId":"会员","labelName":"常客"}]})"});
    startCore(store.baseUrl());
    ASSERT_EQ(core->Login(QString::fromUtf8(" 店长 ").toUtf8(), QString::fromUtf8("密码").toUtf8()), 0);
    ASSERT_TRUE(waitForCalls("session", 1));
    EXPECT_EQ(callsOf("session")[0].text, QString::fromUtf8("密码错误"));
    EXPECT_EQ(store.requestsTo("/login")[0].body,
              "{\n    \"mac\": \"S-1\",\n    \"passWord\": \"密码\",\n    \"userName\": \"店长\"\n}\n");
    EXPECT_TRUE(log().contains(QString::fromUtf8("userName=店长\n")));

    ASSERT_EQ(core->Login(QString::fromUtf8("店长").toUtf8(), QString::fromUtf8("密码").toUtf8()), 0);
    ASSERT_TRUE(waitForCalls("session", 2));
    EXPECT_EQ(callsOf("session")[1].code, 0);
    EXPECT_EQ(callsOf("session")[1].text,
              QString::fromUtf8("[\n    {\n        \"labelId\": \"会员\",\n        \"labelName\": \"常客\"\n    }\n]\n"));
    EXPECT_EQ(core->base().sessionToken(), QString::fromUtf8("令牌 1"));
    EXPECT_EQ(core->base().brandId(), QString::fromUtf8("品牌"));

    // The token goes into the query as percent-encoded UTF-8.
    store.answer("/trade", R"({"state":9,"msg":"重复交易"})");
    ASSERT_EQ(core->ReportData(QString::fromUtf8(R"({"note":"现金"})")), 0);
    ASSERT_TRUE(waitForCalls("notify", 1));
    const FakeStoreServer::Request trade = store.requestsTo("/trade").at(0);
    EXPECT_EQ(trade.query, "token=%E4%BB%A4%E7%89%8C%201");
    EXPECT_EQ(trade.body, "{\n    \"mac\": \"S-1\",\n    \"note\": \"现金\"\n}\n");
    EXPECT_EQ(callsOf("notify")[0].code, NV_NOTIFY_TRADE_REFUSED);
    EXPECT_EQ(callsOf("notify")[0].text, QString::fromUtf8("重复交易"));
}

// Paths edited while the library runs are used, and recognised, from the
// next exchange on.
TEST_F(SessionTest, EditedPathsApplyToTheNextLoginAndReport)
{
    startCore(store.baseUrl());
    logIn("tok-1");
    install.replaceConfig(TestInstall::fileLogGroup("nerova") + "[Server]\nServer=" + store.baseUrl()
                          + "\nLoginUrl=/v2/login\nTradeUrl=/v2/trade\n[Nerova]\nDeviceId=S-2\n" + quietWorkers);
    ASSERT_TRUE(waitUntil([&] {
        return core->loginUrl().endsWith("/v2/login") && core->base().config()->tradeUrl.endsWith("/v2/trade");
    }));

    store.answer("/v2/login", R"({"state":0,"token":"tok-2"})");
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_TRUE(waitForCalls("session", 2));
    EXPECT_EQ(callsOf("session")[1].code, 0);
    EXPECT_EQ(core->base().sessionToken(), "tok-2");
    EXPECT_TRUE(store.requestsTo("/v2/login").at(0).body.find("\"mac\": \"S-2\"") != std::string::npos);

    store.answer("/v2/trade", R"({"state":401})");
    ASSERT_EQ(core->ReportData("{}"), 0);
    ASSERT_TRUE(waitForCalls("session", 3));
    EXPECT_EQ(callsOf("session")[2].code, NV_SESSION_INVALID_TOKEN);
    EXPECT_EQ(store.requestsTo("/v2/trade").at(0).query, "token=tok-2");
    EXPECT_TRUE(store.requestsTo("/trade").empty());
}

// With no trade path an accepted login answer goes to the trade handler:
// state 0 there tells the host nothing, and no session opens; the host
// hears only that its login failed.
TEST_F(SessionTest, EmptyTradePathMeansNoLoginEverCompletes)
{
    store.answer("/login", R"({"state":0,"token":"t","brandLabelList":[]})");
    startCore(store.baseUrl(), "LoginUrl=/login\n");
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_TRUE(waitUntil([&] { return log().contains("Report trace data result: {\"state\":0"); }));
    settle();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls.first().code, NV_SESSION_NETWORK_ERROR);
    EXPECT_EQ(core->base().sessionToken(), "");
    EXPECT_EQ(core->Start(), NV_ERR_NO_SESSION);
}

TEST_F(SessionTest, TradeOverHttpsWithASelfSignedCertificate)
{
    FakeStoreServer secure(FakeStoreServer::Scheme::Https);
    ASSERT_TRUE(secure.isRunning());
    secure.answer("/login", R"({"state":0,"token":"tls"})");
    secure.answer("/trade", R"({"state":401})");
    startCore(secure.baseUrl());
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_TRUE(waitForCalls("session", 1));
    ASSERT_EQ(callsOf("session")[0].code, 0);

    ASSERT_EQ(core->ReportData(R"({"mobilePhone":"13812345678"})"), 0);
    ASSERT_TRUE(waitForCalls("session", 2));
    EXPECT_EQ(callsOf("session")[1].code, NV_SESSION_INVALID_TOKEN);
    const FakeStoreServer::Request trade = secure.requestsTo("/trade").at(0);
    EXPECT_EQ(trade.query, "token=tls");
    EXPECT_EQ(trade.headerCount("Content-Type"), 1u);
    EXPECT_EQ(trade.header("Content-Type"), "application/json");
    EXPECT_EQ(trade.body, "{\n    \"mac\": \"S-1\",\n    \"mobilePhone\": \"13812345678\"\n}\n");
}

// The request gets through (TLS errors are ignored on every reply), and
// its answer is the trade's although Qt writes the scheme in lower case.
TEST_F(SessionTest, TradeUrlWithUpperCaseSchemeIsAnsweredAllTheSame)
{
    FakeStoreServer secure(FakeStoreServer::Scheme::Https);
    ASSERT_TRUE(secure.isRunning());
    secure.answer("/trade", R"({"state":401})");
    startCore(QString("HTTPS://127.0.0.1:%1").arg(secure.port()));
    core->base().setSession("tok-1", "B");
    ASSERT_EQ(core->ReportData("{}"), 0);
    ASSERT_TRUE(waitForRequests(secure, "/trade", 1));
    ASSERT_TRUE(waitForCalls("session", 1));
    EXPECT_EQ(callsOf("session")[0].code, NV_SESSION_INVALID_TOKEN);
    EXPECT_EQ(core->base().sessionToken(), "");
    EXPECT_TRUE(log().contains("Report trace data result"));
}

// An answer beyond the size bound is dropped before it is read: it is no
// answer, whatever it says, and the trade is sent again.
TEST_F(SessionTest, OversizedTradeAnswerIsNoAnswer)
{
    const std::string huge = R"({"state":401,"msg":")" + std::string(5 * 1024 * 1024, 'x') + "\"}";
    store.queue("/trade", {200, huge, "application/octet-stream"});
    store.answer("/trade", R"({"state":0})");
    startCore(store.baseUrl(), "LoginUrl=/login\nTradeUrl=/trade\nTradeRetryDelay=100\n");
    logIn("tok-1");
    ASSERT_EQ(core->ReportData("{}"), 0);
    ASSERT_TRUE(waitUntil([&] { return log().contains("Report trace data result: \n"); }));
    ASSERT_TRUE(waitForCalls("notify", 2));
    EXPECT_EQ(callsOf("notify")[0].code, NV_NOTIFY_TRADES_HELD);
    EXPECT_EQ(callsOf("notify")[1].code, NV_NOTIFY_TRADES_ANSWERED);
    EXPECT_EQ(store.acceptedKeys().size(), 1u);
    EXPECT_EQ(core->base().sessionToken(), "tok-1");
}

TEST_F(SessionTest, InvalidTokenTextIsTranslated)
{
    install.installTranslation();
    store.answer("/trade", R"({"state":"401"})");
    startCore(store.baseUrl());
    logIn("tok-1");
    ASSERT_EQ(core->ReportData("{}"), 0);
    ASSERT_TRUE(waitForCalls("session", 2));
    EXPECT_EQ(callsOf("session")[1].code, NV_SESSION_INVALID_TOKEN);
    EXPECT_EQ(callsOf("session")[1].text, QString::fromUtf8("无效的令牌"));
}

} // namespace
