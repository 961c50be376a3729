// The simulator's exchanges through real HTTP(S) on 127.0.0.1, shaped as the
// library sends them.
#include "SimServer.h"
#include "SimTestData.h"

#include <httplib.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace SimTestData;

namespace {

QJsonObject objectOf(const httplib::Result &result)
{
    return result ? QJsonDocument::fromJson(QByteArray::fromStdString(result->body)).object() : QJsonObject();
}

std::string jsonText(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented).toStdString();
}

class StoreSimHttpTest : public ::testing::Test
{
protected:
    void SetUp() override { startServer(false); }

    void startServer(bool https, int requestsPerSecond = 0)
    {
        SimOptions options;
        options.port = 0;
        options.requestsPerSecond = requestsPerSecond;
        options.https = https;
        options.dataDir = dataDir.path().toStdString() + "/probe";
        server = std::make_unique<SimServer>(options, [this](const std::string &line) { log += line + "\n"; });
        std::string error;
        ASSERT_TRUE(server->start(error)) << error;
        if (https) {
            auto secure = std::make_unique<httplib::SSLClient>("127.0.0.1", server->port());
            secure->enable_server_certificate_verification(false);
            client = std::move(secure);
        } else {
            client = std::make_unique<httplib::ClientImpl>("127.0.0.1", server->port());
        }
    }

    httplib::Result post(const std::string &target, const std::string &body)
    {
        return client->Post(target.c_str(), body, "application/json");
    }
    QJsonObject postJson(const std::string &target, const QJsonObject &body)
    {
        return objectOf(post(target, jsonText(body)));
    }

    std::string logIn()
    {
        return postJson("/api/login", {{"mac", "1001"}, {"passWord", "demo"}, {"userName", "demo"}})
            .value("token")
            .toString()
            .toStdString();
    }

    std::string accessToken()
    {
        const auto reply = post("/oauth/2.0/token",
                                "grant_type=client_credentials&client_id=abc123&client_secret=s%2Bcret");
        return objectOf(reply).value("access_token").toString().toStdString();
    }

    QJsonObject faceRequest(const std::string &crop, const char *groupMember, const char *quality)
    {
        return {{groupMember, "demo"}, {"image_type", "BASE64"}, {"image", QString::fromStdString(crop)},
                {"quality_control", quality}};
    }

    QTemporaryDir dataDir;
    std::string log;
    std::unique_ptr<SimServer> server;
    std::unique_ptr<httplib::ClientImpl> client;
};

TEST_F(StoreSimHttpTest, LoginGivesTokenBrandAndLabelsOnlyToTheDemoAccount)
{
    const QJsonObject accepted = postJson("/api/login", {{"mac", "1001"}, {"passWord", "demo"}, {"userName", "demo"}});
    EXPECT_EQ(accepted.value("state").toInt(-1), 0);
    EXPECT_FALSE(accepted.value("token").toString().isEmpty());
    EXPECT_FALSE(accepted.value("brandId").toString().isEmpty());
    const QJsonArray labels = accepted.value("brandLabelList").toArray();
    ASSERT_EQ(labels.size(), 3);
    for (const QJsonValue &label : labels)
        EXPECT_TRUE(label.toObject().contains("labelId") && label.toObject().contains("labelName"));

    const QJsonObject refused = postJson("/api/login", {{"mac", "1001"}, {"passWord", "wrong"}, {"userName", "demo"}});
    EXPECT_EQ(refused.value("state").toInt(), 1001);
    EXPECT_FALSE(refused.value("msg").toString().isEmpty());
    EXPECT_FALSE(refused.contains("token"));
    EXPECT_EQ(server->summary().value("loginsAccepted").toInt(), 1);
    EXPECT_EQ(server->summary().value("loginsRefused").toInt(), 1);
}

TEST_F(StoreSimHttpTest, TradeNeedsTheSessionToken)
{
    const std::string token = logIn();
    const QJsonObject trade{{"mac", "1001"}, {"mobilePhone", "13800138000"}, {"amount", 12.5}};
    EXPECT_EQ(postJson("/api/trade?token=" + token, trade).value("state").toInt(-1), 0);
    EXPECT_EQ(postJson("/api/trade?token=forged", trade).value("state").toInt(), 401);
    EXPECT_EQ(postJson("/api/trade", trade).value("state").toInt(), 401);
    EXPECT_EQ(server->summary().value("tradesAccepted").toInt(), 1);
    EXPECT_NE(log.find("mobile phone 13800138000"), std::string::npos) << log;
}

