#pragma once

#include "FakeFaceCloud.h"
#include "FakeStoreServer.h"
#include "HNerovaCore.h"
#include "TestInstall.h"

#include <QList>
#include <QString>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

class FaceCloud;

// What the host saw through one callback, with the session token the
// library held at that moment.
struct CloudHostCall
{
    QString callback; // "session", "face" or "notify"
    int code;
    QString text;
    QString tokenDuringCall;
};

// A core in this process with a session at a fake store server and a fake
// cloud face service; the face chain runs on a thread of its own, as on
// the detection loop, while the test's thread delivers the core's events.
class CloudFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Rewrites the configuration and builds the core with a session.
    void startCore(const QString &extraConfig = QString());
    void onLoopThread(const std::function<void()> &work);
    void withFaceCloud(const std::function<void(FaceCloud &)> &work);

    static QList<CloudHostCall> calls();
    static QList<CloudHostCall> callsOf(const QString &callback);
    QString log() const { return install.logText("nerova.log"); }

    QString previousDir;
    TestInstall install;
    FakeStoreServer store;
    FakeFaceCloud cloud;
    std::atomic<bool> stopRequested{false};
    std::unique_ptr<HNerovaCore> core;
};
