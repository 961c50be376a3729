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
    endHost(*host);
}

} // namespace
