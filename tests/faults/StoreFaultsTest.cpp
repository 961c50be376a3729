// The store server failing the ways a till meets, through the real library
// in the plain C host: what the host hears of a login, and every probe line
// written meanwhile reaching the server once, in order, when it answers
// properly again.
#include "ProbeHostTest.h"

#include <QFile>

#include <zlib.h>

namespace {

using Answer = FakeStoreServer::Answer;

const char kept[] = "Probe data kept for the next upload";

Answer chunked(Answer answer)
{
    answer.chunked = true;
    return answer;
}

Answer dropped()
{
    Answer answer;
    answer.drop = true;
    return answer;
}

// size zero bytes as one gzip member: about a thousandth of the size.
std::string gzippedZeros(size_t size)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    const std::string zeros(1 << 20, '\0');
    std::string out;
    char buffer[64 * 1024];
    for (size_t done = 0; done < size; done += zeros.size()) {
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.data()));
        stream.avail_in = static_cast<uInt>(zeros.size());
        const int flush = done + zeros.size() >= size ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef *>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, flush);
            out.append(buffer, sizeof buffer - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return out;
}

// The peak resident memory of a running process, in KiB.
long peakMemoryKiB(qint64 pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

struct FaultRow
{
    const char *name;
    Answer first;  // to the login and the first upload
    Answer second; // to the second upload
    int sessionCode;
    const char *sessionText;
};

using StoreFaultsTest = ProbeHostTest;

// Each fault answers a login and two uploads; then the server answers
// properly: a failed login opens no session, a later one works, and the
// records of the failed uploads go out with the next one.
TEST_F(StoreFaultsTest, FailedAnswersLoseNoRecord)
{
    // Would read as accepted if the library took it whole.
    const std::string big = R"({"state":0,"msg":")" + std::string(5 * 1024 * 1024, 'x') + R"("})";
    // Sent compressed although the library asks for plain answers.
    Answer bomb{200, gzippedZeros(512 * 1024 * 1024), "application/octet-stream"};
    bomb.contentEncoding = "gzip";
    const std::string bombText
        = "Login answer is not a JSON object (application/octet-stream, " + std::to_string(bomb.body.size()) + " bytes)";
    const FaultRow rows[] = {
        {"garbage", Answer{200, "\x01<html>garbage"}, Answer{200, "{\"state\":"}, 6107,
         "Login answer is not a JSON object (application/json, 14 bytes)"},
        {"5 MiB", Answer{200, big}, chunked(Answer{200, big}), 6207, "Network error(5)"},
        {"5xx", Answer{503, R"({"state":0})"}, Answer{500, R"({"state":0})"}, 6207, "Network error(403)"},
        {"closed mid-body", dropped(), dropped(), 6207, "Network error(2)"},
        {"512 MiB compressed", bomb, bomb, 6107, bombText.c_str()},
    };
    for (const FaultRow &row : rows) {
        SCOPED_TRACE(row.name);
        written.clear();
        const size_t firstAccepted = store.requestsTo("/probe").size() + 2;
        store.queue("/login", row.first);
        auto host = launchedHost();
        const QJsonObject session = logIn(*host);
        EXPECT_EQ(session.value("code").toInt(-1), row.sessionCode);
        EXPECT_EQ(session.value("text").toString(), row.sessionText);
        EXPECT_EQ(host->run("start"), 6101) << "no session";
        ASSERT_EQ(logIn(*host).value("code").toInt(-1), 0);
        startWorkers(*host);

        store.queue("/probe", row.first);
        store.queue("/probe", row.second);
        ASSERT_TRUE(writeThroughFailedUploads(*host, kept));
        writeLine(*host);
        EXPECT_TRUE(allLinesArrive(*host, firstAccepted));
        EXPECT_LT(peakMemoryKiB(host->pid()), 384 * 1024) << "no answer is taken whole";
        endHost(*host);
    }
}

struct HttpsStoreFaultsTest : ProbeHostTest
{
    HttpsStoreFaultsTest() : ProbeHostTest(FakeStoreServer::Scheme::Https) {}
};

// The server refuses connections, then listens again on its port, over
// https with its self-signed certificate.
TEST_F(HttpsStoreFaultsTest, RefusedConnectionsUntilTheServerIsBack)
{
    ASSERT_TRUE(store.isRunning()) << "could not make a certificate with openssl";
    store.down();
    auto host = launchedHost();
    const QJsonObject session = logIn(*host);
    EXPECT_EQ(session.value("code").toInt(-1), 6207);
    EXPECT_EQ(session.value("text").toString(), "Network error(1)");
    EXPECT_EQ(host->run("start"), 6101);

    ASSERT_TRUE(store.up());
    ASSERT_EQ(logIn(*host).value("code").toInt(-1), 0);
    startWorkers(*host);
    writeLine(*host);
    ASSERT_TRUE(allLinesArrive(*host));
    ASSERT_TRUE(batchesAccepted(*host));

    store.down();
    ASSERT_TRUE(writeThroughFailedUploads(*host, kept));
    ASSERT_TRUE(store.up());
    writeLine(*host);
    EXPECT_TRUE(allLinesArrive(*host));
    endHost(*host);
}

} // namespace
