// The data directory's names and its owner: one lock per process, shared
// by the stores in it.
#include "DataDirectory.h"
#include "ProbeRecordStore.h"
#include "TestInstall.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

using Kind = DataDirectory::Kind;

TEST(DataDirectoryTest, EveryStoreNameParsesBackAndNoOtherNameDoes)
{
    for (const Kind kind : {Kind::Journal, Kind::Batch, Kind::BatchTemp, Kind::Csv, Kind::Archive}) {
        for (const qint64 number : {0LL, 7LL, 1796787639365LL, 999999999999999999LL}) {
            const auto parsed = DataDirectory::parse(DataDirectory::fileName(kind, number));
            ASSERT_TRUE(parsed) << DataDirectory::fileName(kind, number).toStdString();
            EXPECT_EQ(parsed->kind, kind);
            EXPECT_EQ(parsed->number, number);
        }
    }
    EXPECT_EQ(DataDirectory::fileName(Kind::BatchTemp, 12), "12.batch.tmp");
    for (const char *name : {".batch", "12", "12.", "-1.batch", "+1.batch", "1e3.batch", "12.BATCH", "007.batch",
                             "1234567890123456789.batch", "12.batch.tmp.x", "12.journal~", "x12.csv", "12 .gz",
                             ".probe.lock", "refused", "haarcascades"})
        EXPECT_FALSE(DataDirectory::parse(name)) << name;
    EXPECT_EQ(DataDirectory::numberAfter(-1, -86400000), 0); // a clock set before 1970
    EXPECT_EQ(DataDirectory::numberAfter(0, -86400000), 1);
    EXPECT_EQ(DataDirectory::numberAfter(7, 1000), 1000);
    EXPECT_EQ(DataDirectory::numberAfter(5000, 1000), 5001); // a clock set back
}

// Whether another open file description of the lock file gets the lock.
bool lockIsFree(const QString &dataDir)
{
    const int fd = ::open(QFile::encodeName(dataDir + "/.probe.lock").constData(), O_RDWR | O_CLOEXEC);
    const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0)
        ::close(fd);
    return free;
}

// Taken by whichever store of the process asks first (here another store,
// before the probe store), let go when the last one lets go; each store
// claims its own files once.
TEST(DataDirectoryTest, OneLockPerProcessSharedByItsStores)
{
    QTemporaryDir dir;
    const QString data = dir.path() + "/data";
    std::shared_ptr<DataDirectory> first = DataDirectory::open(data + "/");
    ASSERT_TRUE(first->isOwned()) << first->ownerProblem().toStdString();
    EXPECT_EQ(DataDirectory::open(dir.path() + "/./data"), first);
    EXPECT_FALSE(lockIsFree(data));
    EXPECT_EQ(readFile(data + "/.probe.lock"), QByteArray::number(QCoreApplication::applicationPid()) + "\n");
    {
        ProbeRecordStore store(data);
        EXPECT_TRUE(store.ownsDataDir());
        ProbeRecordStore second(data);
        EXPECT_FALSE(second.ownsDataDir());
        EXPECT_TRUE(second.ownerProblem().contains(" is in use by process ")) << second.ownerProblem().toStdString();
    }
    QString problem;
    EXPECT_TRUE(first->claim(DataDirectory::Store::Probe, &problem)); // given back by the store
    first->release(DataDirectory::Store::Probe);
    first.reset();
    EXPECT_TRUE(lockIsFree(data));

    // A lock file that is a link is left alone; nothing of the directory is used.
    ASSERT_TRUE(QFile::remove(data + "/.probe.lock"));
    ASSERT_TRUE(QFile::link(dir.path() + "/elsewhere", data + "/.probe.lock"));
    const std::shared_ptr<DataDirectory> refused = DataDirectory::open(data);
    EXPECT_FALSE(refused->isOwned());
    EXPECT_FALSE(refused->files());
    EXPECT_TRUE(refused->ownerProblem().endsWith("/data/.probe.lock is a symbolic link, left alone: an operator should remove it"))
        << refused->ownerProblem().toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/elsewhere"));
    EXPECT_FALSE(refused->claim(DataDirectory::Store::Probe, &problem));
    EXPECT_EQ(problem, refused->ownerProblem());
}

} // namespace
