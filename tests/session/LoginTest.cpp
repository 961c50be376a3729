// The login as a host sees it: the request the store server receives, the
// session callback for every kind of answer, and answers that are never
// taken for login answers.
#include "SessionFixture.h"
#include "StoreRequest.h"

#include <QHostInfo>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTest>

namespace {

using Answer = FakeStoreServer::Answer;

class LoginTest : public SessionFixture
{
};

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

TEST_F(LoginTest, AcceptedLoginPassesOnlyLabelIdAndNameAndOpensTheSession)
{
    store.answer("/login", R"({"state":0,"msg":"ok","token":"tok-9","brandId":"B1","brandLabelList":[)"
                           R"({"labelId":1,"labelName":"VIP","colour":"red"},)"
                           R"({"labelName":"New"},)"
                           R"({"labelId":"3","labelName":"Regular","rank":2}]})");
    startCore(store.baseUrl());
    ASSERT_EQ(core->Start(), NV_ERR_NO_SESSION);
    ASSERT_EQ(core->Login("  user ", " secret\t"), 0);
    ASSERT_TRUE(waitForCalls("session", 1));

    const HostCall login = callsOf("session").first();
    EXPECT_EQ(login.code, 0);
    EXPECT_EQ(login.text, "[\n    {\n        \"labelId\": 1,\n        \"labelName\": \"VIP\"\n    },\n"
                          "    {\n        \"labelName\": \"New\"\n    },\n"
                          "    {\n        \"labelId\": \"3\",\n        \"labelName\": \"Regular\"\n    }\n]\n");
    EXPECT_EQ(core->base().sessionToken(), "tok-9");
    EXPECT_EQ(core->base().brandId(), "B1");
    EXPECT_EQ(core->Start(), 0);
}

TEST_F(LoginTest, RequestCarriesTheTrimmedCredentialsAsIndentedJsonWithOneContentType)
{
    startCore(store.baseUrl());
    ASSERT_EQ(core->Login(" user\n", "\tsecret "), 0);
    ASSERT_TRUE(waitUntil([&] { return store.requestsTo("/login").size() == 1; }));
    const FakeStoreServer::Request request = store.requestsTo("/login").front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.body, "{\n    \"mac\": \"S-1\",\n    \"passWord\": \"secret\",\n    \"userName\": \"user\"\n}\n");
    EXPECT_EQ(request.headerCount("Content-Type"), 1u);
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_TRUE(log().contains("Login url:" + store.baseUrl() + "/login, mac: S-1, userName=user"));
}

TEST_F(LoginTest, BlankCredentialsAreRefusedWithoutARequest)
{
    startCore(store.baseUrl());
    EXPECT_EQ(core->Login("user", " \t"), NV_ERR_PARAM);
    EXPECT_EQ(core->Login("  ", "secret"), NV_ERR_PARAM);
    QTest::qWait(200);
    EXPECT_TRUE(store.requests().empty());
}

// The server's own state and message reach the host; the session that was
// open stays open.
TEST_F(LoginTest, RefusedLoginGivesTheServerStateAndKeepsTheEarlierToken)
{
    startCore(store.baseUrl());
    logIn("first");
    store.queue("/login", {200, R"({"state":1003,"msg":"wrong password"})"});
    ASSERT_EQ(core->Login("user", "other"), 0);
    ASSERT_TRUE(waitForCalls("session", 2));
    const HostCall refusal = callsOf("session").last();
    EXPECT_EQ(refusal.code, 1003);
    EXPECT_EQ(refusal.text, "wrong password");
    EXPECT_EQ(core->base().sessionToken(), "first");
    EXPECT_EQ(core->Start(), 0);
}

// Answers whose "state" is not a whole number count as accepted; an answer
// that is not a JSON object (a captive portal's page), or one without a
// token, opens no session and says what came back.
TEST_F(LoginTest, StateThatIsNotAWholeNumberReadsAsAccepted)
{
    startCore(store.baseUrl());
    store.queue("/login", {200, R"({"state":"1","token":"text-state"})"});
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_TRUE(waitForCalls("session", 1));
    EXPECT_EQ(callsOf("session").last().code, 0);
    EXPECT_EQ(core->base().sessionToken(), "text-state");

    store.queue("/login", {200, "<html>maintenance</html>", "text/html"});
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_TRUE(waitForCalls("session", 2));
    EXPECT_EQ(callsOf("session").last().code, NV_SESSION_BAD_ANSWER);
    EXPECT_EQ(callsOf("session").last().text, "Login answer is not a JSON object (text/html, 24 bytes)");
    EXPECT_EQ(core->base().sessionToken(), "text-state") << "a failed login, like a refused one, keeps the session";

    store.queue("/login", {200, R"({"state":0,"msg":"ok"})"});
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_TRUE(waitForCalls("session", 3));
    EXPECT_EQ(callsOf("session").last().code, NV_SESSION_BAD_ANSWER);
    EXPECT_EQ(callsOf("session").last().text, "Login answer has state 0 but no token (application/json, 22 bytes)");
    EXPECT_EQ(core->base().sessionToken(), "text-state");
}

