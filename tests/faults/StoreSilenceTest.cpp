// A store server that takes the request and never answers, through the
// real library in the plain C host: the login and the upload end at the
// library's 30 s transfer time-out, and nothing is lost.
#include "ProbeHostTest.h"

namespace {

using StoreSilenceTest = ProbeHostTest;

TEST_F(StoreSilenceTest, SilentServerEndsTheLoginAndTheUploadAtTheTimeOut)
{
    FakeStoreServer::Answer silent;
    silent.never = true;
    auto host = startedHost();
    store.queue("/probe", silent);
    store.queue("/login", silent);
    writeLine(*host);
    ASSERT_TRUE(host->loopUntil([&] { return store.requestsTo("/probe").size() == 1; }, 5000));
    writeLine(*host);
    const QJsonObject session = logIn(*host, 40000);
    EXPECT_EQ(session.value("code").toInt(-1), 6207);
    EXPECT_EQ(session.value("text").toString(), "Network error(5)");
    // The upload, sent first, timed out first.
    ASSERT_TRUE(host->loopUntil([&] { return log().contains("Probe data kept for the next upload"); }, 10000));
    writeLine(*host);
    EXPECT_TRUE(allLinesArrive(*host, 1));
    EXPECT_EQ(logIn(*host).value("code").toInt(-1), 0);

    // Ended while an upload waits for its answer: NV_Uninit returns at
    // once, the batch stays in data/ and the next host sends it.
    store.queue("/probe", silent);
    const size_t unanswered = store.requestsTo("/probe").size();
    written.clear();
    writeLine(*host);
    ASSERT_TRUE(host->loopUntil([&] { return store.requestsTo("/probe").size() > unanswered; }, 5000));
    EXPECT_EQ(host->run("uninit"), 0);
    ASSERT_TRUE(host->finish());
    EXPECT_TRUE(host->exitedCleanly()) << host->errorOutput().toStdString();
    auto next = startedHost();
    EXPECT_TRUE(allLinesArrive(*next, unanswered + 1));
    endHost(*next);
}

} // namespace
