// The camera list (real cameras read from a sysfs tree, virtual cameras
// from the environment) and the capture of virtual cameras from real files.
#include "CameraCapture.h"
#include "CascadeFiles.h"
#include "CameraList.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <gtest/gtest.h>

namespace {

void writeText(const QString &path, const QString &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(text.toUtf8());
}

// A USB camera in sysfs: its device (vendor, product), its interface, and
// its V4L2 nodes below the class directory, linked to the interface.
void addUsbNode(const QString &root, const QString &port, const QString &node, int index, const QString &name)
{
    const QString device = root + "/devices/" + port;
    writeText(device + "/idVendor", "046d\n");
    writeText(device + "/idProduct", "0825\n");
    const QString interface = device + "/" + port + ":1.0";
    writeText(interface + "/bInterfaceNumber", "00\n");
    const QString nodeDir = root + "/class/" + node;
    writeText(nodeDir + "/name", name + "\n");
    writeText(nodeDir + "/index", QString::number(index) + "\n");
    QFile::link(interface, nodeDir + "/device");
}

TEST(CameraListTest, IdentifierIsTheTextBetweenTheMarkers)
{
    EXPECT_EQ(CameraList::identifier(CameraList::windowsDeviceName(0x46d, 0x825, 0, "1-1.2")),
              "vid_046d&pid_0825&mi_00#1-1.2");
    // Without "usb#" (the search is case-sensitive) it starts at the fourth character.
    EXPECT_EQ(CameraList::identifier(R"(\\?\USB#vid_1&0&0000#x)"), R"(\USB#vid_1)");
    EXPECT_EQ(CameraList::identifier(R"(\\?\usb#vid_1#port)"), "vid_1#port");
    EXPECT_EQ(CameraList::identifier(R"(a&0&0000#b usb#tail)"), "tail");
    EXPECT_EQ(CameraList::identifier(""), "");
}

TEST(CameraListTest, OneEntryPerUsbCameraWithItsCaptureNode)
{
    QTemporaryDir root;
    addUsbNode(root.path(), "1-1.2", "video0", 0, "HD Webcam C270");
    addUsbNode(root.path(), "1-1.2", "video1", 1, "HD Webcam C270");
    addUsbNode(root.path(), "2-3", "video3", 1, "Other");
    addUsbNode(root.path(), "2-3", "video2", 0, "Other");
    const QList<CameraInfo> cameras = CameraList::realCameras(root.path() + "/class");
    ASSERT_EQ(cameras.size(), 2);
    EXPECT_EQ(cameras[0].description, "HD Webcam C270");
    EXPECT_EQ(cameras[0].captureTarget, "/dev/video0");
    EXPECT_EQ(cameras[0].deviceName,
              R"(\\?\usb#vid_046d&pid_0825&mi_00#1-1.2&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\global)");
    EXPECT_FALSE(cameras[0].isVirtual);
    EXPECT_EQ(cameras[1].captureTarget, "/dev/video2");
    EXPECT_EQ(CameraList::identifier(cameras[1].deviceName), "vid_046d&pid_0825&mi_00#2-3");
    EXPECT_TRUE(CameraList::realCameras(root.path() + "/none").isEmpty());
}

TEST(CameraListTest, VirtualCamerasAreReadFromTheEnvironmentAtEveryCall)
{
    qputenv("NEROVA_VIRTUAL_CAMERAS", " Door = /srv/door.png;;broken;Till=rtsp://10.0.0.5/live?a=b");
    QList<CameraInfo> cameras = CameraList::virtualCameras(qEnvironmentVariable("NEROVA_VIRTUAL_CAMERAS"));
    ASSERT_EQ(cameras.size(), 2);
    EXPECT_EQ(cameras[0].description, "Door");
    EXPECT_EQ(cameras[0].captureTarget, "/srv/door.png");
    EXPECT_EQ(CameraList::identifier(cameras[0].deviceName), "vid_0000&pid_0000&mi_00#virtual1");
    EXPECT_EQ(cameras[1].captureTarget, "rtsp://10.0.0.5/live?a=b");
    EXPECT_EQ(CameraList::identifier(cameras[1].deviceName), "vid_0000&pid_0000&mi_00#virtual2");
    EXPECT_TRUE(cameras[1].isVirtual);
    EXPECT_EQ(CameraList::available().mid(CameraList::available().size() - 2).first().description, "Door");

    qunsetenv("NEROVA_VIRTUAL_CAMERAS");
    for (const CameraInfo &camera : CameraList::available())
        EXPECT_FALSE(camera.isVirtual);
}

class VirtualCaptureTest : public ::testing::Test
{
protected:
    CameraInfo camera(const QString &source) const
    {
        CameraInfo info;
        info.captureTarget = source;
        info.isVirtual = true;
        return info;
    }

    QTemporaryDir dir;
    CameraCapture capture;
    cv::Mat frame;
};

TEST_F(VirtualCaptureTest, StillImageIsServedUntilItChangesAndFailsOnceRemoved)
{
    const QString astronaut = sharedImage("astronaut.png");
    const QString baboon = sharedImage("baboon.jpg");
    if (astronaut.isEmpty() || baboon.isEmpty())
        GTEST_SKIP() << "missing ../shared/data/images/astronaut.png or baboon.jpg";
    const QString scene = dir.path() + "/scene.png";
    ASSERT_TRUE(QFile::copy(astronaut, scene));
    // The copy keeps the mode of the test data, which may be read-only.
    ASSERT_TRUE(QFile::setPermissions(scene, QFile::ReadOwner | QFile::WriteOwner));

    ASSERT_TRUE(capture.open(camera(scene)));
    ASSERT_TRUE(capture.read(frame));
    const cv::Mat first = frame.clone();
    ASSERT_TRUE(capture.read(frame));
    EXPECT_EQ(cv::norm(first, frame, cv::NORM_INF), 0);

    ASSERT_TRUE(cv::imwrite(scene.toStdString(), cv::imread(baboon.toStdString())));
    ASSERT_TRUE(capture.read(frame));
    EXPECT_GT(cv::norm(first, frame, cv::NORM_INF), 0) << "the changed file is read again";

    QFile::remove(scene);
    EXPECT_FALSE(capture.isOpened());
    EXPECT_FALSE(capture.read(frame));
    EXPECT_TRUE(frame.empty());
    capture.release();
    EXPECT_FALSE(capture.open(camera(scene)));
    EXPECT_FALSE(capture.isOpened());
    EXPECT_FALSE(capture.open(camera(dir.path() + "/not-an-image.txt")));
}

TEST_F(VirtualCaptureTest, VideoFileGivesItsFramesThenEnds)
{
    const QString video = dir.path() + "/clip.avi";
    cv::VideoWriter writer(video.toStdString(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10, cv::Size(64, 48));
    if (!writer.isOpened())
        GTEST_SKIP() << "OpenCV cannot write an MJPG video here";
    for (int i = 0; i < 3; ++i)
        writer.write(cv::Mat(48, 64, CV_8UC3, cv::Scalar(40 * i, 0, 0)));
    writer.release();

    ASSERT_TRUE(capture.open(camera(video)));
    int frames = 0;
    while (capture.read(frame))
        ++frames;
    EXPECT_EQ(frames, 3);
    EXPECT_FALSE(capture.open(camera("file:///nowhere/stream.mjpg")));
}

} // namespace
