// The identification chain against the fake cloud face service and the
// fake store server: what each step sends, how replies steer the chain,
// what the host receives, and how a refused session token ends it.
#include "CloudCredentials.h"
#include "CloudFixture.h"
#include "FaceCloud.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QThread>
#include <QJsonObject>

namespace {

const QByteArray faceImage = "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==";

class FaceCloudTest : public CloudFixture
{
protected:
    void SetUp() override
    {
        CloudFixture::SetUp();
        cloud.answer(FakeFaceCloud::tokenPath, FakeFaceCloud::tokenReply("24.tok/1"));
        cloud.answer(FakeFaceCloud::addPath, FakeFaceCloud::addReply());
        store.answer("/uid", R"({"state":0,"uid":"V-42"})");
        store.answer("/user", R"({"state":0,"userInfo":{"userType":"Member"}})");
    }

    // A token, then one search of the face for each search reply queued.
    void searchFaces(int count = 1)
    {
        withFaceCloud([&](FaceCloud &faceCloud) {
            faceCloud.RequestToken();
            for (int i = 0; i < count; ++i)
                faceCloud.SearchFace(faceImage);
        });
    }

    void queueSearch(const std::string &body) { cloud.queue(FakeFaceCloud::searchPath, {200, body}); }

    QList<QJsonObject> visitors() const
    {
        QList<QJsonObject> records;
        for (const CloudHostCall &call : callsOf("face"))
            records.append(QJsonDocument::fromJson(call.text.toUtf8()).object());
        return records;
    }

