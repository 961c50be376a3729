// The host's callbacks across the C boundary, through the real library in
// the plain C host: which callbacks are in force, and texts that arrive
// intact as UTF-32.
#include "HostProcess.h"
#include "TestInstall.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>

#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>

namespace {

class ExportCallbacksTest : public ::testing::Test
{
protected:
    void configure(int serverPort)
    {
        install.writeConfig(TestInstall::fileLogGroup("nerova")
                            + QString("[Server]\nServer=http://127.0.0.1:%1\nLoginUrl=/api/login\nTradeUrl=/api/trade\n").arg(serverPort));
    }
    QString log() const { return install.logText("nerova.log"); }

    // Logs in and lets the host's loop run until the session callback came.
    // False while the core sends no login at all (it logs "Login url:"
    // when it does).
    bool loginAnswered(HostProcess &host) const
    {
        EXPECT_EQ(host.run("login user secret"), 0);
        if (!log().contains("Login url:"))
            return false;
        return host.loopUntil([&] { return !host.lines("callback", "session").isEmpty(); });
    }

    TestInstall install;
};

// A store server on 127.0.0.1 that accepts every login with these labels.
class AcceptingStore
{
public:
    explicit AcceptingStore(const std::string &labels)
    {
        m_server.Post("/api/login", [labels](const httplib::Request &, httplib::Response &response) {
            response.set_content(R"({"state":0,"token":"t-1","brandId":"b","brandLabelList":)" + labels + "}",
                                 "application/json");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
    }
    ~AcceptingStore()
    {
        m_server.stop();
        m_thread.join();
    }
    int port() const { return m_port; }

private:
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
};

// A port on 127.0.0.1 where nothing listens.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

TEST_F(ExportCallbacksTest, SecondInitKeepsTheFirstCallbacks)
{
    configure(closedPort());
    HostProcess host(HostProcess::Kind::C);
    ASSERT_TRUE(host.isLoaded());
    EXPECT_EQ(host.run("init"), 0);
    EXPECT_EQ(host.run("init-other"), 0);
    EXPECT_EQ(log().count("Init success"), 1);

    if (!loginAnswered(host))
        GTEST_SKIP() << "the core sends no login yet";
    const QList<QJsonObject> answers = host.lines("callback", "session");
    ASSERT_EQ(answers.size(), 1);
    EXPECT_EQ(answers[0].value("set").toInt(), 1);
    EXPECT_EQ(answers[0].value("code").toInt(), 6207);
    const QString text = answers[0].value("text").toString();
    EXPECT_TRUE(text.startsWith("Network error(")) << text.toStdString();
    ASSERT_TRUE(host.finish());
    EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();
}

// The labels reach the host as UTF-32 and come out of it as the same text.
TEST_F(ExportCallbacksTest, SessionTextsCrossTheBoundaryIntact)
{
    const std::string labels = R"([{"labelId":7,"labelName":"常客 \"VIP\"\\ é"}])";
    AcceptingStore store(labels);
    configure(store.port());

    HostProcess host(HostProcess::Kind::C);
    ASSERT_TRUE(host.isLoaded());
    EXPECT_EQ(host.run("init"), 0);
    if (!loginAnswered(host))
        GTEST_SKIP() << "the core sends no login yet";
    const QList<QJsonObject> answers = host.lines("callback", "session");
    ASSERT_EQ(answers.size(), 1);
    EXPECT_EQ(answers[0].value("code").toInt(), 0);
    const QJsonArray received = QJsonDocument::fromJson(answers[0].value("text").toString().toUtf8()).array();
    EXPECT_EQ(received, QJsonDocument::fromJson(QByteArray::fromStdString(labels)).array());
    EXPECT_EQ(host.run("start"), 0);
    ASSERT_TRUE(host.finish());
    EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();
}

} // namespace