TEST_F(StoreSimHttpTest, VisitorsGetUidsAndRecordsThatCountTheirVisits)
{
    const std::string token = logIn();
    const QJsonObject uidReply = postJson("/api/uid?token=" + token, {{"mac", "1001"}});
    EXPECT_EQ(uidReply.value("state").toInt(-1), 0);
    const QString uid = uidReply.value("uid").toString();
    ASSERT_FALSE(uid.isEmpty());
    EXPECT_NE(postJson("/api/uid?token=" + token, {{"mac", "1001"}}).value("uid").toString(), uid);

    for (int visit = 1; visit <= 2; ++visit) {
        const QJsonObject user = postJson("/api/user?token=" + token, {{"mac", "1001"}, {"uid", uid}});
        EXPECT_EQ(user.value("state").toInt(-1), 0);
        const QJsonObject info = user.value("userInfo").toObject();
        EXPECT_EQ(info.value("userType").toString(), QString::fromUtf8("非会员"));
        EXPECT_EQ(info.value("uid").toString(), uid);
        EXPECT_EQ(info.value("visits").toInt(), visit);
    }
    EXPECT_EQ(postJson("/api/user?token=" + token, {{"mac", "1001"}, {"uid", "V999999"}}).value("state").toInt(), 404);
    EXPECT_EQ(postJson("/api/user?token=old", {{"mac", "1001"}, {"uid", uid}}).value("state").toInt(), 401);
    EXPECT_EQ(postJson("/api/uid?token=old", {{"mac", "1001"}}).value("state").toInt(), 401);
    const QJsonObject summary = server->summary();
    EXPECT_EQ(summary.value("uidsIssued").toInt(), 2);
    EXPECT_EQ(summary.value("visitorsRegistered").toInt(), 1);
    EXPECT_EQ(summary.value("visitorsRecognisedAgain").toInt(), 1);
}

TEST_F(StoreSimHttpTest, ProbeUploadIsUnpackedAndKeptAsCsv)
{
    const std::string csv = "a4:5e:60:01:02:03,-61,6|1700000000001\r\n"
                            "a4:5e:60:01:02:04,-70,11|1700000000002\r\n";
    const QJsonObject body{{"mac", "1001"}, {"macData", QString::fromStdString(base64(gzip(csv)))}};
    const QJsonObject reply = postJson("/api/probe", body);
    EXPECT_EQ(reply.value("state").toInt(-1), 0);
    EXPECT_FALSE(reply.value("msg").toString().isEmpty());

    const QJsonObject summary = server->summary();
    EXPECT_EQ(summary.value("probeUploads").toInt(), 1);
    EXPECT_EQ(summary.value("probeLines").toInt(), 2);
    ASSERT_EQ(summary.value("probeFiles").toArray().size(), 1);
    QFile kept(summary.value("probeFiles").toArray().first().toString());
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly)) << kept.fileName().toStdString();
    EXPECT_EQ(kept.readAll().toStdString(), csv);
    EXPECT_TRUE(kept.fileName().startsWith(dataDir.path() + "/probe/1001-"));
}

TEST_F(StoreSimHttpTest, SearchFindsAnAddedFaceAgainAndNotAnotherOne)
{
    if (imagePath("astronaut.png").empty() || imagePath("baboon.jpg").empty())
        GTEST_SKIP() << "missing ../shared/data/images/astronaut.png or baboon.jpg";
    const std::string astronaut = base64(pngBytes(faceCrop("astronaut.png")));
    const std::string baboon = base64(pngBytes(faceCrop("baboon.jpg")));
    const std::string token = accessToken();
    ASSERT_FALSE(token.empty());
    const std::string search = "/rest/2.0/face/v3/search?access_token=" + token;
    const std::string add = "/rest/2.0/face/v3/faceset/user/add?access_token=" + token;

    // The service's answer for a group without faces.
    const QJsonObject first = postJson(search, faceRequest(astronaut, "group_id_list", "NONE"));
    EXPECT_EQ(first.value("error_code").toInt(-1), 222207);
    EXPECT_EQ(first.value("error_msg").toString(), "match user is not found");
    EXPECT_FALSE(first.contains("result"));

    QJsonObject addBody = faceRequest(astronaut, "group_id", "NORMAL");
    addBody.insert("user_id", "V000001");
    const QJsonObject added = postJson(add, addBody);
    EXPECT_EQ(added.value("error_code").toInt(-1), 0);
    EXPECT_EQ(added.value("error_msg").toString(), "SUCCESS");
    EXPECT_TRUE(added.value("log_id").isDouble());

    const QJsonObject again = postJson(search, faceRequest(astronaut, "group_id_list", "NONE"));
    const QJsonObject best = again.value("result").toObject().value("user_list").toArray().first().toObject();
    EXPECT_EQ(best.value("user_id").toString(), "V000001");
    EXPECT_TRUE(best.value("score").isDouble());
    EXPECT_GE(best.value("score").toDouble(), 80);

    const QJsonObject other = postJson(search, faceRequest(baboon, "group_id_list", "NONE"));
    EXPECT_LT(other.value("result").toObject().value("user_list").toArray().first().toObject().value("score").toDouble(100), 80);
    EXPECT_EQ(server->summary().value("recognitions").toInt(), 1);

    EXPECT_EQ(postJson("/rest/2.0/face/v3/search?access_token=expired", faceRequest(astronaut, "group_id_list", "NONE"))
                  .value("error_code")
                  .toInt(),
              110);
}

