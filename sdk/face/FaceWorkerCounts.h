#pragma once

#include <QString>
#include <QtGlobal>

#include <map>

// What the face worker did in a period, for the installer to see what the
// camera costs: cycles run and skipped, faces, visits, calls to the cloud
// service and the store's member service, and the service's error answers.
struct FaceWorkerCounts
{
    int cyclesRun = 0;     // the face cascades ran
    int cyclesSkipped = 0; // the scene had not changed
    int facesSeen = 0;     // cycles that found a face
    int visits = 0;        // a face came into view
    int searches = 0;      // searches sent to the cloud service
    int notSearched = 0;   // passing faces not searched while its quota is used up
    int reports = 0;       // visitors reported to the member service
    std::map<int, int> cloudErrors; // the service's error codes, each with its count

    void add(const FaceWorkerCounts &other);
    // One line over the given number of seconds.
    QString summary(qint64 seconds) const;
};
