#pragma once

#include "FakeStoreServer.h"
#include "HostProcess.h"
#include "PseudoTerminal.h"
#include "TestInstall.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// A store's till for the fault tests: the real library in the plain C host
// against the fake store server, with a pseudo-terminal as the probe
// device. The test's probe lines are numbered, so that the accepted
// uploads can be checked to hold every one of them once, in order.
class ProbeHostTest : public ::testing::Test
{
protected:
    explicit ProbeHostTest(FakeStoreServer::Scheme scheme = FakeStoreServer::Scheme::Http);

    // Probe on (uploads every second to probePath), camera off.
    QString configText(const QString &probePath = "/probe") const;
    QString log() const { return install.logText("nerova.log"); }
    QString dataDir() const { return install.path() + "/data"; }

    // A host with the library loaded and NV_Init done; its probe device is
    // the terminal linked at tty under the installation.
    std::unique_ptr<HostProcess> launchedHost(const QString &tty = "probe-tty");
    // Starts the workers of a logged-in host and waits for the probe device.
    void startWorkers(HostProcess &host);
    // A launched host, logged in (the server must accept) and started.
    std::unique_ptr<HostProcess> startedHost(const QString &tty = "probe-tty");
    // A started host whose first line has been uploaded and accepted.
    std::unique_ptr<HostProcess> startedHostPastItsFirstBatch();
    // Sends NV_Login and returns the session callback it brings.
    static QJsonObject logIn(HostProcess &host, int timeoutMs = 5000);
    static int notices(HostProcess &host, int code);

    // Writes the next numbered line and lets the host read it.
    void writeLine(HostProcess &host);
    // The same on another terminal, with its own numbering prefix.
    void writeLine(HostProcess &host, PseudoTerminal &terminal, const std::string &prefix);
    // The lines of the uploads from the first'th on, in arrival order.
    std::vector<std::string> uploadedLines(size_t first = 0) const;
    // Waits until every line written so far has arrived in the uploads from
    // firstAccepted on, then checks each is there exactly once, in order.
    ::testing::AssertionResult allLinesArrive(HostProcess &host, size_t firstAccepted = 0);
    // Waits until every line written so far has arrived at least once, then
    // checks that their first arrivals are in order; counts the repeats.
    ::testing::AssertionResult allLinesArriveAtLeastOnce(HostProcess &host, int *repeats);
    // Writes a line before each of the next failed uploads, each of which
    // logs failureText; false when one does not fail in time.
    bool writeThroughFailedUploads(HostProcess &host, const QString &failureText, int uploads = 2);

    // Waits until no batch is held in data/: every answer has been read.
    bool batchesAccepted(HostProcess &host) const;
    // Waits for every batch to be accepted, then NV_Uninit and a clean exit.
    void endHost(HostProcess &host);

    TestInstall install;
    FakeStoreServer store;
    PseudoTerminal device;
    std::vector<std::string> written;
};
