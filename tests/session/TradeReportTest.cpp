// Trade reports: what the store server receives, and what the host is told
// for each kind of answer.
#include "SessionFixture.h"
#include "StoreProtocol.h"
#include "TradeJournalFormat.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

class TradeReportTest : public SessionFixture
{
protected:
    void SetUp() override
    {
        SessionFixture::SetUp();
        store.answer("/trade", R"({"state":0})");
        startCore(store.baseUrl(), "LoginUrl=/login\nTradeUrl=/trade\nTradeRetryDelay=100\n");
        logIn();
        ASSERT_EQ(core->Start(), 0);
    }

    // Reports and waits until the store has received reports in all.
    void report(const QString &data, size_t reports)
    {
        ASSERT_EQ(core->ReportData(data), 0);
        ASSERT_TRUE(waitUntil([&] { return store.requestsTo("/trade").size() == reports; }));
    }
};

QJsonObject sentTrade(const QString &hostText)
{
    return QJsonDocument::fromJson(StoreProtocol::tradeBody(hostText, "S-1")).object();
}

TEST(TradeBodyTest, MobilePhoneIsKeptOnlyForAnElevenDigitMobileNumberText)
{
    const auto kept = [](const QString &phoneJson) {
        return sentTrade(R"({"mobilePhone":)" + phoneJson + "}").contains("mobilePhone");
    };
    EXPECT_TRUE(kept(R"("13812345678")"));
    EXPECT_TRUE(kept(R"("19912345678")"));
    EXPECT_FALSE(kept(R"("12812345678")"));
    EXPECT_FALSE(kept(R"("1381234567")"));
    EXPECT_FALSE(kept(R"("138123456789")"));
    EXPECT_FALSE(kept(R"(" 13812345678")"));
    EXPECT_FALSE(kept(R"("13812345678\n")"));
    EXPECT_FALSE(kept("13812345678"));
    EXPECT_FALSE(kept("null"));
}

TEST(TradeBodyTest, MacIsTheStoreNumberAndKeysAreSorted)
{
    EXPECT_EQ(StoreProtocol::tradeBody(R"({"mac":"host","zeta":1,"amount":2.5})", "S-1"),
              "{\n    \"amount\": 2.5,\n    \"mac\": \"S-1\",\n    \"zeta\": 1\n}\n");
    EXPECT_EQ(StoreProtocol::tradeBody("not json", "S-1"), "{\n    \"mac\": \"S-1\"\n}\n");
    EXPECT_EQ(StoreProtocol::tradeBody("[1,2]", "S-1"), "{\n    \"mac\": \"S-1\"\n}\n");
}

TEST(TradeBodyTest, TheProblemOfATextThatIsNoObjectIsNamed)
{
    EXPECT_EQ(StoreProtocol::tradeTextProblem(R"({"amount":1,"amount":2})"), "");
    EXPECT_EQ(StoreProtocol::tradeTextProblem("[1,2]"), "a JSON array");
    EXPECT_EQ(StoreProtocol::tradeTextProblem(R"({"amount":1,})"), "not JSON: object is missing after a comma at byte 13");
    EXPECT_TRUE(StoreProtocol::tradeTextProblem("").startsWith("not JSON: "));
    EXPECT_TRUE(StoreProtocol::tradeTextProblem(R"({"a":1,"a":[})").startsWith("not JSON: "));
}

TEST(TradeStateTest, StateIsANumberOrNumericText)
{
    const auto state = [](const char *answer) { return StoreProtocol::tradeState(StoreProtocol::replyObject(answer)); };
    EXPECT_EQ(state(R"({"state":401})"), 401);
    EXPECT_EQ(state(R"({"state":"401"})"), 401);
    EXPECT_EQ(state(R"({"state":7.9})"), 7);
    EXPECT_EQ(state(R"({"state":-7.9})"), -7);
    EXPECT_EQ(state(R"({"state":"abc"})"), 0);
    EXPECT_EQ(state(R"({"state":true})"), 0);
    EXPECT_EQ(state(R"({"msg":"none"})"), 0);
    EXPECT_EQ(state(""), 0);
}

TEST_F(TradeReportTest, ReportCarriesThePercentEncodedTokenAndTheCheckedObject)
{
    core->base().setSession("a b&c=d", "B");
    report(R"({"mac":"host","mobilePhone":"13812345678","amount":3})", 1);
    const FakeStoreServer::Request sent = store.requestsTo("/trade").front();
    EXPECT_EQ(sent.query, "token=a%20b%26c%3Dd");
    EXPECT_EQ(sent.header("Content-Type"), "application/json");
    EXPECT_EQ(sent.body, "{\n    \"amount\": 3,\n    \"mac\": \"S-1\",\n    \"mobilePhone\": \"13812345678\"\n}\n");
    EXPECT_TRUE(TradeJournalFormat::isKey(QByteArray::fromStdString(sent.header("Idempotency-Key"))));
    EXPECT_TRUE(log().contains("Report trace data: {"));
    EXPECT_TRUE(waitUntil([&] { return log().contains("Report trace data result: {\"state\":0}"); }));
    EXPECT_TRUE(calls.size() == 1) << "only the login's callback";
}

