// The demo's helpers: the virtual probe device through its real
// pseudo-terminal, and the readable view of the example host's lines.
#include "HostEventFormatter.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

TEST(VirtualProbeTest, WritesProbeLinesEndingInCrLfIntoTheLinkedTerminal)
{
    QTemporaryDir dir;
    const QString link = dir.path() + "/probe";
    QProcess probe;
    probe.start(NEROVA_VIRTUAL_PROBE, {"--link", link, "--rate", "50", "--seconds", "10"});
    ASSERT_TRUE(probe.waitForReadyRead(5000)) << "the virtual probe did not start";
    ASSERT_TRUE(QFileInfo(link).isSymLink());

    const int terminal = open(link.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    std::string received;
    pollfd readable{terminal, POLLIN, 0};
    while (std::count(received.begin(), received.end(), '\n') < 6 && poll(&readable, 1, 3000) > 0) {
        char buffer[256];
        const ssize_t count = read(terminal, buffer, sizeof buffer);
        if (count <= 0)
            break;
        received.append(buffer, static_cast<size_t>(count));
    }
    close(terminal);
    const QStringList lines = QString::fromStdString(received).split("\r\n");
    ASSERT_GE(lines.size(), 6) << received;
    const QRegularExpression probeLine("^([0-9a-f]{2}:){5}[0-9a-f]{2},-[0-9]{2},(1|6|11)$");
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(probeLine.match(lines[i]).hasMatch()) << lines[i].toStdString();
    EXPECT_FALSE(received.find("\n\n") != std::string::npos || received.find("\r\r") != std::string::npos);

    probe.terminate();
    ASSERT_TRUE(probe.waitForFinished(5000));
    EXPECT_EQ(probe.exitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(link)) << "the link goes when the device stops";
    EXPECT_TRUE(probe.readAll().contains("lines written"));
}

TEST(HostEventFormatterTest, ShowsResultsCallbacksAndVisitorsAndCountsThem)
{
    HostEventFormatter view;
    EXPECT_EQ(view.format(R"({"cmd":"init","result":0})"), "host     NV_Init -> 0 (ok)");
    EXPECT_EQ(view.format(R"({"cmd":"start","result":6101})"), "host     NV_Start -> 6101 (not logged in)");
    EXPECT_EQ(view.format(R"({"cmd":"loop","result":0})"), QString());
    EXPECT_EQ(view.format(R"({"callback":"session","set":1,"code":0,"text":"[{\"labelId\":1,\"labelName\":\"VIP\"}]"})"),
              "session  logged in; the brand's labels: VIP");
    EXPECT_EQ(view.format(R"({"callback":"notify","set":1,"code":6201,"text":"Camera is ready"})"),
              "notice   6201 camera ready: Camera is ready");
    EXPECT_EQ(view.format(R"({"callback":"notify","set":1,"code":6201,"text":"Camera is ready"})"),
              "notice   6201 camera ready (again)");
    EXPECT_EQ(view.format(R"({"callback":"notify","set":1,"code":6109,"text":"refused"})"),
              "notice   6109 trade report refused: refused");

    const char visitor[] = R"({"callback":"face","set":1,"text":"{\"uid\":\"V000001\",\"type\":\"Not member\",\"visits\":%1,\"image\":\"iVBORw0K\"}"})";
    EXPECT_TRUE(view.format(QString(visitor).arg(1).toUtf8()).contains("V000001 (Not member), first time in this run; visits 1"));
    EXPECT_TRUE(view.format(QString(visitor).arg(2).toUtf8()).contains("V000001 (Not member), recognised again; visits 2"));
    EXPECT_EQ(view.format(R"({"callback":"face","set":1,"text":""})"), "visitor  the face has left the picture");
    EXPECT_EQ(view.format("not json"), QString());

    const HostEventFormatter::Counts &counts = view.counts();
    EXPECT_EQ(counts.visitors, 2);
    EXPECT_EQ(counts.distinctVisitors, 1);
    EXPECT_EQ(counts.recognisedAgain, 1);
    EXPECT_EQ(counts.loggedIn, 1);
    EXPECT_EQ(counts.tradesRefused, 1);
    EXPECT_EQ(counts.failedCommands, 1);
    EXPECT_TRUE(view.countsText().contains("recognisedAgain=1\n"));
    EXPECT_TRUE(view.countsText().contains("notice6201=2\n"));
}

} // namespace
