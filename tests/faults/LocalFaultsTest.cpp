// The till's own files failing under the running library, through the
// plain C host: the configuration file deleted, garbled, replaced and made
// unreadable, and data/ unwritable or full while probe records wait. The
// host keeps running and every probe line reaches the server once, in
// order, when the files are back.
#include "ProbeHostTest.h"

#include <QDir>
#include <QFile>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace {

const char unwritten[] = "when report probe data";

using LocalFaultsTest = ProbeHostTest;

struct ConfigFault
{
    const char *name;
    std::function<void()> spoil;
    std::function<void()> mend;
};

TEST_F(LocalFaultsTest, ConfigurationFileDeletedGarbledReplacedAndUnreadable)
{
    auto host = startedHost();
    const auto write = [&] { install.writeConfig(configText()); };
    const auto remove = [&] { install.removeConfig(); };
    const ConfigFault faults[] = {
        {"deleted", remove, write},
        {"garbled, then replaced by rename", [&] { install.writeConfig(QString::fromLatin1("\xff\x01[[Server\n=\n[", 12)); },
         [&] { install.replaceConfig(configText()); }},
        // A directory stands where the file should be: unreadable even for root.
        {"unreadable", [&] { remove(); QDir().mkdir(install.configFile()); },
         [&] { QDir().rmdir(install.configFile()); write(); }},
    };
    for (const ConfigFault &fault : faults) {
        SCOPED_TRACE(fault.name);
        fault.spoil();
        writeLine(*host);
        host->run("loop 2500");
        fault.mend();
        writeLine(*host);
        ASSERT_TRUE(allLinesArrive(*host));
    }
    // Edits are still followed after all that.
    store.answer("/moved", R"({"state":0})");
    install.writeConfig(configText("/moved"));
    writeLine(*host);
    EXPECT_TRUE(host->loopUntil([&] { return !store.requestsTo("/moved").empty(); }, 10000)) << log().toStdString();
    endHost(*host);
}

TEST_F(LocalFaultsTest, DataDirectoryUnwritableWhileRecordsWait)
{
    auto host = startedHostPastItsFirstBatch();
    // A regular file stands where the directory should be.
    ASSERT_TRUE(QDir(dataDir()).removeRecursively());
    ASSERT_TRUE(QFile(dataDir()).open(QIODevice::WriteOnly));
    ASSERT_TRUE(writeThroughFailedUploads(*host, unwritten));
    ASSERT_TRUE(QFile::remove(dataDir()));
    ASSERT_TRUE(QDir().mkdir(dataDir()));
    writeLine(*host);
    EXPECT_TRUE(allLinesArrive(*host));
    endHost(*host);
}

// A small file system mounted over data/ for the test's life.
class SmallDataVolume
{
public:
    explicit SmallDataVolume(const QString &path) : m_path(QFile::encodeName(path))
    {
        if (::mount("tmpfs", m_path.constData(), "tmpfs", 0, "size=64k") == 0)
            m_mounted = true;
        else
            m_error = std::strerror(errno);
    }
    ~SmallDataVolume()
    {
        if (m_mounted)
            ::umount2(m_path.constData(), MNT_DETACH);
    }
    bool isMounted() const { return m_mounted; }
    std::string error() const { return m_error; }

    // Fills the volume but for some pages (4 KiB each on tmpfs).
    void fillAllBut(int pages) const
    {
        QFile page(m_path + "/page.fill");
        page.open(QIODevice::WriteOnly);
        page.write(QByteArray(4096 * pages, 'p'));
        page.close();
        QFile rest(m_path + "/rest.fill");
        rest.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        const QByteArray block(4096, 'r');
        while (rest.write(block) == block.size()) {
        }
        rest.close();
        QFile::remove(m_path + "/page.fill");
    }
    void empty() const
    {
        for (const QString &name : QDir(m_path).entryList({"*.fill"}))
            QFile::remove(m_path + "/" + name);
    }

private:
    QByteArray m_path;
    bool m_mounted = false;
    std::string m_error;
};

// With one page left, a batch file fits but not its archive; then nothing
// fits. The records wait on disk and in memory until space is freed.
TEST_F(LocalFaultsTest, DataDirectoryFullWhileRecordsWait)
{
    SmallDataVolume volume(dataDir());
    if (!volume.isMounted())
        GTEST_SKIP() << "cannot mount a small tmpfs over data/ here: " << volume.error();
    auto host = startedHostPastItsFirstBatch();
    volume.fillAllBut(1);
    ASSERT_TRUE(writeThroughFailedUploads(*host, unwritten));
    volume.empty();
    writeLine(*host);
    EXPECT_TRUE(allLinesArrive(*host));
    endHost(*host);
}

// The disk fills up in the middle of a burst of records (about 17 KB of it
// fit): the journal keeps only whole ones, the rest go out from memory to
// the healthy server, and nothing arrives twice or cut.
TEST_F(LocalFaultsTest, DataDirectoryFillsUpInTheMiddleOfARecordBurst)
{
    SmallDataVolume volume(dataDir());
    if (!volume.isMounted())
        GTEST_SKIP() << "cannot mount a small tmpfs over data/ here: " << volume.error();
    auto host = startedHostPastItsFirstBatch();
    volume.fillAllBut(5); // more than the library leaves free for others
    QByteArray burst;
    for (int i = 0; i < 400; ++i) {
        written.push_back("line-" + std::to_string(written.size() + 1) + std::string(60, 'x'));
        burst += QByteArray::fromStdString(written.back() + "\r\n");
    }
    ASSERT_TRUE(device.write(burst));
    EXPECT_TRUE(allLinesArrive(*host));
    for (const QString &name : QDir(dataDir()).entryList({"*.batch", "*.journal"}, QDir::Files)) {
        QFile file(dataDir() + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll().endsWith("\r\n")) << name.toStdString();
    }
    volume.empty();
    writeLine(*host);
    EXPECT_TRUE(allLinesArrive(*host));
    endHost(*host);
}

} // namespace
