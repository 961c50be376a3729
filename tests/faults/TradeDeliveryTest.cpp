// Trades are money: through the real library in the plain C host, each way
// the store server or the till fails leaves every trade accepted exactly
// once (the fake server drops repeats by their key), with its body as the
// host's, and the host told while trades are held.
#include "FakeStoreServer.h"
#include "HostProcess.h"
#include "TestInstall.h"
#include "nerova.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <set>

namespace {

using Answer = FakeStoreServer::Answer;

const char tradeText[] = R"({"amount":%1,"mobilePhone":"13912345678","mac":"host"})";
const char notJsonPage[] = "<html><body>Sign in to the shop's Wi-Fi</body></html>";

Answer dropped()
{
    Answer answer;
    answer.drop = true;
    return answer;
}

// Taken by the server at once, answered after the host was killed.
Answer acceptedLate()
{
    Answer answer;
    answer.delayMs = 1500;
    return answer;
}

std::string bodyOf(int amount)
{
    return "{\n    \"amount\": " + std::to_string(amount)
         + ",\n    \"mac\": \"S1\",\n    \"mobilePhone\": \"13912345678\"\n}\n";
}

class TradeDeliveryTest : public ::testing::Test
{
protected:
    // A fresh installation for the store, the backoff's first wait short.
    std::unique_ptr<TestInstall> installFor(const FakeStoreServer &store, const QString &extra = QString())
    {
        auto install = std::make_unique<TestInstall>();
        install->writeConfig(TestInstall::fileLogGroup("nerova")
                             + QString("[Server]\nServer=%1\nLoginUrl=/login\nTradeUrl=/trade\n"
                                       "TradeRetryDelay=100\nTradeRetryMaxDelay=400\n%2"
                                       "[Nerova]\nDeviceId=S1\n[Probe]\nProbeEnabled=false\n"
                                       "[Face]\nFaceEnabled=false\n")
                                 .arg(store.baseUrl(), extra));
        return install;
    }

    // A host with NV_Init done and logged in with the token.
    static std::unique_ptr<HostProcess> loggedInHost(FakeStoreServer &store, const QStringList &reactions = {},
                                                     const std::string &token = "tok-1")
    {
        auto host = std::make_unique<HostProcess>(HostProcess::Kind::C);
        EXPECT_TRUE(host->isLoaded());
        for (const QString &reaction : reactions)
            EXPECT_EQ(host->run(reaction), 0);
        EXPECT_EQ(host->run("init"), 0);
        logIn(*host, store, token);
        return host;
    }

    static void logIn(HostProcess &host, FakeStoreServer &store, const std::string &token)
    {
        store.queue("/login", Answer{200, R"({"state":0,"token":")" + token + R"("})"});
        EXPECT_EQ(host.run("login cashier secret"), 0);
        EXPECT_FALSE(host.nextCallback("session", 0).isEmpty());
    }

    // The codes of the outbox's notices, in the order the host heard them.
    static std::vector<int> outboxNotices(HostProcess &host)
    {
        std::vector<int> codes;
        for (const QJsonObject &line : host.lines("callback", "notify")) {
            const int code = line.value("code").toInt();
            if (code == NV_NOTIFY_TRADES_HELD || code == NV_NOTIFY_TRADES_ANSWERED || code == NV_NOTIFY_TRADE_NOT_KEPT)
                codes.push_back(code);
        }
        return codes;
    }

    // The text of the notice that the outbox is empty again, if it came.
    static QString answeredNotice(HostProcess &host)
    {
        for (const QJsonObject &line : host.lines("callback", "notify")) {
            if (line.value("code").toInt() == NV_NOTIFY_TRADES_ANSWERED)
                return line.value("text").toString();
        }
        return QString();
    }