TEST_F(TradeReportTest, ReportNeedsAnInitialisedCoreAndASession)
{
    core->base().clearSession();
    EXPECT_EQ(core->ReportData("{}"), NV_ERR_NO_SESSION);
    HNerovaCore uninitialised(nullptr, nullptr, nullptr);
    EXPECT_EQ(uninitialised.ReportData("{}"), NV_ERR_NOT_INIT);
}

TEST_F(TradeReportTest, RefusalOtherThan401IsNotifiedWithTheServersMessage)
{
    store.queue("/trade", {200, R"({"state":7.9,"msg":"duplicate trade"})"});
    report("{}", 1);
    ASSERT_TRUE(waitForCalls("notify", 1));
    EXPECT_EQ(callsOf("notify").last().code, NV_NOTIFY_TRADE_REFUSED);
    EXPECT_EQ(callsOf("notify").last().text, "duplicate trade");
    EXPECT_EQ(core->base().sessionToken(), "tok-1");
}

// 401, as a number or as text, ends the session: the workers stop, the
// token goes and the host is told, once for the token; the trades sent
// with it stay, and go out in order with the next login's token.
TEST_F(TradeReportTest, A401EndsTheSessionOnceAndItsTradesGoOutAfterTheNextLogin)
{
    store.queue("/trade", {200, R"({"state":401})"});
    store.queue("/trade", {200, R"({"state":"401"})"});
    const int stopsBefore = log().count("Stop working");
    ASSERT_EQ(core->ReportData(R"({"n":1})"), 0);
    ASSERT_EQ(core->ReportData(R"({"n":2})"), 0);
    ASSERT_TRUE(waitForCalls("session", 2));
    ASSERT_TRUE(waitForCalls("notify", 1));
    QTest::qWait(200);
    ASSERT_EQ(callsOf("session").size(), 2) << "one 6106 for one token";
    EXPECT_EQ(callsOf("session")[1].code, NV_SESSION_INVALID_TOKEN);
    EXPECT_EQ(callsOf("session")[1].text, "Invalid token");
    EXPECT_EQ(callsOf("notify")[0].code, NV_NOTIFY_TRADES_HELD);
    EXPECT_EQ(callsOf("notify")[0].text, "held: 2");
    EXPECT_EQ(log().count("Stop working"), stopsBefore + 1);
    EXPECT_EQ(core->base().sessionToken(), "");
    EXPECT_EQ(core->base().brandId(), "");
    EXPECT_FALSE(core->isStarted());
    EXPECT_EQ(core->Start(), NV_ERR_NO_SESSION);
    EXPECT_EQ(core->ReportData("{}"), NV_ERR_NO_SESSION);

    logIn("tok-2");
    ASSERT_TRUE(waitForCalls("notify", 2));
    EXPECT_EQ(callsOf("notify")[1].code, NV_NOTIFY_TRADES_ANSWERED);
    const auto sent = store.requestsTo("/trade");
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[2].query, "token=tok-2");
    EXPECT_EQ(sent[2].body, "{\n    \"mac\": \"S-1\",\n    \"n\": 1\n}\n");
    EXPECT_EQ(sent[3].body, "{\n    \"mac\": \"S-1\",\n    \"n\": 2\n}\n");
    EXPECT_EQ(store.acceptedKeys().size(), 2u);
}

// A failed request has no answer: the trade stays, the host hears that it
// is held, and it goes out again until the server takes it.
TEST_F(TradeReportTest, ANetworkFailureHoldsTheTradeUntilTheServerAnswers)
{
    store.queue("/trade", FakeStoreServer::Answer{200, R"({"state":401})", "application/json", 0, true});
    report("{}", 1);
    ASSERT_TRUE(waitForCalls("notify", 2));
    EXPECT_EQ(callsOf("notify")[0].code, NV_NOTIFY_TRADES_HELD);
    EXPECT_EQ(callsOf("notify")[0].text, "held: 1");
    EXPECT_EQ(callsOf("notify")[1].code, NV_NOTIFY_TRADES_ANSWERED);
    EXPECT_EQ(callsOf("notify")[1].text, "held: 0");
    EXPECT_EQ(store.requestsTo("/trade").size(), 2u);
    EXPECT_EQ(store.acceptedKeys().size(), 1u);
    EXPECT_EQ(core->base().sessionToken(), "tok-1");
    EXPECT_TRUE(log().contains("ERROR root - Trade not answered (")) << log().toStdString();
}

} // namespace
