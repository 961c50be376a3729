#include "SessionFixture.h"

#include <log4cxx/logmanager.h>

#include <QDir>

QList<HostCall> SessionFixture::calls;
// The session's tests hear nothing from the workers' device checks.
const QString SessionFixture::quietWorkers = QStringLiteral("[Probe]\nProbeEnabled=false\n[Face]\nFaceEnabled=false\n");

namespace {

void record(const char *callback, int code, const wchar_t *text)
{
    SessionFixture::calls.append({callback, code, QString::fromWCharArray(text)});
}

void onSession(int code, const wchar_t *text)
{
    record("session", code, text);
}

void onFace(const wchar_t *text)
{
    record("face", 0, text);
}

void onNotify(int code, const wchar_t *text)
{
    record("notify", code, text);
}

} // namespace

void SessionFixture::SetUp()
{
    calls.clear();
    previousDir = QDir::currentPath();
    ASSERT_TRUE(store.isRunning());
}

void SessionFixture::TearDown()
{
    core.reset();
    log4cxx::LogManager::resetConfiguration();
    QDir::setCurrent(previousDir);
}

void SessionFixture::startCore(const QString &base, const QString &serverSection)
{
    install.writeConfig(TestInstall::fileLogGroup("nerova") + "[Server]\nServer=" + base + "\n" + serverSection
                        + "[Nerova]\nDeviceId=S-1\n" + quietWorkers);
    core = std::make_unique<HNerovaCore>(onSession, onFace, onNotify);
    core->setRequestTimeout(2000);
    ASSERT_EQ(core->Initialise(), 0);
}

QList<HostCall> SessionFixture::callsOf(const QString &callback) const
{
    QList<HostCall> matching;
    for (const HostCall &call : calls) {
        if (call.callback == callback)
            matching.append(call);
    }
    return matching;
}

bool SessionFixture::waitForCalls(const QString &callback, int count, int timeoutMs)
{
    return waitUntil([&] { return callsOf(callback).size() >= count; }, timeoutMs);
}

void SessionFixture::logIn(const std::string &token)
{
    store.queue("/login", {200, R"({"state":0,"token":")" + token + R"(","brandId":"B"})"});
    const int before = callsOf("session").size();
    ASSERT_EQ(core->Login("user", "secret"), 0);
    ASSERT_TRUE(waitForCalls("session", before + 1));
    ASSERT_EQ(callsOf("session").last().code, 0);
}
