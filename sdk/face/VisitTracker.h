#pragma once

#include <QtGlobal>

#include <opencv2/core.hpp>

// The detection loop's view of the face in front of the camera, from cycle
// to cycle: whether a passing face is to be identified, and when the host
// is to hear that the face has left.
//
// Without "once per visit", every passing face is identified and the first
// cycle without one ends the sighting. With it, an identified face is
// followed: a face whose rectangle overlaps the followed one and that is
// seen again within the visit gap is the same visitor and is not
// identified again; the visit ends once no such face has been seen for the
// gap. A face whose identification failed is identified again at its next
// sighting; one that does not overlap the followed face is a new visit.
class VisitTracker
{
public:
    struct Rules
    {
        bool oncePerVisit = false;
        qint64 visitGapMs = 10000;
    };
    enum class Step { Nothing, Identify, TellGone };

    // A face that passed the feature score and the quality gates.
    Step passingFace(const cv::Rect &face, qint64 nowMs, const Rules &rules);
    // A face found that did not pass.
    Step failingFace(const cv::Rect &face, qint64 nowMs, const Rules &rules);
    // A cycle that found no face, or whose cascades were skipped.
    Step noFace(qint64 nowMs, const Rules &rules);
    // The face last asked to be identified reached the host.
    void identified() { m_identified = true; }
    // A new run of the loop: a face seen before is not told gone.
    void reset();

    // A face is in view that the host has not yet been told has left.
    bool isPresent() const { return m_present; }

private:
    bool isFollowed(const cv::Rect &face, qint64 nowMs, const Rules &rules) const;
    Step leave();

    bool m_present = false;
    bool m_identified = false;
    cv::Rect m_face;
    qint64 m_lastSeenMs = 0;
};
