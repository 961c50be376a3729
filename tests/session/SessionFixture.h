#pragma once

#include "FakeStoreServer.h"
#include "HNerovaCore.h"
#include "TestInstall.h"

#include <QList>
#include <QString>

#include <gtest/gtest.h>

#include <memory>

// What the host saw through one callback.
struct HostCall
{
    QString callback; // "session", "face" or "notify"
    int code;
    QString text;
};

// A core in this process, talking to a fake store server, with callbacks
// that record what a host would receive.
class SessionFixture : public ::testing::Test
{
public:
    // Every callback of the current test, in order.
    static QList<HostCall> calls;
    static const QString quietWorkers;

protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the configuration for the store at base and builds the core.
    void startCore(const QString &base, const QString &serverSection = "LoginUrl=/login\nTradeUrl=/trade\n");
    QList<HostCall> callsOf(const QString &callback) const;
    // Runs the event loop until the callback has been called count times.
    bool waitForCalls(const QString &callback, int count, int timeoutMs = 5000);
    // A login accepted with the given token; waits for its session callback.
    void logIn(const std::string &token = "tok-1");
    QString log() const { return install.logText("nerova.log"); }

    // The worker base moves the current directory into the installation,
    // which goes at the end of the test; it is put back.
    QString previousDir;
    TestInstall install;
    FakeStoreServer store;
    std::unique_ptr<HNerovaCore> core;
};
