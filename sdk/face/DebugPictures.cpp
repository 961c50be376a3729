#include "DebugPictures.h"

#include "VerifiedDirectory.h"

#include <QDir>

#include <algorithm>
#include <cstring>

namespace {

using Check = VerifiedDirectory::Check;

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

QList<Picture> picturesOf(const VerifiedDirectory &dir)
{
    QList<Picture> pictures;
    for (const VerifiedDirectory::Entry &entry : dir.entries()) {
        const qint64 ms = pictureMs(entry.name);
        if (ms >= 0 && entry.type == VerifiedDirectory::Entry::Type::File && entry.links == 1)
            pictures.append({ms, entry.name, entry.size});
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
    VerifiedDirectory::Status status;
    const std::shared_ptr<VerifiedDirectory> dir = VerifiedDirectory::open(debugDir, createDir, &status);
    if (!dir) {
        if (createDir || status.check != Check::Missing)
            saved.problems.append(QStringLiteral("%1 not used: it %2").arg(QDir::cleanPath(debugDir), status.text()));
        return saved;
    }
    for (int i = 0; i < nameTries; ++i) {
        const QString name = fileName(naming, ms + i);
        const FileHandle file = dir->create(name, &status);
        if (!file && status.isForeign()) {
            VerifiedDirectory::Entry entry;
            // A picture of another process in the same millisecond is passed silently.
            const VerifiedDirectory::Status there = dir->lookOwn(name, &entry);
            if (!there.ok())
                saved.problems.append(QStringLiteral("%1 left alone: it %2").arg(dir->pathOf(name), there.text()));
            continue;
        }
        if (!file) {
            saved.problems.append(QStringLiteral("%1 not written: it %2").arg(dir->pathOf(name), status.text()));
            break;
        }
        const int error = file.writeAll(png);
        if (error != 0) {
            dir->remove(name, file.id());
            saved.problems.append(QStringLiteral("%1 not written: %2").arg(dir->pathOf(name), QString::fromLocal8Bit(std::strerror(error))));
            break;
        }
        saved.filePath = dir->pathOf(name);
        break;
    }
    keepWithin(*dir, limits);
    return saved;
}

void DebugPictures::keepWithin(const VerifiedDirectory &dir, const Limits &limits)
{
    const QList<Picture> pictures = picturesOf(dir);
    qint64 bytes = 0;
    for (const Picture &picture : pictures)
        bytes += picture.bytes;
    int count = pictures.size();
    for (int i = 0; i + 1 < pictures.size() && (count > limits.keepFiles || bytes > limits.keepBytes); ++i) {
        if (dir.remove(pictures[i].name, FileId()).ok()) {
            --count;
            bytes -= pictures[i].bytes;
        }
    }
}
