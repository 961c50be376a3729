// The trade outbox's parts without the network: what an answer means, the
// journal's format through a power loss, and the outbox itself with trades
// coming from several threads while others are answered, read back by the
// next run.
#include "TradeJournalFormat.h"
#include "TradeOutbox.h"
#include "TradeRules.h"
#include "TestInstall.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <set>
#include <thread>

namespace {

using Outcome = TradeRules::Outcome;

TEST(TradeRulesTest, OnlyTheServersOwnAnswerEndsATrade)
{
    const struct
    {
        int error;
        int status;
        const char *body;
        Outcome outcome;
    } rows[] = {
        {QNetworkReply::NoError, 200, R"({"state":0})", Outcome::Accepted},
        {QNetworkReply::NoError, 200, R"({"msg":"no state"})", Outcome::Accepted},
        {QNetworkReply::NoError, 200, R"({"state":"7","msg":"no"})", Outcome::Refused},
        {QNetworkReply::ContentNotFoundError, 404, R"({"state":404})", Outcome::Refused},
        {QNetworkReply::NoError, 200, R"({"state":401})", Outcome::InvalidToken},
        {QNetworkReply::AuthenticationRequiredError, 401, "", Outcome::InvalidToken},
        {QNetworkReply::AuthenticationRequiredError, 401, R"({"state":0})", Outcome::InvalidToken},
        {QNetworkReply::ConnectionRefusedError, 0, "", Outcome::Unanswered},
        {QNetworkReply::RemoteHostClosedError, 200, R"({"sta)", Outcome::Unanswered},
        {QNetworkReply::OperationCanceledError, 200, R"({"state":0})", Outcome::Unanswered},
        {QNetworkReply::ProtocolFailure, 200, "", Outcome::Unanswered},
        {QNetworkReply::NoError, 200, "<html>sign in</html>", Outcome::Unanswered},
        {QNetworkReply::NoError, 200, "", Outcome::Unanswered},
        {QNetworkReply::NoError, 200, "[0]", Outcome::Unanswered},
        {QNetworkReply::NoError, 302, "", Outcome::Unanswered},
        {QNetworkReply::UnknownContentError, 408, R"({"state":0})", Outcome::Unanswered},
        {QNetworkReply::UnknownContentError, 429, "", Outcome::Unanswered},
        {QNetworkReply::ServiceUnavailableError, 503, R"({"state":0})", Outcome::Unanswered},
        {QNetworkReply::ContentNotFoundError, 404, "<html>not found</html>", Outcome::Rejected},
        {QNetworkReply::ProtocolInvalidOperationError, 400, "", Outcome::Rejected},
    };
    for (const auto &row : rows) {
        TradeRules::Reply reply;
        reply.networkError = row.error;
        reply.httpStatus = row.status;
        reply.body = row.body;
        EXPECT_EQ(TradeRules::verdict(reply).outcome, row.outcome) << row.status << " " << row.body;
    }
    TradeRules::Reply refused;
    refused.httpStatus = 200;
    refused.body = R"({"state":9.5,"msg":"duplicate"})";
    EXPECT_EQ(TradeRules::verdict(refused).msg, "duplicate");
    EXPECT_EQ(TradeRules::verdict(refused).state, 9);
}

TEST(TradeRulesTest, TheWaitDoublesUpToTheLongestAndTheTextsKeepTheirForm)
{
    EXPECT_EQ(TradeRules::retryDelayMs(1, 3000, 60000), 3000);
    EXPECT_EQ(TradeRules::retryDelayMs(2, 3000, 60000), 6000);
    EXPECT_EQ(TradeRules::retryDelayMs(5, 3000, 60000), 48000);
    EXPECT_EQ(TradeRules::retryDelayMs(6, 3000, 60000), 60000);
    EXPECT_EQ(TradeRules::retryDelayMs(1000, 3000, 60000), 60000);
    EXPECT_EQ(TradeRules::retryDelayMs(3, 5000, 1000), 5000) << "a longest wait below the first";
    EXPECT_EQ(TradeRules::heldText(3), "held: 3");
    EXPECT_EQ(TradeRules::fullText(10000, 2), "held: 10000, not kept: 2");
}

TEST(TradeJournalFormatTest, APowerLossCostsOnlyTheLinesItDamaged)
{
    const TradeJournalFormat::Trade first{TradeJournalFormat::newKey(), "{\n    \"a\": 1\n}\n"};
    const TradeJournalFormat::Trade second{TradeJournalFormat::newKey(), QByteArray("\0\xff\n", 3)};
    const TradeJournalFormat::Trade third{TradeJournalFormat::newKey(), "{}"};
    EXPECT_NE(first.key, second.key);
    EXPECT_TRUE(TradeJournalFormat::isKey(first.key));
    const QByteArray header = TradeJournalFormat::header();
    QByteArray damagedLine = TradeJournalFormat::takenLine(third);
    damagedLine[5] = damagedLine[5] == 'a' ? 'b' : 'a';
    const QByteArray journal = header + TradeJournalFormat::takenLine(first) + QByteArray(40, '\0') + '\n'
                             + TradeJournalFormat::takenLine(second) + damagedLine
                             + TradeJournalFormat::leftLine(first.key) + TradeJournalFormat::takenLine(third).left(20);
    const TradeJournalFormat::Contents contents = TradeJournalFormat::parse(journal);
    EXPECT_TRUE(contents.hasHeader);
    EXPECT_EQ(contents.damaged, 3) << "zeros, a wrong CRC, a cut last line";
    ASSERT_EQ(contents.lines.size(), 3u);
    EXPECT_EQ(contents.lines[1].trade.body, second.body);
    EXPECT_FALSE(contents.lines[2].taken);
    EXPECT_EQ(contents.lines[2].trade.key, first.key);

    // A later journal repeats a trade (a compaction cut short) and ends another.
    const TradeJournalFormat::Contents later = TradeJournalFormat::parse(
        header + TradeJournalFormat::takenLine(second) + TradeJournalFormat::takenLine(third)
        + TradeJournalFormat::leftLine(third.key));
    const auto held = TradeJournalFormat::held({contents, later});
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].key, second.key);

    // A line no writer made: the body's Base64 spelled with other low bits.
    const QByteArray key = TradeJournalFormat::newKey();
    const QByteArray oddSpelling = TradeJournalFormat::sealed("+ " + key + " QR==");
    EXPECT_EQ(TradeJournalFormat::parse(header + oddSpelling).damaged, 1);
    EXPECT_EQ(TradeJournalFormat::parse(header + TradeJournalFormat::sealed("+ " + key + " QQ==")).lines.size(), 1u);

    EXPECT_FALSE(TradeJournalFormat::parse("+ " + first.key + " e30= 00000000\n").hasHeader);
    EXPECT_FALSE(TradeJournalFormat::isKey(QByteArray(32, 'G')));
}

