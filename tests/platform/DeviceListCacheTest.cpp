// The device lists are kept until the device directories change: a real
// inotify watch on a temporary directory standing in for /dev, with a list
// that names the directory's entries and counts how often it is read.
#include "CachedDeviceList.h"
#include "CameraList.h"
#include "SerialPortList.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

bool touch(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

class DeviceListCacheTest : public ::testing::Test
{
protected:
    QList<QString> readDevices()
    {
        ++reads;
        return QDir(dev.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    }

    QTemporaryDir dev;
    std::atomic<int> reads{0};
    DeviceChangeWatch watch{{dev.path(), dev.path() + "/serial", dev.path() + "/serial/by-id"}};
    // No settling, so that every read below is one the watch asked for.
    CachedDeviceList<QString> list{watch, [this] { return readDevices(); }, DeviceListTiming{0, 3600000}};
};

TEST_F(DeviceListCacheTest, ReadOnceAndAgainOnlyWhenADeviceComesOrGoes)
{
    ASSERT_TRUE(watch.isWatching());
    EXPECT_TRUE(list.entries().isEmpty());
    EXPECT_TRUE(list.entries().isEmpty());
    EXPECT_EQ(reads, 1);

    ASSERT_TRUE(touch(dev.filePath("ttyUSB0")));
    EXPECT_EQ(list.entries(), QList<QString>{"ttyUSB0"});
    EXPECT_EQ(reads, 2);
    // Writing to a node (as every write to /dev/null does) is no change.
    ASSERT_TRUE(touch(dev.filePath("ttyUSB0")));
    list.entries();
    EXPECT_EQ(reads, 2);

    ASSERT_TRUE(QFile::rename(dev.filePath("ttyUSB0"), dev.filePath("ttyUSB1")));
    EXPECT_EQ(list.entries(), QList<QString>{"ttyUSB1"});
    ASSERT_TRUE(QFile::remove(dev.filePath("ttyUSB1")));
    EXPECT_TRUE(list.entries().isEmpty());
    EXPECT_EQ(reads, 4);
}

// udev makes /dev/serial/by-id after the first adapter's node: its links
// are watched from then on, and again after the directory was removed.
TEST_F(DeviceListCacheTest, DirectoriesThatAppearLaterAreWatched)
{
    list.entries();
    ASSERT_TRUE(QDir().mkpath(dev.filePath("serial/by-id")));
    list.entries();
    const int before = reads;
    ASSERT_TRUE(QFile::link(dev.filePath("ttyUSB0"), dev.filePath("serial/by-id/usb-probe")));
    list.entries();
    EXPECT_EQ(reads, before + 1);

    ASSERT_TRUE(QDir(dev.filePath("serial")).removeRecursively());
    list.entries();
    ASSERT_TRUE(QDir().mkpath(dev.filePath("serial/by-id")));
    list.entries();
    const int again = reads;
    ASSERT_TRUE(touch(dev.filePath("serial/by-id/usb-other")));
    list.entries();
    EXPECT_EQ(reads, again + 1);
}

// While udev settles a new device, every call reads the list again.
TEST_F(DeviceListCacheTest, ReadAgainAtEveryCallWhileAChangeSettles)
{
    CachedDeviceList<QString> settling(watch, [this] { return readDevices(); }, DeviceListTiming{3600000, 3600000});
    settling.entries();
    ASSERT_TRUE(touch(dev.filePath("video0")));
    settling.entries();
    settling.entries();
    EXPECT_EQ(reads, 3);
}

// Without inotify (here: no descriptor is left for it) nothing is known to
// be unchanged, so every call reads the list afresh.
TEST_F(DeviceListCacheTest, WithoutAWatchEveryCallReads)
{
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(dup(0));
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> taken{static_cast<int>(low.rlim_cur)};
    for (int fd = dup(0); fd >= 0; fd = dup(0))
        taken.push_back(fd);
    DeviceChangeWatch blind({dev.path()});
    for (int fd : taken)
        close(fd);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);

    EXPECT_FALSE(blind.isWatching());
    CachedDeviceList<QString> unwatched(blind, [this] { return readDevices(); });
    unwatched.entries();
    unwatched.entries();
    EXPECT_EQ(reads, 2);
}

// Hosts and the wizard may list devices from several threads at once
// (run under ThreadSanitizer): the machine's lists and a watched one.
TEST_F(DeviceListCacheTest, ListsAreSafeToReadFromSeveralThreads)
{
    std::atomic<bool> done{false};
    std::vector<std::thread> readers;
    for (int k = 0; k < 3; ++k) {
        readers.emplace_back([&] {
            while (!done) {
                list.entries();
                SerialPortList::available();
                CameraList::available();
            }
        });
    }
    for (int k = 0; k < 20; ++k) {
        ASSERT_TRUE(touch(dev.filePath(QString("tty%1").arg(k))));
        list.entries();
    }
    done = true;
    for (std::thread &reader : readers)
        reader.join();
    EXPECT_EQ(list.entries().size(), 20);
}

} // namespace
