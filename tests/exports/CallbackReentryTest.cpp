// A host reacts to a callback from inside it: it ends the library, logs
// out, logs in again, or runs a nested iteration of its own loop. Each must
// leave the host running and the library usable, through the real C host.
#include "FakeStoreServer.h"
#include "HostProcess.h"
#include "TestInstall.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

using Answer = FakeStoreServer::Answer;

const char accepted[] = R"({"state":0,"token":"tok","brandId":"B1"})";

class CallbackReentryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(store.isRunning());
        configure(install);
    }

    void configure(const TestInstall &target) const
    {
        target.writeConfig(TestInstall::fileLogGroup("nerova")
                           + QString("[Server]\nServer=%1\nLoginUrl=/login\nTradeUrl=/trade\n"
                                     "[Nerova]\nDeviceId=S1\n")
                                 .arg(store.baseUrl()));
    }

    static bool hasCallback(HostProcess &host, const QString &name, int code)
    {
        for (const QJsonObject &line : host.lines("callback", name))
            if (line.value("code").toInt() == code)
                return true;
        return false;
    }

    // After the reaction: NV_Init works again and a login reaches the host.
    void expectUsableAgain(HostProcess &host)
    {
        store.answer("/login", accepted);
        const int before = host.lines("callback", "session").size();
        EXPECT_EQ(host.run("init"), 0);
        EXPECT_EQ(host.run("login cashier secret"), 0);
        EXPECT_TRUE(host.loopUntil([&] { return host.lines("callback", "session").size() > before; }));
        EXPECT_EQ(host.lines("callback", "session").last().value("code").toInt(-1), 0);
        ASSERT_TRUE(host.finish());
        EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();
    }

    FakeStoreServer store;
    TestInstall install;
};

struct Reaction
{
    const char *name;
    Answer login;
    const char *trigger; // the "on" command
    bool needsTrade;     // start and report a trade after the login
};

// NV_Uninit inside the session callback after each kind of login answer and
// after the server's 401 to a trade, and inside the notice of a refused
// trade; the host then starts the library anew.
TEST_F(CallbackReentryTest, UninitFromInsideEachCallbackLeavesTheHostRunning)
{
    Answer refused{200, R"({"state":7,"msg":"no"})"};
    Answer dropped;
    dropped.drop = true;
    const Reaction rows[] = {
        {"refused login", refused, "on session 7 uninit", false},
        {"accepted login", Answer{200, accepted}, "on session 0 uninit", false},
        {"network error", dropped, "on session 6207 uninit", false},
        {"captive portal's page", Answer{200, "<html>Sign in</html>", "text/html"}, "on session 6107 uninit", false},
        {"invalid token", Answer{200, accepted}, "on session 6106 uninit", true},
        {"refused trade", Answer{200, accepted}, "on notify 6109 uninit", true},
    };
    for (const Reaction &row : rows) {
        SCOPED_TRACE(row.name);
        // A trade a row leaves held would go out in the next one's session.
        TestInstall rowInstall;
        configure(rowInstall);
        store.queue("/login", row.login);
        if (row.needsTrade)
            store.queue("/trade", Answer{200, std::string(row.trigger).find("6106") != std::string::npos
                                                   ? R"({"state":401})"
                                                   : R"({"state":3,"msg":"bad"})"});
        HostProcess host(HostProcess::Kind::C);
        ASSERT_TRUE(host.isLoaded());
        ASSERT_EQ(host.run(row.trigger), 0);
        ASSERT_EQ(host.run("init"), 0);
        ASSERT_EQ(host.run("login cashier secret"), 0);
        if (row.needsTrade) {
            ASSERT_TRUE(host.loopUntil([&] { return hasCallback(host, "session", 0); }));
            ASSERT_EQ(host.run("start"), 0);
            ASSERT_EQ(host.run(R"(report {"amount":1})"), 0);
        }
        EXPECT_FALSE(host.next([](const QJsonObject &l) { return l.value("cmd") == "uninit"; }).isEmpty());
        expectUsableAgain(host);
    }
}

// NV_Logout and NV_Login inside a refusal, NV_Login again inside the next
// refusal: each login sent from a callback gets its answer.
TEST_F(CallbackReentryTest, LogoutAndLoginFromInsideTheSessionCallback)
{
    store.queue("/login", Answer{200, R"({"state":7,"msg":"no"})"});
    store.queue("/login", Answer{200, R"({"state":8,"msg":"again"})"});
    store.answer("/login", accepted);
    HostProcess host(HostProcess::Kind::C);
    ASSERT_TRUE(host.isLoaded());
    ASSERT_EQ(host.run("on session 7 logout"), 0);
    ASSERT_EQ(host.run("on session 7 login cashier secret"), 0);
    ASSERT_EQ(host.run("on session 8 login cashier secret"), 0);
    ASSERT_EQ(host.run("init"), 0);
    ASSERT_EQ(host.run("login cashier secret"), 0);
    EXPECT_TRUE(host.loopUntil([&] { return hasCallback(host, "session", 0); }));
    EXPECT_EQ(store.requestsTo("/login").size(), 3u);
    EXPECT_EQ(host.run("start"), 0);
    ASSERT_TRUE(host.finish());
    EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();
}

// A host that runs its loop inside a callback (a modal dialog) gets the
// library's next callback from within that nested loop.
TEST_F(CallbackReentryTest, ANestedLoopInsideACallbackDeliversTheNextCallback)
{
    Answer slow{200, R"({"state":9,"msg":"second"})"};
    slow.delayMs = 300;
    store.queue("/login", Answer{200, R"({"state":7,"msg":"first"})"});
    store.queue("/login", slow);
    HostProcess host(HostProcess::Kind::C);
    ASSERT_TRUE(host.isLoaded());
    ASSERT_EQ(host.run("on session 7 login cashier again"), 0);
    ASSERT_EQ(host.run("on session 7 nest 3000"), 0);
    ASSERT_EQ(host.run("init"), 0);
    ASSERT_EQ(host.run("login cashier secret"), 0);
    const QJsonObject second = host.next(
        [](const QJsonObject &l) { return l.value("callback") == "session" && l.value("code") == 9; });
    ASSERT_FALSE(second.isEmpty());
    // The nested loop was still running when the second answer came.
    EXPECT_FALSE(host.next([](const QJsonObject &l) { return l.value("cmd") == "nest"; }).isEmpty());
    ASSERT_TRUE(host.finish());
    EXPECT_FALSE(host.errorOutput().contains("recursively")) << host.errorOutput().toStdString();
    EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();
}

// A relative NEROVA_HOME names the same installation for the whole library.
TEST_F(CallbackReentryTest, ARelativeInstallationDirectoryWorksLikeTheAbsoluteOne)
{
    store.answer("/login", accepted);
    const QString previous = QDir::currentPath();
    QDir parent(install.path());
    parent.cdUp();
    QDir::setCurrent(parent.path());
    HostProcess host(HostProcess::Kind::C, {"NEROVA_HOME=" + QDir(install.path()).dirName()});
    QDir::setCurrent(previous);
    ASSERT_TRUE(host.isLoaded());
    ASSERT_EQ(host.run("init"), 0);
    ASSERT_EQ(host.run("login cashier secret"), 0);
    EXPECT_TRUE(host.loopUntil([&] { return hasCallback(host, "session", 0); }));
    EXPECT_EQ(store.requestsTo("/login").size(), 1u);
    ASSERT_TRUE(host.finish());
    EXPECT_TRUE(install.logText("nerova.log").contains("Init success"));
}

} // namespace
