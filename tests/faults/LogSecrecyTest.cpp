// What the library writes to log/ at TRACE, the most it writes, while a
// cashier logs in, a trade goes out and a visitor is searched, added and
// reported through the real library in the plain C host: no password,
// token, secret or full phone number, but their masked forms; and line
// breaks sent by a server never start a line of their own.
#include "CascadeFiles.h"
#include "CloudCredentials.h"
#include "FakeFaceCloud.h"
#include "FakeStoreServer.h"
#include "HostProcess.h"
#include "TestInstall.h"

#include <QDirIterator>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

const char password[] = "Pw-7Hq2-Secret";
const char sessionToken[] = "Sx+Token/4Kd9Vb";
const char accessToken[] = "24.Ac+Cess/Tok9";
const char tradePhone[] = "13987654321";
const char memberMobile[] = "15612345678";
const char memberPhone[] = "02155550199"; // no mobile number: masked because the member record named it

// Every file under log/, in one text, with each file's lines.
QStringList logLines(const QString &logDir)
{
    QStringList lines;
    QDirIterator files(logDir, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext())
        lines += QString::fromUtf8(readFile(files.next())).split('\n', Qt::SkipEmptyParts);
    return lines;
}

TEST(LogSecrecyTest, NoSecretReachesTheLogAtTrace)
{
    TestInstall install;
    FakeStoreServer store;
    FakeFaceCloud cloud;
    const QString scene = install.path() + "/scene.png";
    const QString missing = installFaceScene(install.path(), "astronaut.png", scene);
    if (!missing.isEmpty())
        GTEST_SKIP() << "missing " << missing.toStdString();

    store.answer("/login", std::string(R"({"state":0,"msg":"ok","token":")") + R"(Sx+Token/4Kd9Vb","brandId":"B1",)"
                               R"("brandLabelList":[]})");
    store.answer("/trade", R"({"state":0,"msg":"ok"})");
    store.queue("/user", {200, std::string(R"({"state":0,"userInfo":{"name":"Li Lei","userType":"Member",)")
                                   + R"("mobile":")" + memberMobile + R"(","homePhone":")" + memberPhone + "\"}}"});
    // Raw line breaks in the server's texts, each followed by what looks
    // like a line of the library's own.
    store.answer("/user", std::string(R"({"state":0,"msg":"seen )") + memberPhone
                              + "\",\r\n\"userInfo\":{\"name\":\"Li\nTRACE root - FORGED member\"}}");
    cloud.queue(FakeFaceCloud::tokenPath, {500, "down"});
    cloud.answer(FakeFaceCloud::tokenPath,
                 R"({"refresh_token":"25.Refresh-Zz81","expires_in":2592000,"session_key":"9mzdSessKey",)"
                 R"("access_token":"24.Ac+Cess/Tok9","scope":"public","session_secret":"2caSessSecret6"})");
    cloud.queue(FakeFaceCloud::searchPath, {500, "busy"});
    cloud.queue(FakeFaceCloud::searchPath,
                {200, R"({"error_code":17,"error_msg":"Open api daily request limit reached\nTRACE root - FORGED cloud"})"});
    cloud.answer(FakeFaceCloud::searchPath, FakeFaceCloud::searchReply("V-42", 95.0));
    cloud.answer(FakeFaceCloud::addPath, FakeFaceCloud::addReply());
    install.writeConfig(TestInstall::fileLogGroup("nerova")
                        + QString("[Server]\nServer=%1\nLoginUrl=/login\nTradeUrl=/trade\nUIdUrl=/uid\n"
                                  "AddUserUrl=/user\n[Nerova]\nDeviceId=STORE-9\nCheckDeviceInterval=1\n"
                                  "[Probe]\nProbeEnabled=false\n[Face]\nFaceDevice=vid_0000&pid_0000&mi_00#virtual1\n"
                                  "FaceInterval=1\nFaceThreshold=0\n")
                              .arg(store.baseUrl())
                        + cloud.configGroup() + "QuotaPause=0\n");

    HostProcess host(HostProcess::Kind::C, {"NEROVA_VIRTUAL_CAMERAS=Shop door=" + scene});
    ASSERT_TRUE(host.isLoaded());
    ASSERT_EQ(host.run("init"), 0);
    ASSERT_EQ(host.run(QString("login cashier ") + password), 0);
    ASSERT_TRUE(host.loopUntil([&] { return !host.lines("callback", "session").isEmpty(); }));
    ASSERT_EQ(host.lines("callback", "session")[0].value("code").toInt(), 0);
    ASSERT_EQ(host.run(QString(R"(report {"mobilePhone":"%1","amount":"12.50"})").arg(tradePhone)), 0);
    ASSERT_EQ(host.run("start"), 0);
    ASSERT_TRUE(host.loopUntil([&] { return store.requestsTo("/user").size() >= 2 && !store.requestsTo("/trade").empty(); },
                               60000))
        << install.logText("nerova.log").toStdString();
    EXPECT_EQ(host.run("uninit"), 0);
    ASSERT_TRUE(host.finish());
    EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();

    const QStringList lines = logLines(install.logDir());
    const QString log = lines.join('\n');
    const QString sent[] = {password,
                            sessionToken,
                            "Sx%2BToken%2F4Kd9Vb",
                            accessToken,
                            "24.Ac%2BCess%2FTok9",
                            "25.Refresh-Zz81",
                            "9mzdSessKey",
                            "2caSessSecret6",
                            CloudCredentials::clientSecret(),
                            tradePhone,
                            memberMobile,
                            memberPhone};
    for (const QString &secret : sent) {
        EXPECT_FALSE(log.contains(secret)) << secret.toStdString() << " in " << log.toStdString();
        EXPECT_FALSE(host.errorOutput().contains(secret)) << secret.toStdString();
    }
    const QString masked[] = {R"("token":"********")", "access_token=********", "client_secret=********",
                              "*******4321", "*******5678", "seen *******0199", "\\nTRACE root - FORGED cloud",
                              "\\nTRACE root - FORGED member"};
    for (const QString &form : masked)
        EXPECT_TRUE(log.contains(form)) << form.toStdString() << " not in " << log.toStdString();

    const QRegularExpression record("^(TRACE|DEBUG|INFO|WARN|ERROR|FATAL) \\S+ - ");
    for (const QString &line : lines) {
        EXPECT_TRUE(record.match(line).hasMatch()) << "not a record of its own: " << line.toStdString();
        EXPECT_FALSE(line.startsWith("TRACE root - FORGED")) << line.toStdString();
    }
}

} // namespace
