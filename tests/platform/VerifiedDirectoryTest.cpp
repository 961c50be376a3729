// A directory others may write to: every operation against every kind of
// thing another member of the group may leave under the name, and what it
// leads to afterwards.
#include "VerifiedDirectory.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Check = VerifiedDirectory::Check;
using Status = VerifiedDirectory::Status;

enum class Planted { Nothing, SymbolicLink, DanglingLink, HardLink, Fifo, Directory, OwnFile };

const char *nameOf(Planted planted)
{
    switch (planted) {
    case Planted::Nothing: return "nothing";
    case Planted::SymbolicLink: return "a symbolic link";
    case Planted::DanglingLink: return "a dangling link";
    case Planted::HardLink: return "a second name of a file outside";
    case Planted::Fifo: return "a FIFO";
    case Planted::Directory: return "a directory";
    case Planted::OwnFile: return "a regular file with one name";
    }
    return "";
}

struct Row
{
    Planted planted;
    Check openExisting, create, openOrCreate, remove, renameOnto, writeNew;
};

// What each operation says about the name "n".
const Row rows[] = {
    {Planted::Nothing, Check::Missing, Check::Ok, Check::Ok, Check::Missing, Check::Ok, Check::Ok},
    {Planted::SymbolicLink, Check::Link, Check::Link, Check::Link, Check::Link, Check::Link, Check::Link},
    {Planted::DanglingLink, Check::Link, Check::Link, Check::Link, Check::Link, Check::Link, Check::Link},
    {Planted::HardLink, Check::OtherLinks, Check::Taken, Check::OtherLinks, Check::OtherLinks, Check::Taken, Check::Taken},
    {Planted::Fifo, Check::NotRegular, Check::Taken, Check::NotRegular, Check::NotRegular, Check::Taken, Check::Taken},
    {Planted::Directory, Check::NotRegular, Check::Taken, Check::NotRegular, Check::NotRegular, Check::Taken, Check::Taken},
    {Planted::OwnFile, Check::Ok, Check::Taken, Check::Ok, Check::Ok, Check::Taken, Check::Taken},
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

class Planting
{
public:
    explicit Planting(Planted planted)
    {
        QDir().mkpath(dir());
        QFile target(outside());
        target.open(QIODevice::WriteOnly);
        target.write("outside\n");
        target.close();
        const QByteArray name = QFile::encodeName(dir() + "/n");
        switch (planted) {
        case Planted::Nothing: break;
        case Planted::SymbolicLink: ::symlink(QFile::encodeName(outside()), name); break;
        case Planted::DanglingLink: ::symlink(QFile::encodeName(m_root.path() + "/made"), name); break;
        case Planted::HardLink: ::link(QFile::encodeName(outside()), name); break;
        case Planted::Fifo: ::mkfifo(name, 0600); break;
        case Planted::Directory: QDir().mkdir(dir() + "/n"); break;
        case Planted::OwnFile: {
            QFile own(dir() + "/n");
            own.open(QIODevice::WriteOnly);
            own.write("own\n");
            break;
        }
        }
        QFile mine(dir() + "/mine");
        mine.open(QIODevice::WriteOnly);
        mine.write("mine\n");
        m_before = readAll(outside());
    }

    QString dir() const { return m_root.path() + "/shared"; }
    QString outside() const { return m_root.path() + "/outside"; }
    // Nothing a planted link leads to was written or made.
    bool outsideUntouched() const
    {
        return readAll(outside()) == m_before && !QFileInfo::exists(m_root.path() + "/made");
    }

private:
    QTemporaryDir m_root;
    QByteArray m_before;
};

TEST(VerifiedDirectoryTest, EveryOperationAgainstEveryPlantedThing)
{
    using Operation = std::function<Check(const VerifiedDirectory &)>;
    const std::pair<const char *, std::function<Check(const Row &)>> expected[] = {
        {"openExisting", [](const Row &row) { return row.openExisting; }},
        {"create", [](const Row &row) { return row.create; }},
        {"openOrCreate", [](const Row &row) { return row.openOrCreate; }},
        {"remove", [](const Row &row) { return row.remove; }},
        {"rename onto", [](const Row &row) { return row.renameOnto; }},
        {"writeNew", [](const Row &row) { return row.writeNew; }},
    };
    const Operation operations[] = {
        [](const VerifiedDirectory &dir) {
            Status status;
            // For reading: a FIFO opened so would wait for a writer for ever.
            dir.openExisting("n", VerifiedDirectory::Access::Read, &status);
            return status.check;
        },
        [](const VerifiedDirectory &dir) {
            Status status;
            const FileHandle made = dir.create("n", &status);
            EXPECT_EQ(made.isOpen(), status.ok());
            if (made)
                made.writeAll("written\n");
            return status.check;
        },
        [](const VerifiedDirectory &dir) {
            Status status;
            const FileHandle opened = dir.openOrCreate("n", &status);
            if (opened)
                opened.writeAll("written\n");
            return status.check;
        },
        [](const VerifiedDirectory &dir) { return dir.remove("n", FileId()).check; },
        [](const VerifiedDirectory &dir) { return dir.rename("mine", FileId(), dir, "n").check; },
        [](const VerifiedDirectory &dir) { return dir.writeNew("n", "n.tmp", "written\n").check; },
    };
    for (const Row &row : rows) {
        for (size_t op = 0; op < std::size(operations); ++op) {
            SCOPED_TRACE(std::string(expected[op].first) + " on " + nameOf(row.planted));
            Planting planting(row.planted);
            Status status;
            const std::shared_ptr<VerifiedDirectory> dir = VerifiedDirectory::open(planting.dir(), false, &status);
            ASSERT_TRUE(dir);
            EXPECT_EQ(operations[op](*dir), expected[op].second(row));
            EXPECT_TRUE(planting.outsideUntouched());
            EXPECT_FALSE(QFileInfo::exists(planting.dir() + "/n.tmp"));
        }
    }
}

// The directory and its folders are checked too; a file is renamed and
// removed only while its name holds the file the caller knows.
TEST(VerifiedDirectoryTest, DirectoriesAndIdentities)
{
    QTemporaryDir root;
    const QString shared = root.path() + "/shared";
    QDir().mkpath(root.path() + "/elsewhere");
    ASSERT_TRUE(QFile::link(root.path() + "/elsewhere", shared));
    Status status;
    EXPECT_FALSE(VerifiedDirectory::open(shared, true, &status));
    EXPECT_EQ(status.check, Check::Link);
    EXPECT_EQ(status.text(), "is a symbolic link");
    ASSERT_TRUE(QFile::remove(shared));
    const std::shared_ptr<VerifiedDirectory> dir = VerifiedDirectory::open(shared, true, &status);
    ASSERT_TRUE(dir) << status.text().toStdString();
    ASSERT_TRUE(QFile::link(root.path() + "/elsewhere", shared + "/folder"));
    EXPECT_FALSE(dir->subdirectory("folder", true, &status));
    EXPECT_EQ(status.check, Check::Link);
    const std::shared_ptr<VerifiedDirectory> made = dir->subdirectory("made", true, &status);
    ASSERT_TRUE(made);
    EXPECT_EQ(made->path(), shared + "/made");

    FileHandle file = dir->create("a", &status);
    ASSERT_TRUE(file);
    const FileId id = file.id();
    EXPECT_EQ(dir->link(file, "b").check, Check::Ok);
    EXPECT_EQ(dir->link(file, "b").check, Check::Taken);
    EXPECT_EQ(dir->openExisting("a", VerifiedDirectory::Access::Read, &status).isOpen(), false);
    EXPECT_EQ(status.check, Check::OtherLinks); // two names, and the caller did not say it knows the file
    EXPECT_TRUE(dir->openExisting("a", VerifiedDirectory::Access::Read, &status, &id).isOpen());
    EXPECT_EQ(dir->remove("b", id).check, Check::Ok);
    ASSERT_TRUE(QFile::rename(shared + "/a", shared + "/c"));
    QFile other(shared + "/a");
    ASSERT_TRUE(other.open(QIODevice::WriteOnly)); // another file under the name
    other.close();
    EXPECT_EQ(dir->rename("a", id, *made, "a").check, Check::NotTheSame);
    EXPECT_EQ(dir->remove("a", id).check, Check::NotTheSame);
    EXPECT_EQ(dir->rename("c", id, *made, "a").check, Check::Ok);
    EXPECT_TRUE(QFileInfo::exists(shared + "/made/a") && QFileInfo::exists(shared + "/a"));
    EXPECT_GT(dir->freeBytes(), 0);
    EXPECT_FALSE(dir->isRemoved());
    ASSERT_TRUE(QDir(shared).removeRecursively());
    EXPECT_TRUE(dir->isRemoved());
}

} // namespace