    size_t requestsTo(const FakeStoreServer &server, const char *path) const { return server.requestsTo(path).size(); }
};

// A face the service does not know well enough: a new uid from the store,
// the face added under it, the uid reported, the record handed to the host.
TEST_F(FaceCloudTest, NewVisitorIsAddedUnderAFreshUidAndReachesTheHost)
{
    startCore();
    store.answer("/user", R"({"state":0,"msg":"ok","userInfo":{"name":"李雷","level":3,"userType":"Member",)"
                          R"("type":"old","image":"old"}})");
    queueSearch(FakeFaceCloud::searchReply("someone-else", 35.5));
    searchFaces();

    const auto token = cloud.requestsTo(FakeFaceCloud::tokenPath);
    ASSERT_EQ(token.size(), 1u);
    EXPECT_EQ(token[0].body, ("grant_type=client_credentials&client_id=" + CloudCredentials::clientId()
                              + "&client_secret=" + CloudCredentials::clientSecret())
                                 .toStdString());
    EXPECT_EQ(token[0].header("Content-Type"), "application/json");
    const auto search = cloud.requestsTo(FakeFaceCloud::searchPath);
    ASSERT_EQ(search.size(), 1u);
    EXPECT_EQ(search[0].query, "access_token=24.tok%2F1");
    EXPECT_EQ(search[0].body, "{\n    \"group_id_list\": \"store-7\",\n    \"image\": \"" + faceImage.toStdString()
                                  + "\",\n    \"image_type\": \"BASE64\",\n    \"quality_control\": \"NONE\"\n}\n");
    const auto uid = store.requestsTo("/uid");
    ASSERT_EQ(uid.size(), 1u);
    EXPECT_EQ(uid[0].query, "token=tok%201");
    EXPECT_EQ(uid[0].body, "{\n    \"mac\": \"S-1\"\n}\n");
    const auto add = cloud.requestsTo(FakeFaceCloud::addPath);
    ASSERT_EQ(add.size(), 1u);
    EXPECT_EQ(add[0].query, "access_token=24.tok%2F1");
    EXPECT_EQ(add[0].body, "{\n    \"group_id\": \"store-7\",\n    \"image\": \"" + faceImage.toStdString()
                               + "\",\n    \"image_type\": \"BASE64\",\n    \"quality_control\": \"NORMAL\",\n"
                                 "    \"user_id\": \"V-42\"\n}\n");
    const auto user = store.requestsTo("/user");
    ASSERT_EQ(user.size(), 1u);
    EXPECT_EQ(user[0].body, "{\n    \"mac\": \"S-1\",\n    \"uid\": \"V-42\"\n}\n");
    EXPECT_EQ(user[0].query, "token=tok%201");

    const auto faces = callsOf("face");
    ASSERT_EQ(faces.size(), 1);
    EXPECT_TRUE(faces[0].text.startsWith("{\n    \"")) << "indented JSON";
    const QJsonObject visitor = visitors()[0];
    EXPECT_EQ(visitor.keys(), (QStringList{"image", "level", "name", "type", "userType"}));
    EXPECT_EQ(visitor.value("name").toString(), QString("李雷"));
    EXPECT_EQ(visitor.value("type").toString(), "Member");
    EXPECT_EQ(visitor.value("image").toString().toLatin1(), faceImage);

    const QString text = log();
    EXPECT_TRUE(text.contains("Login to Baidu {\"refresh_token\":\"********\",\"expires_in\":25920"));
    EXPECT_TRUE(text.contains("Search Face from Baidu {\"error_code\":0")) << text.toStdString();
    EXPECT_TRUE(text.contains("} (NONE, store-7)"));
    EXPECT_TRUE(text.contains("Request Uid {\"state\":0,\"uid\":\"V-42\"} (S-1)"));
    EXPECT_TRUE(text.contains("Register Face to Baidu {\"error_code\":0"));
    EXPECT_TRUE(text.contains("} (, NONE, store-7)"));
    EXPECT_TRUE(text.contains("Register user S-1, V-42 ({\"state\":0"));
}

// A score at the threshold is the same person: reported at once under the
// matched id. Just below it the face is new; a match without an id, an
// empty user list with a positive threshold, and the service's "match user
// is not found" (222207, also its answer for a group without faces) behave
// accordingly.
TEST_F(FaceCloudTest, ScoreAtTheThresholdIsAKnownVisitor)
{
    startCore();
    queueSearch(FakeFaceCloud::searchReply("known-7", 80.0));
    queueSearch(FakeFaceCloud::searchReply("", 99.5));
    queueSearch(FakeFaceCloud::searchReply("almost", 79.99));
    queueSearch(R"({"result":{"user_list":[]}})");
    queueSearch(FakeFaceCloud::errorReply(222207));
    searchFaces(5);

    const auto users = store.requestsTo("/user");
    ASSERT_EQ(users.size(), 4u);
    EXPECT_EQ(users[0].body, "{\n    \"mac\": \"S-1\",\n    \"uid\": \"known-7\"\n}\n");
    EXPECT_TRUE(users[1].body.find("V-42") != std::string::npos);
    EXPECT_TRUE(users[2].body.find("V-42") != std::string::npos);
    EXPECT_TRUE(users[3].body.find("V-42") != std::string::npos);
    EXPECT_EQ(requestsTo(store, "/uid"), 3u);
    EXPECT_EQ(requestsTo(cloud, FakeFaceCloud::addPath), 3u);
    EXPECT_EQ(callsOf("face").size(), 4);
}

// 100, 110 and 111 drop the token, and the next token request fetches a
// new one; any other code, or a reply that is no object, ends the chain
// silently with the token kept.
TEST_F(FaceCloudTest, RefusedTokensAreDroppedOtherCodesEndTheChain)
{
    startCore();
    for (int code : {100, 110, 111, 223105, 216100}) {
        SCOPED_TRACE(code);
        queueSearch(FakeFaceCloud::errorReply(code));
        const bool dropped = code == 100 || code == 110 || code == 111;
        withFaceCloud([&](FaceCloud &faceCloud) {
            faceCloud.RequestToken();
            faceCloud.SearchFace(faceImage);
            EXPECT_EQ(faceCloud.hasToken(), !dropped);
        });
    }
    queueSearch("not json");
    queueSearch("{}");
    queueSearch(FakeFaceCloud::searchReply("new", 10));
    cloud.queue(FakeFaceCloud::addPath, {200, FakeFaceCloud::errorReply(110)});
    withFaceCloud([&](FaceCloud &faceCloud) {
        faceCloud.RequestToken();
        faceCloud.SearchFace(faceImage);
        faceCloud.SearchFace(faceImage);
        EXPECT_TRUE(faceCloud.hasToken());
        faceCloud.SearchFace(faceImage);
        EXPECT_FALSE(faceCloud.hasToken()) << "the add refused the token";
    });
    EXPECT_EQ(requestsTo(store, "/uid"), 1u);
    EXPECT_EQ(requestsTo(store, "/user"), 0u);
    EXPECT_TRUE(callsOf("face").isEmpty());
    EXPECT_TRUE(callsOf("notify").isEmpty());
}

// The service's limits: "too many queries" (18) and "busy" (2229xx) send
// the same face again after a pause, at most twice; a used-up quota (17,
// 19) stops the searches for Baidu/QuotaPause with one ERROR line and one
// notice per pause, and the faces meanwhile are counted, not searched.
TEST_F(FaceCloudTest, LimitAnswersRetryTheFaceOrPauseTheSearches)
{
    startCore("QuotaPause=1\n");
    queueSearch(FakeFaceCloud::errorReply(18));
    queueSearch(FakeFaceCloud::errorReply(222901));
    queueSearch(FakeFaceCloud::searchReply("known-7", 95));
    for (int i = 0; i < 3; ++i)
        queueSearch(FakeFaceCloud::errorReply(222902));
    queueSearch(FakeFaceCloud::errorReply(17));
    queueSearch(FakeFaceCloud::errorReply(19));
    FaceWorkerCounts counts;
    withFaceCloud([&](FaceCloud &faceCloud) {
        faceCloud.RequestToken();
        QElapsedTimer retried;
        retried.start();
        EXPECT_EQ(faceCloud.SearchFace(faceImage), FaceCloud::Outcome::Reported);
        EXPECT_GE(retried.elapsed(), 2 * FaceCloud::busyPauseMs - 100);
        EXPECT_EQ(faceCloud.SearchFace(faceImage), FaceCloud::Outcome::NotReported) << "busy three times";
        EXPECT_EQ(requestsTo(cloud, FakeFaceCloud::searchPath), 6u);

        EXPECT_EQ(faceCloud.SearchFace(faceImage), FaceCloud::Outcome::Paused);
        EXPECT_EQ(faceCloud.SearchFace(faceImage), FaceCloud::Outcome::Paused);
        EXPECT_EQ(requestsTo(cloud, FakeFaceCloud::searchPath), 7u) << "nothing sent during the pause";
        QThread::msleep(1100);
        EXPECT_EQ(faceCloud.SearchFace(faceImage), FaceCloud::Outcome::Paused) << "the quota again";
        EXPECT_EQ(requestsTo(cloud, FakeFaceCloud::searchPath), 8u);
        counts = faceCloud.takeCounts();
    });
    for (const auto &search : cloud.requestsTo(FakeFaceCloud::searchPath))
        EXPECT_NE(search.body.find(faceImage.toStdString()), std::string::npos);
    EXPECT_EQ(visitors().size(), 1);
    EXPECT_EQ(counts.searches, 8);
    EXPECT_EQ(counts.notSearched, 1);
    EXPECT_EQ(counts.reports, 1);
    const std::map<int, int> errors{{17, 1}, {18, 1}, {19, 1}, {222901, 1}, {222902, 3}};
    EXPECT_EQ(counts.cloudErrors, errors);
    QStringList notices;
    for (const CloudHostCall &call : callsOf("notify"))
        notices << QString::number(call.code) + " " + call.text;
    EXPECT_EQ(notices, QStringList({"6208 Cloud face service quota used up (error 17): no face is searched for 1 s",
                                    "6208 Cloud face service quota used up (error 19): no face is searched for 1 s"}));
    EXPECT_EQ(log().count("ERROR root - The cloud face service's quota is used up"), 2) << log().toStdString();
}

// One chain may serve successive runs of the loop on different threads of
// the pool; its token stays.
TEST_F(FaceCloudTest, TokenSurvivesARunOnAnotherThread)
{
    startCore();
    queueSearch(FakeFaceCloud::searchReply("known", 95));
    FaceCloud faceCloud(stopRequested);
    onLoopThread([&] { faceCloud.RequestToken(); });
    onLoopThread([&] { faceCloud.SearchFace(faceImage); });
    EXPECT_EQ(requestsTo(cloud, FakeFaceCloud::tokenPath), 1u);
    EXPECT_EQ(cloud.requestsTo(FakeFaceCloud::searchPath).at(0).query, "access_token=24.tok%2F1");
    EXPECT_EQ(visitors().size(), 1);
}

// A token reply without "access_token" leaves the token empty; the only
// line is the start of the reply.
TEST_F(FaceCloudTest, TokenReplyWithoutATokenLeavesItEmpty)
{
    startCore();
    cloud.answer(FakeFaceCloud::tokenPath, R"({"error":"invalid_client","error_description":"unknown client id"})");
    withFaceCloud([](FaceCloud &faceCloud) {
        faceCloud.RequestToken();
        EXPECT_FALSE(faceCloud.hasToken());
    });
    EXPECT_TRUE(log().contains("Login to Baidu {\"error\":\"invalid_client\",\"error_description\":\"unk\n"));
}

// The store's readings of "state", "uid" and "userType".
TEST_F(FaceCloudTest, MemberRepliesAreReadAsTheStoreWritesThem)
{
    startCore();
    cloud.answer(FakeFaceCloud::searchPath, FakeFaceCloud::searchReply("nobody", 1.5));
    store.queue("/uid", {200, R"({"state":"0","uid":"V-text"})"});
    store.queue("/uid", {200, R"({"state":0})"});
    store.queue("/uid", {200, R"({"state":500,"uid":"V-refused"})"});
    store.queue("/uid", {200, R"({"state":0,"uid":"V-a"})"});
    store.queue("/uid", {200, R"({"state":0,"uid":"V-b"})"});
    store.queue("/uid", {200, R"({"state":0,"uid":"V-c"})"});
    store.queue("/uid", {200, R"({"state":0,"uid":"V-d"})"});
    store.queue("/user", {200, R"({"state":0,"userInfo":{"userType":"Member"}})"});
    store.queue("/user", {200, R"({"state":500})"});
    store.queue("/user", {200, R"({"state":0,"userInfo":{"userType":" Not member "}})"});
    store.queue("/user", {200, R"({"state":0,"userInfo":{"userType":"not member"}})"});
    store.queue("/user", {200, "[]"});
    searchFaces(7);

    const auto adds = cloud.requestsTo(FakeFaceCloud::addPath);
    ASSERT_EQ(adds.size(), 5u) << "no add without a uid or with a refused state";
    EXPECT_TRUE(adds[0].body.find("\"V-text\"") != std::string::npos);
    const QList<QJsonObject> records = visitors();
    ASSERT_EQ(records.size(), 4) << "an answer that is no object reaches nobody";
    EXPECT_EQ(records[0].value("type").toString(), "Member");
    EXPECT_EQ(records[1], (QJsonObject{{"image", QString(faceImage)}, {"type", "Member"}}));
    EXPECT_EQ(records[2].value("type").toString(), "Not member");
    EXPECT_EQ(records[2].value("userType").toString(), " Not member ");
    EXPECT_EQ(records[3].value("type").toString(), "Member");
}

// 401 from the member service, as text or as the number 401.0: the
// session ends on the host thread (logout first), then the host hears 6106.
TEST_F(FaceCloudTest, RefusedSessionTokenEndsTheSession)
{
    for (const char *refusal : {R"({"state":"401"})", R"({"state":401.0})"}) {
        for (const char *path : {"/uid", "/user"}) {
            SCOPED_TRACE(std::string(path) + refusal);
            startCore();
            ASSERT_EQ(core->Start(), 0);
            queueSearch(FakeFaceCloud::searchReply("known", path == std::string("/uid") ? 1 : 90));
            store.queue(path, {200, refusal});
            const int before = callsOf("session").size();
            searchFaces();
            ASSERT_TRUE(waitUntil([&] { return callsOf("session").size() > before; }));
            const CloudHostCall ended = callsOf("session").last();
            EXPECT_EQ(ended.code, NV_SESSION_INVALID_TOKEN);
            EXPECT_EQ(ended.text, "Invalid token");
            EXPECT_EQ(ended.tokenDuringCall, "") << "logout comes first";
            EXPECT_FALSE(core->isStarted());
            EXPECT_TRUE(callsOf("face").isEmpty());
            core.reset();
        }
    }
    EXPECT_EQ(requestsTo(cloud, FakeFaceCloud::addPath), 0u);
}

// Neither the client secret nor a whole face image reaches the log.
TEST_F(FaceCloudTest, FailedRequestsLogNoSecretAndNoWholeImage)
{
    startCore();
    cloud.answer(FakeFaceCloud::tokenPath, {404, "{}"});
    const QByteArray bigImage = QByteArray(3000, 'A') + "==";
    withFaceCloud([&](FaceCloud &faceCloud) {
        faceCloud.RequestToken();
        faceCloud.SearchFace(bigImage);
    });
    const QString text = log();
    EXPECT_TRUE(text.contains("client_secret=********, 203, ")) << text.toStdString();
    EXPECT_FALSE(text.contains(CloudCredentials::clientSecret()));
    EXPECT_TRUE(text.contains("\"image\": \"" + QByteArray(32, 'A') + "...(3002 chars)\"")) << text.toStdString();
    EXPECT_FALSE(text.contains(QByteArray(33, 'A')));
    ASSERT_EQ(callsOf("notify").size(), 1);
    EXPECT_EQ(callsOf("notify")[0].text, "Network error (203)");
}

} // namespace