TEST_F(LoginTest, NetworkFailuresGive6207WithQtsErrorNumber)
{
    startCore(QString("http://127.0.0.1:%1").arg(closedPort()));
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_TRUE(waitForCalls("session", 1));
    EXPECT_EQ(callsOf("session").last().code, NV_SESSION_NETWORK_ERROR);
    EXPECT_EQ(callsOf("session").last().text, "Network error(1)");
    EXPECT_TRUE(log().contains("ERROR root - Login erro: 1, ")) << log().toStdString();
}

// A server that takes the request and never answers must not leave the
// host waiting for ever.
TEST_F(LoginTest, SilentServerEndsInANetworkErrorAfterTheTimeOut)
{
    store.answer("/login", Answer{200, "", "application/json", 0, false, true});
    startCore(store.baseUrl());
    core->setRequestTimeout(300);
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_TRUE(waitForCalls("session", 1));
    EXPECT_EQ(callsOf("session").last().code, NV_SESSION_NETWORK_ERROR);
    EXPECT_EQ(callsOf("session").last().text, "Network error(5)");
}

// Each byte comes before the transfer time-out, but the whole answer would
// take a minute: it ends at twice the time-out, unread.
TEST_F(LoginTest, TricklingServerEndsInANetworkErrorAtTheAnswerLimit)
{
    Answer trickle{200, R"({"state":0,"token":"t"})" + std::string(600, ' '), "application/octet-stream"};
    trickle.chunked = true;
    trickle.chunkBytes = 1;
    trickle.chunkPauseMs = 100;
    store.answer("/login", trickle);
    startCore(store.baseUrl());
    core->setRequestTimeout(400);
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_TRUE(waitForCalls("session", 1, 10000));
    EXPECT_EQ(callsOf("session").last().code, NV_SESSION_NETWORK_ERROR);
    EXPECT_EQ(callsOf("session").last().text, "Network error(5)");
}

TEST_F(LoginTest, OversizedBrokenOrErrorStatusAnswersAreNetworkErrors)
{
    const std::string huge = R"({"state":0,"token":")" + std::string(StoreRequest::maxReplyBytes + 1, 'x') + "\"}";
    // A JSON answer goes out gzip-compressed (small on the wire, no usable
    // length); as plain bytes it is announced by its Content-Length, or not
    // at all when sent in chunks.
    store.queue("/login", {200, huge});
    store.queue("/login", {200, huge, "application/octet-stream"});
    Answer chunked{200, huge, "application/octet-stream"};
    chunked.chunked = true;
    store.queue("/login", chunked);
    store.queue("/login", Answer{200, R"({"state":0,"token":"t"})", "application/json", 0, true});
    store.queue("/login", {500, R"({"state":0,"token":"t"})"});
    startCore(store.baseUrl());
    for (int answer = 1; answer <= 5; ++answer) {
        ASSERT_EQ(core->Login("user", "secret"), 0);
        ASSERT_TRUE(waitForCalls("session", answer));
        EXPECT_EQ(callsOf("session").last().code, NV_SESSION_NETWORK_ERROR) << "answer " << answer;
    }
    EXPECT_EQ(log().count("cut off: Reply larger than 4194304 bytes"), 3) << log().left(2000).toStdString();
    EXPECT_EQ(callsOf("session").last().text, QString("Network error(%1)").arg(QNetworkReply::InternalServerError));
    EXPECT_EQ(core->base().sessionToken(), "");
}

// A login still pending when the host ends the library is dropped quietly.
TEST_F(LoginTest, CoreEndsWhileALoginIsPending)
{
    Answer never;
    never.never = true;
    store.answer("/login", never);
    startCore(store.baseUrl());
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_TRUE(waitUntil([&] { return store.requestsTo("/login").size() == 1; }));
    core.reset();
    QTest::qWait(100);
    EXPECT_TRUE(calls.isEmpty());
}

TEST_F(LoginTest, PasswordIsNeverLogged)
{
    store.answer("/login", R"({"state":7,"msg":"no"})");
    startCore(store.baseUrl());
    ASSERT_EQ(core->Login("user", "Pa55-unique"), 0);
    ASSERT_TRUE(waitForCalls("session", 1));
    EXPECT_TRUE(log().contains("Login return: ")) << "the log must be at TRACE for this test";
    EXPECT_FALSE(log().contains("Pa55-unique"));
}

