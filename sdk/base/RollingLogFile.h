#pragma once

#include "VerifiedDirectory.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// One log file in a directory others may write in (log/), written only
// through a descriptor of ours and rolled so that it stays bounded. A name
// that is not ours (a link, another kind of file, a file with more than one
// link) is never written, renamed or removed: it is reported, and the roll
// passes it by.
//
// By size: File becomes File.1, File.1 becomes File.2 and so on; the
// oldest beyond maxBackups goes (with none, File starts again empty). A
// numbered name held by something else is skipped in the chain.
// By period: when the period text of now differs from the file's, File
// becomes File + the file's period text; the maxBackups newest of those stay.
class RollingLogFile
{
public:
    struct Policy
    {
        qint64 maxFileSize = 10 * 1024 * 1024;
        int maxBackups = 1;
        // Rolling by period when set: the period text of a time (microseconds
        // since the epoch), and a regular expression for every such text.
        std::function<QString(qint64)> periodOf;
        QString periodRegex;
        // False: an existing file starts empty when it is first opened.
        bool append = true;
    };

    // A file that failed to open is tried again after this long.
    static constexpr qint64 retryUs = 10 * 1000 * 1000;

    // The file lies in or below trustedDir, which is made when missing; with
    // an empty trustedDir, in its own directory.
    RollingLogFile(const QString &trustedDir, const QString &filePath, const Policy &policy);
    ~RollingLogFile();
    RollingLogFile(const RollingLogFile &) = delete;
    RollingLogFile &operator=(const RollingLogFile &) = delete;

    // Opens the file unless it is open or was tried less than retryUs ago.
    bool open(qint64 nowUs);
    // Appends the bytes, rolling first when they would pass the size or a
    // new period began. False when they were not written.
    bool write(const QByteArray &bytes, qint64 nowUs);
    void close();

    QString filePath() const { return m_filePath; }
    // What went wrong since the last call, each problem once until the file
    // opens again.
    QStringList takeProblems();

private:
    std::shared_ptr<VerifiedDirectory> openDirectory();
    FileHandle openOrCreate(VerifiedDirectory::Status *status) const;
    void rollBySize();
    void rollByPeriod();
    QList<int> backupPlaces();
    void shiftBackups(const QList<int> &places);
    void keepNewestPeriods();
    bool nameIsStillOurs() const;
    bool takeIfOurs(const QString &name);
    bool moveOwn(const QString &from, const QString &to) const;
    void report(const QString &text);
    QString backupName(int index) const;

    const QString m_trustedDir;
    const QString m_filePath;
    const Policy m_policy;
    QString m_fileDir;
    QString m_name;
    bool m_belowTrustedDir = false;
    std::shared_ptr<VerifiedDirectory> m_dir;
    FileHandle m_file;
    qint64 m_size = 0;
    QString m_period;
    bool m_opened = false;
    qint64 m_nextAttemptUs = 0;
    QStringList m_problems;
    QSet<QString> m_reported;
};