    static std::set<std::string> keysSent(const FakeStoreServer &store)
    {
        std::set<std::string> keys;
        for (const FakeStoreServer::Request &request : store.requestsTo("/trade"))
            keys.insert(request.header("Idempotency-Key"));
        return keys;
    }
};

struct DeliveryRow
{
    const char *name;
    std::vector<Answer> answers; // to the trade's first attempts; then {"state":0}
    bool held;                   // the host hears 6110, then 6111
    bool relogin;                // a 401 ends the session; the host logs in again inside 6106
    bool killed;                 // the host is killed once NV_ReportData (on a thread of its own) has returned
    const char *refusal;         // the server refuses the trade with this message
};

TEST_F(TradeDeliveryTest, EveryTradeIsAcceptedOnceWhateverFails)
{
    const std::string refusal = R"({"state":7,"msg":"duplicate trade"})";
    const DeliveryRow rows[] = {
        {"dropped connection", {dropped()}, true, false, false, nullptr},
        {"503 twice then 200", {Answer{503, notJsonPage, "text/html"}, Answer{503, "{}"}}, true, false, false, nullptr},
        {"a page that is not JSON, answered 200", {Answer{200, notJsonPage, "text/html"}}, true, false, false, nullptr},
        {"401 then a new login", {Answer{401, ""}}, true, true, false, nullptr},
        {"refusal", {Answer{200, refusal}}, false, false, false, "duplicate trade"},
        {"host killed after NV_ReportData", {acceptedLate()}, true, false, true, nullptr},
    };
    int amount = 0;
    for (const DeliveryRow &row : rows) {
        SCOPED_TRACE(row.name);
        FakeStoreServer store;
        ASSERT_TRUE(store.isRunning());
        auto install = installFor(store);
        for (const Answer &answer : row.answers)
            store.queue("/trade", answer);
        store.answer("/trade", R"({"state":0})");
        store.answer("/login", R"({"state":0,"token":"tok-2"})");
        auto host = loggedInHost(store, row.relogin ? QStringList{"on session 6106 login cashier secret"} : QStringList{});
        ++amount;
        const QString report = QString(row.killed ? "report-thread " : "report ") + QString(tradeText).arg(amount);
        ASSERT_EQ(host->run(report), 0);

        if (row.killed) {
            ::kill(static_cast<pid_t>(host->pid()), SIGKILL);
            host->finish();
            host = std::make_unique<HostProcess>(HostProcess::Kind::C);
            ASSERT_EQ(host->run("init"), 0);
            EXPECT_EQ(host->nextCallback("notify", NV_NOTIFY_TRADES_HELD).value("text").toString(), "held: 1");
            logIn(*host, store, "tok-3");
        }
        if (row.refusal) {
            EXPECT_EQ(host->nextCallback("notify", NV_NOTIFY_TRADE_REFUSED).value("text").toString(), row.refusal);
        } else {
            EXPECT_TRUE(host->loopUntil([&] { return answeredNotice(*host) == "held: 0"; }, 10000));
        }
        host->run("loop 300");

        const auto sent = store.requestsTo("/trade");
        ASSERT_FALSE(sent.empty());
        const std::string key = sent.front().header("Idempotency-Key");
        EXPECT_EQ(keysSent(store), std::set<std::string>{key}) << "one trade, one key";
        for (const FakeStoreServer::Request &request : sent)
            EXPECT_EQ(request.body, bodyOf(amount));
        if (row.refusal) {
            EXPECT_EQ(sent.size(), 1u) << "a refusal is final";
            EXPECT_TRUE(store.acceptedKeys().empty());
        } else {
            EXPECT_EQ(store.acceptedKeys(), std::vector<std::string>{key});
        }
        // The killed host may have died before its trade went out; if not,
        // the new host's attempt was a repeat.
        const size_t attempts = row.killed ? sent.size() - static_cast<size_t>(store.repeatsOf(key))
                                           : sent.size();
        EXPECT_EQ(attempts, row.killed ? 1u : row.answers.size() + (row.refusal ? 0 : 1));
        if (row.relogin) {
            EXPECT_EQ(sent.back().query, "token=tok-2");
            EXPECT_EQ(host->lines("callback", "session").size(), 3) << "one login, one 6106, one login";
        }
        const std::vector<int> heldThenAnswered{NV_NOTIFY_TRADES_HELD, NV_NOTIFY_TRADES_ANSWERED};
        EXPECT_EQ(outboxNotices(*host), row.held ? heldThenAnswered : std::vector<int>{});
        if (row.held && !row.killed) {
            EXPECT_EQ(host->lines("callback", "notify").first().value("text").toString(), "held: 1");
        }
        EXPECT_EQ(host->run("uninit"), 0);
        ASSERT_TRUE(host->finish());
        EXPECT_TRUE(host->exitedCleanly()) << host->errorOutput().toStdString();
    }
}

// A full outbox keeps what it holds: the trade it cannot take is the only
// one lost, and the host and the log say so.
TEST_F(TradeDeliveryTest, AFullOutboxLosesOnlyTheTradeItCannotTake)
{
    FakeStoreServer store;
    ASSERT_TRUE(store.isRunning());
    auto install = installFor(store, "TradeOutboxMax=2\n");
    auto host = loggedInHost(store);
    store.down();
    for (int amount = 1; amount <= 3; ++amount)
        ASSERT_EQ(host->run(QString("report ") + QString(tradeText).arg(amount)), 0);
    EXPECT_EQ(host->nextCallback("notify", NV_NOTIFY_TRADE_NOT_KEPT).value("text").toString(),
              "held: 2, not kept: 1");
    EXPECT_TRUE(install->logText("nerova.log").contains("ERROR root - Trade not kept, the trade outbox is full (2 trades"))
        << install->logText("nerova.log").toStdString();

    // Only a trade that failed is held: on a slow machine the first one may
    // still be connecting, and would reach the server brought back up.
    EXPECT_TRUE(host->loopUntil([&] {
        const std::vector<int> codes = outboxNotices(*host);
        return std::find(codes.begin(), codes.end(), NV_NOTIFY_TRADES_HELD) != codes.end();
    }, 10000));

    store.answer("/trade", R"({"state":0})");
    ASSERT_TRUE(store.up());
    EXPECT_TRUE(host->loopUntil([&] { return answeredNotice(*host) == "held: 0"; }, 10000));
    std::set<std::string> accepted;
    for (const FakeStoreServer::Request &request : store.requestsTo("/trade"))
        accepted.insert(request.body);
    EXPECT_EQ(accepted, (std::set<std::string>{bodyOf(1), bodyOf(2)})) << "the third trade was never kept";
    EXPECT_EQ(store.acceptedKeys().size(), 2u);
    // Held and full come in the order the failure and the third report meet.
    std::vector<int> codes = outboxNotices(*host);
    ASSERT_EQ(codes.size(), 3u);
    std::sort(codes.begin(), codes.end() - 1);
    EXPECT_EQ(codes, (std::vector<int>{NV_NOTIFY_TRADES_HELD, NV_NOTIFY_TRADE_NOT_KEPT, NV_NOTIFY_TRADES_ANSWERED}));
    EXPECT_EQ(host->run("uninit"), 0);
    ASSERT_TRUE(host->finish());
    EXPECT_TRUE(host->exitedCleanly()) << host->errorOutput().toStdString();
}

// NV_Uninit inside each of the outbox's notices; the host then starts the
// library anew, and the held trade still goes out.
TEST_F(TradeDeliveryTest, UninitFromInsideEachTradeNoticeLeavesTheHostRunning)
{
    const struct
    {
        int code;
        QString extra;
        std::vector<Answer> answers;
        int reports;
    } rows[] = {
        {NV_NOTIFY_TRADES_HELD, "", {dropped()}, 1},
        {NV_NOTIFY_TRADES_ANSWERED, "", {dropped()}, 1},
        {NV_NOTIFY_TRADE_NOT_KEPT, "TradeOutboxMax=1\n", {dropped(), dropped(), dropped()}, 2},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.code);
        FakeStoreServer store;
        ASSERT_TRUE(store.isRunning());
        auto install = installFor(store, row.extra);
        for (const Answer &answer : row.answers)
            store.queue("/trade", answer);
        store.answer("/trade", R"({"state":0})");
        auto host = loggedInHost(store, {QString("on notify %1 uninit").arg(row.code)});
        for (int amount = 1; amount <= row.reports; ++amount)
            ASSERT_EQ(host->run(QString("report ") + QString(tradeText).arg(amount)), 0);
        EXPECT_FALSE(host->next([](const QJsonObject &l) { return l.value("cmd") == "uninit"; }).isEmpty());

        EXPECT_EQ(host->run("init"), 0);
        logIn(*host, store, "tok-2");
        EXPECT_TRUE(host->loopUntil([&] { return store.acceptedKeys().size() == 1; }, 10000));
        EXPECT_EQ(host->run("uninit"), 0);
        ASSERT_TRUE(host->finish());
        EXPECT_TRUE(host->exitedCleanly()) << host->errorOutput().toStdString();
    }
}

} // namespace
