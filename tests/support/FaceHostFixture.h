#pragma once

#include "FakeFaceCloud.h"
#include "FakeStoreServer.h"
#include "HostProcess.h"
#include "TestInstall.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <memory>

// A store with a face camera, for the face worker through a real example
// host: a temporary installation with the cascades, the fake store server
// (which logs the cashier in) and the fake cloud face service, the
// configuration, and the host's face texts and notices as a test reads them.
class FaceHostFixture : public ::testing::Test
{
protected:
    // The identifier of the first virtual camera.
    static constexpr const char *virtualCamera = "vid_0000&pid_0000&mi_00#virtual1";

    // Skips the test when a cascade is missing.
    void SetUp() override;

    // The store's addresses, a device check every second, the camera and the
    // interval of [Face] followed by faceKeys (lines of that group), and the
    // cloud group.
    void configure(const QString &faceDevice, int faceInterval, const QString &faceKeys = QString());
    // The face of every search is a known visitor, reported as a member.
    void knowTheVisitor();

    // A host whose virtual camera "Shop door" shows cameraSource, initialised
    // with initCommand and logged in.
    std::unique_ptr<HostProcess> startedHost(const QString &cameraSource, HostProcess::Kind kind = HostProcess::Kind::C,
                                             const QString &initCommand = "init");

    QString log() const { return install.logText("nerova.log"); }
    static int notices(HostProcess &host, int code);
    // Lets the host run until one more notice of the code has come.
    static bool awaitNotice(HostProcess &host, int code, int timeoutMs = 8000);
    static QStringList faceTexts(HostProcess &host);
    // The longest working iteration of the host's loop since the last ask.
    static int longestIterationMs(HostProcess &host);
    static void endHost(HostProcess &host);

    TestInstall install;
    FakeStoreServer store;
    FakeFaceCloud cloud;
};