class TradeOutboxTest : public ::testing::Test
{
protected:
    QString dataDir() const { return dir.path() + "/data"; }

    QStringList journals() const
    {
        return QDir(dataDir()).entryList({"*.trades"}, QDir::Files | QDir::System);
    }

    static bool idle(const TradeOutbox &outbox)
    {
        QDeadlineTimer deadline(5000);
        while (!outbox.isIdle() && !deadline.hasExpired())
            QThread::msleep(5);
        return outbox.isIdle();
    }

    std::unique_ptr<TradeOutbox> outbox()
    {
        return std::make_unique<TradeOutbox>(dataDir(), TradeOutboxLimits(),
                                             [this](const QString &text) { errors << text; });
    }

    QTemporaryDir dir;
    QStringList errors;
};

// Four threads report while the sending side answers the oldest trades,
// half of them in all: the next run holds exactly the rest, with their
// keys, in report order.
TEST_F(TradeOutboxTest, TradesFromManyThreadsSurviveInTheirOrder)
{
    const int threads = 4;
    const int perThread = 150;
    auto first = outbox();
    std::vector<std::thread> reporters;
    for (int t = 0; t < threads; ++t) {
        reporters.emplace_back([&first, t] {
            for (int i = 0; i < perThread; ++i)
                first->add(QByteArray::number(t * 1000 + i), 100000);
        });
    }
    std::set<QByteArray> answered;
    while (answered.size() < threads * perThread / 2) {
        for (const TradeOutbox::Trade &trade : first->oldest(2)) {
            if (answered.insert(trade.key).second) {
                EXPECT_TRUE(first->remove(trade.key));
            }
        }
    }
    for (std::thread &reporter : reporters)
        reporter.join();
    const std::vector<TradeOutbox::Trade> rest = first->oldest(threads * perThread);
    EXPECT_EQ(rest.size(), threads * perThread - answered.size());
    ASSERT_TRUE(idle(*first));
    first.reset();

    auto next = outbox();
    const std::vector<TradeOutbox::Trade> recovered = next->oldest(threads * perThread);
    ASSERT_EQ(recovered.size(), rest.size());
    for (size_t i = 0; i < rest.size(); ++i) {
        EXPECT_EQ(recovered[i].key, rest[i].key);
        EXPECT_EQ(recovered[i].body, rest[i].body);
    }
    ASSERT_TRUE(idle(*next));
    EXPECT_EQ(journals().size(), 1) << "the old journals went once their trades were in a new one";
    for (const TradeOutbox::Trade &trade : recovered)
        next->remove(trade.key);
    ASSERT_TRUE(idle(*next));
    EXPECT_TRUE(journals().isEmpty()) << "an empty outbox leaves no journal";
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

// Planted files under journal names are left alone and named; the trades
// still go to a journal of their own. A trade set aside can be sent again
// by moving its file back into data/.
TEST_F(TradeOutboxTest, PlantedFilesAreLeftAloneAndASetAsideTradeCanComeBack)
{
    QDir().mkpath(dataDir());
    const QString outside = dir.path() + "/host-file";
    QFile(outside).open(QIODevice::WriteOnly);
    {
        QFile target(outside);
        target.open(QIODevice::WriteOnly);
        target.write("the host's own");
    }
    ASSERT_TRUE(QFile::link(outside, dataDir() + "/5.trades"));
    {
        QFile foreign(dataDir() + "/6.trades");
        foreign.open(QIODevice::WriteOnly);
        foreign.write("not ours\n");
    }
    auto first = outbox();
    EXPECT_EQ(errors.size(), 2) << errors.join('\n').toStdString();
    EXPECT_TRUE(errors.join('\n').contains(dataDir() + "/5.trades is a symbolic link, left alone"));
    EXPECT_TRUE(errors.join('\n').contains(dataDir() + "/6.trades is not a trade journal, left alone"));
    EXPECT_TRUE(first->add("kept", 10).onDisk);
    EXPECT_TRUE(first->add("aside", 10).onDisk);
    first->setAside(first->oldest(2)[1].key);
    ASSERT_TRUE(idle(*first));
    first.reset();
    EXPECT_EQ(readFile(outside), "the host's own");
    EXPECT_EQ(readFile(dataDir() + "/6.trades"), "not ours\n");
    const QStringList aside = QDir(dataDir() + "/refused").entryList(QDir::Files);
    ASSERT_EQ(aside.size(), 1);

    errors.clear();
    ASSERT_TRUE(QFile::rename(dataDir() + "/refused/" + aside[0], dataDir() + "/" + aside[0]));
    auto next = outbox();
    const auto held = next->oldest(10);
    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(held[0].body, "kept");
    EXPECT_EQ(held[1].body, "aside");
}

// Another outbox owns data/: trades are kept in memory and nothing is
// written; a full outbox keeps what it holds and counts what it turned away.
TEST_F(TradeOutboxTest, WithoutTheDataDirectoryTradesStayInMemoryAndTheBoundHolds)
{
    auto owner = outbox();
    auto memoryOnly = outbox();
    EXPECT_TRUE(owner->isDurable());
    EXPECT_FALSE(memoryOnly->isDurable());
    EXPECT_TRUE(memoryOnly->ownerProblem().contains("in use by process")) << memoryOnly->ownerProblem().toStdString();
    EXPECT_TRUE(memoryOnly->add("one", 2).kept);
    EXPECT_FALSE(memoryOnly->add("one", 2).onDisk);
    const TradeOutbox::Added full = memoryOnly->add("three", 2);
    EXPECT_FALSE(full.kept);
    EXPECT_EQ(full.held, 2);
    EXPECT_EQ(memoryOnly->add("four", 2).notKept, 2);
    memoryOnly.reset();
    EXPECT_TRUE(journals().isEmpty());
    EXPECT_TRUE(errors.join('\n').contains("lost with the library, they were kept in memory only: 2"));
}

} // namespace
