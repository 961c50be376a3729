#pragma once

#include <QtGlobal>

#include <opencv2/core.hpp>

// Tells the detection loop when a frame is worth the face cascades: a
// small, blurred grey copy of each frame is compared, cell by cell, with
// the one of the last full cycle that found no face. A scene that has not
// changed beyond camera noise and a slow change of light needs no full
// cycle; one that has, a cycle after a face was found, the first frame,
// a frame of another size and a frame after the longest skip do.
class MotionGate
{
public:
    // Each side of a frame is reduced by this much...
    static constexpr int reduction = 8;
    // ...and compared in cells of this many reduced pixels a side: 40 x 40
    // pixels of the frame, so a face of the least size the cascades find
    // (80 x 80) covers at least one cell whole.
    static constexpr int cellSide = 5;
    // The least change of a cell's mean grey level, after the change of the
    // whole picture is taken out, that counts as a change of the scene.
    static constexpr double changeThreshold = 6.0;

    // The frame's reduced, blurred grey copy.
    static cv::Mat thumbnail(const cv::Mat &frame);
    // The largest mean change of any cell between two thumbnails of one
    // size, in grey levels, less the mean change of the whole picture.
    static double largestChange(const cv::Mat &thumbnail, const cv::Mat &reference);

    // Whether the frame needs a full cycle; remembers its thumbnail for
    // fullCycleDone().
    bool needsFullCycle(const cv::Mat &frame, qint64 nowMs, qint64 longestSkipMs);
    // After the full cycle on the frame last given to needsFullCycle().
    void fullCycleDone(bool faceFound, qint64 nowMs);
    // Forgets the reference: the next frame gets a full cycle.
    void reset();

private:
    cv::Mat m_current;
    cv::Mat m_reference;
    bool m_faceLastTime = false;
    qint64 m_lastFullCycleMs = 0;
};
