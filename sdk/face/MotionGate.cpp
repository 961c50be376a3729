#include "MotionGate.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>

cv::Mat MotionGate::thumbnail(const cv::Mat &frame)
{
    if (frame.empty())
        return cv::Mat();
    const cv::Size reduced(std::max(1, frame.cols / reduction), std::max(1, frame.rows / reduction));
    cv::Mat small;
    cv::resize(frame, small, reduced, 0, 0, cv::INTER_AREA);
    cv::Mat grey;
    if (small.channels() == 3)
        cv::cvtColor(small, grey, cv::COLOR_BGR2GRAY);
    else if (small.channels() == 4)
        cv::cvtColor(small, grey, cv::COLOR_BGRA2GRAY);
    else
        grey = small;
    cv::Mat blurred;
    cv::GaussianBlur(grey, blurred, cv::Size(3, 3), 0);
    return blurred;
}

double MotionGate::largestChange(const cv::Mat &thumbnail, const cv::Mat &reference)
{
    cv::Mat now;
    cv::Mat before;
    thumbnail.convertTo(now, CV_32F);
    reference.convertTo(before, CV_32F);
    cv::Mat change = now - before;
    // The light of the whole scene rising or falling moves every cell alike.
    change -= cv::mean(change)[0];
    change = cv::abs(change);
    const cv::Size cells(std::max(1, change.cols / cellSide), std::max(1, change.rows / cellSide));
    cv::Mat cellMeans;
    cv::resize(change, cellMeans, cells, 0, 0, cv::INTER_AREA);
    double largest = 0;
    cv::minMaxLoc(cellMeans, nullptr, &largest);
    return largest;
}

bool MotionGate::needsFullCycle(const cv::Mat &frame, qint64 nowMs, qint64 longestSkipMs)
{
    m_current = thumbnail(frame);
    if (m_reference.empty() || m_faceLastTime || nowMs - m_lastFullCycleMs >= longestSkipMs)
        return true;
    if (m_current.size() != m_reference.size() || m_current.type() != m_reference.type())
        return true;
    return largestChange(m_current, m_reference) >= changeThreshold;
}

void MotionGate::fullCycleDone(bool faceFound, qint64 nowMs)
{
    m_lastFullCycleMs = nowMs;
    m_faceLastTime = faceFound;
    if (!faceFound)
        m_reference = m_current;
}

void MotionGate::reset()
{
    m_current.release();
    m_reference.release();
    m_faceLastTime = false;
    m_lastFullCycleMs = 0;
}
