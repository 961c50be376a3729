#include "FaceWorkerCounts.h"

#include <QStringList>

void FaceWorkerCounts::add(const FaceWorkerCounts &other)
{
    cyclesRun += other.cyclesRun;
    cyclesSkipped += other.cyclesSkipped;
    facesSeen += other.facesSeen;
    visits += other.visits;
    searches += other.searches;
    notSearched += other.notSearched;
    reports += other.reports;
    for (const auto &error : other.cloudErrors)
        cloudErrors[error.first] += error.second;
}

QString FaceWorkerCounts::summary(qint64 seconds) const
{
    QStringList errors;
    for (const auto &error : cloudErrors)
        errors << QStringLiteral("%1 x%2").arg(error.first).arg(error.second);
    return QStringLiteral("Face worker in the last %1 s: %2 cycles run, %3 skipped (scene unchanged), %4 faces seen, "
                          "%5 visits, %6 searches, %7 faces not searched (cloud quota pause), %8 member reports, "
                          "cloud errors: %9")
        .arg(seconds)
        .arg(cyclesRun)
        .arg(cyclesSkipped)
        .arg(facesSeen)
        .arg(visits)
        .arg(searches)
        .arg(notSearched)
        .arg(reports)
        .arg(errors.isEmpty() ? QStringLiteral("none") : errors.join(QStringLiteral(", ")));
}