TEST_F(StoreSimHttpTest, BadRequestsGetAClearErrorStateAndTheServerCarriesOn)
{
    const std::string token = logIn();
    for (const std::string &path : std::vector<std::string>{"/api/login", "/api/trade?token=" + token, "/api/uid?token=" + token,
                                    "/api/user?token=" + token, "/api/probe"}) {
        const auto reply = post(path, "{not json");
        ASSERT_TRUE(reply) << path;
        EXPECT_EQ(reply->status, 400) << path;
        EXPECT_EQ(objectOf(reply).value("state").toInt(), 400) << path;
        EXPECT_FALSE(objectOf(reply).value("msg").toString().isEmpty()) << path;
    }
    EXPECT_EQ(postJson("/api/probe", {{"mac", "1001"}, {"macData", "***"}}).value("state").toInt(), 400);
    EXPECT_EQ(postJson("/api/probe", {{"mac", "1001"}, {"macData", QString::fromStdString(base64("plain"))}})
                  .value("state")
                  .toInt(),
              400);
    EXPECT_EQ(postJson("/api/probe", {{"macData", QString::fromStdString(base64(gzip("x\r\n")))}}).value("state").toInt(),
              400);

    const std::string access = accessToken();
    const std::string search = "/rest/2.0/face/v3/search?access_token=" + access;
    EXPECT_EQ(objectOf(post(search, "[]")).value("error_code").toInt(), 222200);
    EXPECT_EQ(postJson(search, faceRequest("", "group_id_list", "NONE")).value("error_code").toInt(), 222001);
    EXPECT_EQ(postJson(search, faceRequest(base64("not a png"), "group_id_list", "NONE")).value("error_code").toInt(),
              222203);
    EXPECT_EQ(post("/oauth/2.0/token", "grant_type=password")->status, 401);

    const auto unknown = post("/api/nothing", "{}");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404);
    EXPECT_EQ(objectOf(unknown).value("state").toInt(), 404);
    EXPECT_EQ(client->Get("/api/login")->status, 405);

    const auto summary = client->Get("/sim/summary");
    ASSERT_TRUE(summary);
    EXPECT_EQ(objectOf(summary).value("badRequests").toInt(), 8);
    EXPECT_EQ(objectOf(summary).value("cloudBadRequests").toInt(), 4);
}

TEST_F(StoreSimHttpTest, ServesHttpsWithASelfSignedCertificate)
{
    server.reset();
    startServer(true);
    EXPECT_EQ(server->baseUrl().rfind("https://127.0.0.1:", 0), 0u);
    EXPECT_FALSE(logIn().empty());
    EXPECT_NE(server->configText().find("FaceSearchUrl=" + server->baseUrl() + "/rest/2.0/face/v3/search"),
              std::string::npos);
}

// With a rate set, face requests beyond it in one second are refused with
// the service's 18; a second later they are served again.
TEST_F(StoreSimHttpTest, FaceRequestsBeyondTheRateAreRefusedWith18)
{
    if (imagePath("astronaut.png").empty())
        GTEST_SKIP() << "missing ../shared/data/images/astronaut.png";
    server.reset();
    startServer(false, 2);
    const std::string token = accessToken();
    const std::string search = "/rest/2.0/face/v3/search?access_token=" + token;
    const QJsonObject face = faceRequest(base64(pngBytes(faceCrop("astronaut.png"))), "group_id_list", "NONE");
    std::vector<int> codes;
    for (int i = 0; i < 3; ++i)
        codes.push_back(postJson(search, face).value("error_code").toInt(-1));
    EXPECT_EQ(codes, (std::vector<int>{222207, 222207, 18}));
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(postJson(search, face).value("error_code").toInt(-1), 222207);
    EXPECT_EQ(server->summary().value("cloudRateRefusals").toInt(), 1);
}

} // namespace
