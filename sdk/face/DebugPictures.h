#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class VerifiedDirectory;

// The pictures of frames without a face in debug/: the library's
// "<ms>_noface.png" and the wizard's "<ms>.no_face.png". debug/ is the
// group's, so a picture is only ever written as a new file through the
// verified directory: a name taken by a link or a foreign file is left
// alone (and said), and the next millisecond's name is taken instead. The
// directory is kept to a bound, oldest first, and only pictures of ours are
// deleted: a regular file with one link and one of the two names.
class DebugPictures
{
public:
    enum class Naming { Library, Wizard };

    struct Limits
    {
        int keepFiles = 1000;
        qint64 keepBytes = 200LL * 1024 * 1024;
    };

    struct Saved
    {
        QString filePath; // empty when nothing was written
        QStringList problems; // what was left alone or failed, with why
    };

    // Writes the picture under the name of ms, or of one of the next
    // milliseconds when that is taken, into debugDir (made first with
    // createDir; without it a missing directory writes nothing, silently);
    // then keeps the directory within the limits, the newest kept always.
    static Saved save(const QString &debugDir, bool createDir, Naming naming, qint64 ms, const QByteArray &png,
                      const Limits &limits);
    static void keepWithin(const VerifiedDirectory &dir, const Limits &limits);
    static QString fileName(Naming naming, qint64 ms);
    // The limits of the configuration's DebugKeepFiles and DebugKeepMB, each at least 1.
    static Limits limits(int keepFiles, int keepMB);
};