TEST_F(LoginTest, NetworkErrorTextIsTranslated)
{
    install.installTranslation();
    startCore(QString("http://127.0.0.1:%1").arg(closedPort()));
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_TRUE(waitForCalls("session", 1));
    EXPECT_EQ(callsOf("session").last().text, QString::fromUtf8("网络错误(1)"));
}

// Answers are matched by the text of their address: a login address that
// Qt writes differently once parsed is never recognised.
TEST_F(LoginTest, LoginAddressChangedByParsingIsNeverAnswered)
{
    if (QHostInfo::fromName("localhost").addresses().isEmpty())
        GTEST_SKIP() << "the name localhost does not resolve here (no /etc/hosts?)";
    store.answer("/login", R"({"state":0,"token":"t"})");
    startCore(QString("http://LocalHost:%1").arg(store.port()));
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_TRUE(waitUntil([&] { return store.requestsTo("/login").size() == 1; }));
    QTest::qWait(500);
    EXPECT_TRUE(callsOf("session").isEmpty());
    EXPECT_EQ(core->base().sessionToken(), "");
    // The installer finds why in the log.
    EXPECT_TRUE(log().contains(QString("ERROR root - Login answer from http://localhost:%1/login ignored: it is not "
                                       "the login address http://LocalHost:%1/login as written")
                                   .arg(store.port())))
        << log().toStdString();
}

// With no trade path the trade address is the server base, which every
// login address begins with: login answers are taken for trade answers,
// and the host then hears that its login can never complete.
TEST_F(LoginTest, EmptyTradePathSendsLoginAnswersToTheTradeHandlerAndFailsTheLogin)
{
    store.answer("/login", R"({"state":401,"token":"t"})");
    startCore(store.baseUrl(), "LoginUrl=/login\n");
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_TRUE(waitForCalls("session", 2));
    EXPECT_EQ(callsOf("session").first().code, NV_SESSION_INVALID_TOKEN);
    EXPECT_EQ(callsOf("session").last().code, NV_SESSION_NETWORK_ERROR);
    EXPECT_TRUE(callsOf("session").last().text.startsWith("Login answer taken for a trade answer"));
    EXPECT_EQ(core->base().sessionToken(), "");
}

// A configuration without server and login path sends nothing and still
// answers the login, from the loop, never inside NV_Login.
TEST_F(LoginTest, EmptyLoginAddressEndsIn6207WithoutARequest)
{
    startCore("", "TradeUrl=/trade\n");
    ASSERT_EQ(core->Login("user", "secret"), 0);
    EXPECT_TRUE(callsOf("session").isEmpty());
    ASSERT_TRUE(waitForCalls("session", 1));
    EXPECT_EQ(callsOf("session").last().code, NV_SESSION_NETWORK_ERROR);
    EXPECT_EQ(callsOf("session").last().text,
              "No login address: Server/Server and Server/LoginUrl are empty in " + install.configFile());
    EXPECT_TRUE(log().contains("ERROR root - No login address")) << log().toStdString();
    EXPECT_TRUE(store.requests().empty());
}

TEST_F(LoginTest, NoLoginAddressTextIsTranslated)
{
    install.installTranslation();
    startCore("", "");
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_TRUE(waitForCalls("session", 1));
    EXPECT_EQ(callsOf("session").last().text,
              QString::fromUtf8("没有登录地址：%1 中的 Server/Server 和 Server/LoginUrl 为空").arg(install.configFile()));
}

TEST_F(LoginTest, HttpsWithASelfSignedCertificateWorks)
{
    FakeStoreServer secure(FakeStoreServer::Scheme::Https);
    ASSERT_TRUE(secure.isRunning());
    secure.answer("/login", R"({"state":0,"token":"tls"})");
    startCore(secure.baseUrl());
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_TRUE(waitForCalls("session", 1));
    EXPECT_EQ(callsOf("session").last().code, 0);
    EXPECT_EQ(core->base().sessionToken(), "tls");
}

// "HTTPS" gets no TLS settings of its own, and since Qt writes the scheme
// in lower case the answer's address never matches the configured one.
TEST_F(LoginTest, UpperCaseSchemeIsNeverAnswered)
{
    FakeStoreServer secure(FakeStoreServer::Scheme::Https);
    ASSERT_TRUE(secure.isRunning());
    secure.answer("/login", R"({"state":0,"token":"tls"})");
    startCore(QString("HTTPS://127.0.0.1:%1").arg(secure.port()));
    ASSERT_EQ(core->Login("user", "secret"), 0);
    QTest::qWait(1500);
    // The request itself gets through: every reply ignores TLS errors.
    EXPECT_EQ(secure.requestsTo("/login").size(), 1u);
    EXPECT_TRUE(callsOf("session").isEmpty());
    EXPECT_EQ(core->base().sessionToken(), "");
}

} // namespace
