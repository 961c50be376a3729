#include "DebugPictures.h"

#include "DurableFile.h"
#include "VerifiedDir.h"


#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// How many of the following milliseconds a picture may move to when its
// name is taken.
const int nameTries = 16;

struct Picture
{
    qint64 ms;
    QString name;
    qint64 bytes;
};

// The millisecond of a picture's name, or -1 for any other name. Read by
// hand: a loop that ends while the process exits still prunes, after Qt's
// regular expressions have gone.
qint64 pictureMs(const QString &name)
{
    int digits = 0;
    while (digits < name.size() && digits < 18 && name[digits].isDigit())
        ++digits;
    const QStringRef rest = name.midRef(digits);
    if (digits == 0 || (rest != QLatin1String("_noface.png") && rest != QLatin1String(".no_face.png")))
        return -1;
    return name.leftRef(digits).toLongLong();
}

QList<Picture> picturesOf(const VerifiedDir &dir)
{
    QList<Picture> pictures;
    for (const QString &name : dir.entryNames()) {
        const qint64 ms = pictureMs(name);
        struct stat status;
        if (ms >= 0 && dir.isOwn(name, &status))
            pictures.append({ms, name, qint64(status.st_size)});
    }
    std::sort(pictures.begin(), pictures.end(),
              [](const Picture &a, const Picture &b) { return a.ms != b.ms ? a.ms < b.ms : a.name < b.name; });
    return pictures;
}

} // namespace

QString DebugPictures::fileName(Naming naming, qint64 ms)
{
    return QString::number(ms) + (naming == Naming::Library ? QStringLiteral("_noface.png") : QStringLiteral(".no_face.png"));
}

DebugPictures::Limits DebugPictures::limits(int keepFiles, int keepMB)
{
    Limits limits;
    limits.keepFiles = std::max(keepFiles, 1);
    limits.keepBytes = qint64(std::max(keepMB, 1)) * 1024 * 1024;
    return limits;
}

DebugPictures::Saved DebugPictures::save(const QString &debugDir, bool createDir, Naming naming, qint64 ms,
                                         const QByteArray &png, const Limits &limits)
{
    Saved saved;
    const VerifiedDir dir = VerifiedDir::open(debugDir, createDir);
    if (!dir.isOpen()) {
        if (createDir || dir.problem() != VerifiedDir::openErrorText(ENOENT))
            saved.problems.append(QStringLiteral("%1 not used: it %2").arg(dir.path(), dir.problem()));
        return saved;
    }
    for (int i = 0; i < nameTries; ++i) {
        const QString name = fileName(naming, ms + i);
        QString why;
        const int fd = dir.create(name, &why);
        if (fd < 0 && errno == EEXIST) {
            if (why != QLatin1String("exists"))
                saved.problems.append(QStringLiteral("%1 left alone: it %2").arg(dir.filePath(name), why));
            continue;
        }
        if (fd < 0) {
            saved.problems.append(QStringLiteral("%1 not written: it %2").arg(dir.filePath(name), why));
            break;
        }
        const int error = DurableFile::writeAll(fd, png);
        ::close(fd);
        if (error != 0) {
            dir.removeOwn(name);
            saved.problems.append(QStringLiteral("%1 not written: %2").arg(dir.filePath(name), QString::fromLocal8Bit(std::strerror(error))));
            break;
        }
        saved.filePath = dir.filePath(name);
        break;
    }
    keepWithin(dir, limits);
    return saved;
}

void DebugPictures::keepWithin(const VerifiedDir &dir, const Limits &limits)
{
    const QList<Picture> pictures = picturesOf(dir);
    qint64 bytes = 0;
    for (const Picture &picture : pictures)
        bytes += picture.bytes;
    int count = pictures.size();
    for (int i = 0; i + 1 < pictures.size() && (count > limits.keepFiles || bytes > limits.keepBytes); ++i) {
        if (dir.removeOwn(pictures[i].name)) {
            --count;
            bytes -= pictures[i].bytes;
        }
    }
}
