#include "CloudFixture.h"

#include "FaceCloud.h"

#include <log4cxx/logmanager.h>

#include <QDir>

#include <mutex>
#include <thread>

namespace {

std::mutex callsMutex;
QList<CloudHostCall> recordedCalls;

void record(const char *callback, int code, const wchar_t *text)
{
    const QString token = NerovaBase::instance() ? NerovaBase::instance()->sessionToken() : QString();
    std::lock_guard<std::mutex> lock(callsMutex);
    recordedCalls.append({callback, code, QString::fromWCharArray(text), token});
}

} // namespace

void CloudFixture::SetUp()
{
    {
        std::lock_guard<std::mutex> lock(callsMutex);
        recordedCalls.clear();
    }
    previousDir = QDir::currentPath();
    ASSERT_TRUE(store.isRunning());
    ASSERT_TRUE(cloud.isRunning());
}

void CloudFixture::TearDown()
{
    core.reset();
    log4cxx::LogManager::resetConfiguration();
    QDir::setCurrent(previousDir);
}

void CloudFixture::startCore(const QString &extraConfig)
{
    install.writeConfig(TestInstall::fileLogGroup("nerova") + "[Server]\nServer=" + store.baseUrl()
                        + "\nLoginUrl=/login\nTradeUrl=/trade\nUIdUrl=/uid\nAddUserUrl=/user\n"
                        + "[Nerova]\nDeviceId=S-1\n" + cloud.configGroup() + extraConfig);
    core = std::make_unique<HNerovaCore>([](int code, const wchar_t *text) { record("session", code, text); },
                                         [](const wchar_t *text) { record("face", 0, text); },
                                         [](int code, const wchar_t *text) { record("notify", code, text); });
    ASSERT_EQ(core->Initialise(), 0);
    core->base().setSession("tok 1", "B");
}

void CloudFixture::onLoopThread(const std::function<void()> &work)
{
    std::atomic<bool> done{false};
    std::thread loop([&] {
        work();
        done = true;
    });
    waitUntil([&] { return done.load(); }, 60000);
    loop.join();
    // Work it queued for the host thread.
    waitUntil([] { return false; }, 50);
}

void CloudFixture::withFaceCloud(const std::function<void(FaceCloud &)> &work)
{
    onLoopThread([&] {
        FaceCloud faceCloud(stopRequested);
        work(faceCloud);
    });
}

QList<CloudHostCall> CloudFixture::calls()
{
    std::lock_guard<std::mutex> lock(callsMutex);
    return recordedCalls;
}

QList<CloudHostCall> CloudFixture::callsOf(const QString &callback)
{
    QList<CloudHostCall> matching;
    for (const CloudHostCall &call : calls()) {
        if (call.callback == callback)
            matching.append(call);
    }
    return matching;
}
