// A host's whole session with the store server, through the real exports
// of the library loaded by the plain C host: login, start, trade reports,
// and the end of the session by the server.
#include "FakeStoreServer.h"
#include "HostProcess.h"
#include "TestInstall.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace {

const char acceptedLogin[] = R"({"state":0,"msg":"ok","token":"tok 1","brandId":"B7","brandLabelList":[)"
                             R"({"labelId":1,"labelName":"VIP","extra":true},)"
                             R"({"labelId":2,"labelName":"常客"},)"
                             R"({"labelId":3,"labelName":"新客","color":"red"}]})";

class SessionEndToEndTest : public ::testing::Test
{
protected:
    void configure(const QString &base)
    {
        install.writeConfig(TestInstall::fileLogGroup("nerova")
                            + QString("[Server]\nServer=%1\nLoginUrl=/login\nTradeUrl=/trade\n"
                                      "[Nerova]\nDeviceId=STORE-9\n")
                                  .arg(base));
    }

    // Logs in through the host and waits for the session callback.
    QJsonObject logIn(HostProcess &host)
    {
        EXPECT_EQ(host.run("init"), 0);
        EXPECT_EQ(host.run("login cashier secret"), 0);
        EXPECT_TRUE(host.loopUntil([&] { return !host.lines("callback", "session").isEmpty(); }));
        const QList<QJsonObject> answers = host.lines("callback", "session");
        return answers.isEmpty() ? QJsonObject() : answers.first();
    }

    void runSession(FakeStoreServer &store)
    {
        store.answer("/login", acceptedLogin);
        store.answer("/trade", R"({"state":0})");
        configure(store.baseUrl());
        HostProcess host(HostProcess::Kind::C);
        ASSERT_TRUE(host.isLoaded());

        const QJsonObject login = logIn(host);
        EXPECT_EQ(login.value("code").toInt(-1), 0);
        const QJsonArray labels = QJsonDocument::fromJson(login.value("text").toString().toUtf8()).array();
        ASSERT_EQ(labels.size(), 3);
        EXPECT_EQ(labels[1].toObject().value("labelName").toString(), QString("常客"));
        for (const QJsonValue &label : labels)
            EXPECT_EQ(label.toObject().keys(), (QStringList{"labelId", "labelName"}));

        EXPECT_EQ(host.run("start"), 0);
        EXPECT_EQ(host.run(R"(report {"amount":12.5,"mobilePhone":"13912345678","mac":"host"})"), 0);
        EXPECT_TRUE(host.loopUntil([&] { return store.requestsTo("/trade").size() == 1; }));
        const auto trades = store.requestsTo("/trade");
        ASSERT_EQ(trades.size(), 1u);
        EXPECT_EQ(trades[0].query, "token=tok%201");
        EXPECT_EQ(trades[0].body, "{\n    \"amount\": 12.5,\n    \"mac\": \"STORE-9\",\n"
                                  "    \"mobilePhone\": \"13912345678\"\n}\n");
        EXPECT_EQ(host.run("uninit"), 0);
        ASSERT_TRUE(host.finish());
        EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();
    }

    TestInstall install;
};

TEST_F(SessionEndToEndTest, LoginStartAndTradeOverHttp)
{
    FakeStoreServer store;
    ASSERT_TRUE(store.isRunning());
    runSession(store);
}

TEST_F(SessionEndToEndTest, LoginStartAndTradeOverHttpsWithASelfSignedCertificate)
{
    FakeStoreServer store(FakeStoreServer::Scheme::Https);
    ASSERT_TRUE(store.isRunning()) << "could not make a certificate with openssl";
    runSession(store);
}

// The server's 401 to a trade ends the session: the host is told, and the
// library is back to needing a login.
TEST_F(SessionEndToEndTest, ARejectedTokenEndsTheSession)
{
    FakeStoreServer store;
    store.answer("/login", acceptedLogin);
    store.answer("/trade", R"({"state":"401","msg":"expired"})");
    configure(store.baseUrl());
    HostProcess host(HostProcess::Kind::C);
    ASSERT_TRUE(host.isLoaded());
    ASSERT_EQ(logIn(host).value("code").toInt(-1), 0);
    EXPECT_EQ(host.run("start"), 0);
    EXPECT_EQ(host.run(R"(report {"amount":1})"), 0);
    EXPECT_TRUE(host.loopUntil([&] { return host.lines("callback", "session").size() == 2; }));
    const QList<QJsonObject> session = host.lines("callback", "session");
    ASSERT_EQ(session.size(), 2);
    EXPECT_EQ(session[1].value("code").toInt(), 6106);
    EXPECT_EQ(session[1].value("text").toString(), "Invalid token");
    EXPECT_EQ(host.run("start"), 6101);
    EXPECT_EQ(host.run(R"(report {"amount":2})"), 6101);
    ASSERT_TRUE(host.finish());
    EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();
}

} // namespace
