#include "VisitTracker.h"

VisitTracker::Step VisitTracker::passingFace(const cv::Rect &face, qint64 nowMs, const Rules &rules)
{
    const bool followed = rules.oncePerVisit && m_identified && isFollowed(face, nowMs, rules);
    m_present = true;
    m_face = face;
    m_lastSeenMs = nowMs;
    if (followed)
        return Step::Nothing;
    m_identified = false;
    return Step::Identify;
}

// A followed visitor turning away or blurred by a step is still there.
VisitTracker::Step VisitTracker::failingFace(const cv::Rect &face, qint64 nowMs, const Rules &rules)
{
    if (rules.oncePerVisit && m_present && isFollowed(face, nowMs, rules)) {
        m_face = face;
        m_lastSeenMs = nowMs;
        return Step::Nothing;
    }
    return noFace(nowMs, rules);
}

VisitTracker::Step VisitTracker::noFace(qint64 nowMs, const Rules &rules)
{
    if (!m_present)
        return Step::Nothing;
    if (rules.oncePerVisit && nowMs - m_lastSeenMs < rules.visitGapMs)
        return Step::Nothing;
    return leave();
}

void VisitTracker::reset()
{
    m_present = false;
    m_identified = false;
    m_face = cv::Rect();
    m_lastSeenMs = 0;
}

bool VisitTracker::isFollowed(const cv::Rect &face, qint64 nowMs, const Rules &rules) const
{
    return (face & m_face).area() > 0 && nowMs - m_lastSeenMs <= rules.visitGapMs;
}

VisitTracker::Step VisitTracker::leave()
{
    reset();
    return Step::TellGone;
}
