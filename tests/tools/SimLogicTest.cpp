// The simulator's pure logic: the face score, gunzip, probe line counting
// and the command line.
#include "FaceGallery.h"
#include "Gunzip.h"
#include "SimOptions.h"
#include "SimTestData.h"
#include "StoreSim.h"

#include <opencv2/imgcodecs.hpp>

#include <gtest/gtest.h>

using namespace SimTestData;

namespace {

cv::Mat signatureOfImage(const std::string &name)
{
    return FaceGallery::signatureOfEncoded(pngBytes(faceCrop(name)));
}

TEST(FaceGalleryTest, AFaceScoresHighAgainstItselfAndLowAgainstOthers)
{
    for (const char *name : {"astronaut.png", "baboon.jpg", "messi5.jpg"}) {
        if (imagePath(name).empty())
            GTEST_SKIP() << "missing test image ../shared/data/images/" << name;
    }
    FaceGallery gallery;
    gallery.add("store", "V1", signatureOfImage("astronaut.png"));

    const FaceGallery::Match same = gallery.bestMatch({"store"}, signatureOfImage("astronaut.png"));
    EXPECT_EQ(same.userId, "V1");
    EXPECT_GE(same.score, 80);

    // Re-encoded with loss, as a camera frame would differ: still the same person.
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", faceCrop("astronaut.png"), jpeg, {cv::IMWRITE_JPEG_QUALITY, 60});
    EXPECT_GE(gallery.bestMatch({"store"}, FaceGallery::signatureOfEncoded(std::string(jpeg.begin(), jpeg.end()))).score, 80);

    for (const char *other : {"baboon.jpg", "messi5.jpg"}) {
        const FaceGallery::Match match = gallery.bestMatch({"store"}, signatureOfImage(other));
        EXPECT_EQ(match.userId, "V1") << "the only face is the best match, whatever its score";
        EXPECT_LT(match.score, 80) << other;
    }

    // Other groups are not searched; an empty group has no match.
    EXPECT_TRUE(gallery.bestMatch({"other"}, signatureOfImage("astronaut.png")).userId.empty());
    EXPECT_EQ(gallery.faceCount(), 1u);
}

TEST(FaceGalleryTest, NoImageOrNoContrastGivesNoSignature)
{
    EXPECT_TRUE(FaceGallery::signatureOfEncoded("").empty());
    EXPECT_TRUE(FaceGallery::signatureOfEncoded("not an image at all").empty());
    const cv::Mat flat(80, 80, CV_8UC3, cv::Scalar(90, 90, 90));
    EXPECT_TRUE(FaceGallery::signatureOfEncoded(pngBytes(flat)).empty());
    EXPECT_EQ(FaceGallery::score(cv::Mat(), cv::Mat()), 0);
}

TEST(GunzipTest, UnpacksEveryMemberAndRefusesDamage)
{
    const std::string first = "aa:bb:cc:dd:ee:ff,-61|1700000000000\r\n";
    const std::string second(200000, 'x');
    std::string unpacked, error;
    ASSERT_TRUE(gunzip(gzip(first) + gzip(second), unpacked, 1 << 20, error)) << error;
    EXPECT_EQ(unpacked, first + second);

    const std::string archive = gzip(second);
    EXPECT_FALSE(gunzip(archive.substr(0, archive.size() / 2), unpacked, 1 << 20, error));
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;
    std::string damaged = archive;
    damaged[12] ^= 0x55;
    damaged[13] ^= 0x55;
    EXPECT_FALSE(gunzip(damaged, unpacked, 1 << 20, error));
    EXPECT_FALSE(gunzip("plain text, not gzip", unpacked, 1 << 20, error));
    EXPECT_EQ(error, "not a gzip file");
    EXPECT_FALSE(gunzip(archive, unpacked, 1000, error)) << "200000 bytes exceed the limit of 1000";
    EXPECT_NE(error.find("exceed"), std::string::npos) << error;
    EXPECT_FALSE(gunzip(archive + "trailing garbage", unpacked, 1 << 20, error));
}

TEST(StoreSimTest, CountsProbeLinesAndTheirTimeStamps)
{
    int stamped = -1;
    EXPECT_EQ(StoreSim::countLines("a|1700000000000\r\nb\r\n|12\r\nc|x1\r\npartial", &stamped), 4);
    EXPECT_EQ(stamped, 2);
    EXPECT_EQ(StoreSim::countLines("no line end\n\r", &stamped), 0);
    EXPECT_EQ(stamped, 0);
}

TEST(SimOptionsTest, ReadsValuesAndRefusesMistakes)
{
    SimOptions options;
    std::string error;
    ASSERT_TRUE(options.parse({"--port=0", "--user", "kasse", "--data-dir", "/tmp/x", "--trade-path=/t",
                               "--recognition-score", "75.5", "--qps=2"},
                              error))
        << error;
    EXPECT_EQ(options.port, 0);
    EXPECT_EQ(options.userName, "kasse");
    EXPECT_EQ(options.dataDir, "/tmp/x");
    EXPECT_EQ(options.tradePath, "/t");
    EXPECT_DOUBLE_EQ(options.recognitionScore, 75.5);
    EXPECT_EQ(options.requestsPerSecond, 2);
    EXPECT_FALSE(options.https);

    const std::vector<std::vector<std::string>> wrong{
        {"--port", "70000"}, {"--port", "12ab"}, {"--user"}, {"--colour", "red"}, {"--cert", "c.pem"},
        {"--login-path", "login"}, {"--recognition-score", "101"}, {"--qps", "1.5"}, {"--qps", "-1"}};
    for (const auto &arguments : wrong) {
        SimOptions refused;
        EXPECT_FALSE(refused.parse(arguments, error)) << arguments.front();
        EXPECT_FALSE(error.empty());
    }
    SimOptions help;
    ASSERT_TRUE(help.parse({"--help"}, error));
    EXPECT_TRUE(help.help);
    EXPECT_NE(SimOptions::usage().find("--https"), std::string::npos);
}

} // namespace
