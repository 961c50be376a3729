// The detection loop's rules for the face in view, as one table of
// sightings: what each cycle asks of the loop with and without "once per
// visit".
#include "VisitTracker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Step = VisitTracker::Step;

enum class Seen { Passing, Failing, Nothing };

struct Sighting
{
    qint64 atMs;
    Seen seen;
    cv::Rect face;
    bool identified; // the identification asked for reached the host
};

const cv::Rect door(100, 100, 120, 120);
const cv::Rect doorMoved(140, 120, 120, 120);
const cv::Rect till(800, 300, 120, 120);

std::string steps(const std::vector<Sighting> &sightings, bool oncePerVisit)
{
    VisitTracker tracker;
    const VisitTracker::Rules rules{oncePerVisit, 3000};
    std::string result;
    for (const Sighting &sighting : sightings) {
        Step step = Step::Nothing;
        if (sighting.seen == Seen::Passing)
            step = tracker.passingFace(sighting.face, sighting.atMs, rules);
        else if (sighting.seen == Seen::Failing)
            step = tracker.failingFace(sighting.face, sighting.atMs, rules);
        else
            step = tracker.noFace(sighting.atMs, rules);
        if (step == Step::Identify && sighting.identified)
            tracker.identified();
        result += step == Step::Identify ? 'I' : step == Step::TellGone ? 'G' : '.';
    }
    return result;
}

struct TrackerCase
{
    const char *name;
    std::vector<Sighting> sightings;
    const char *oncePerVisit;
    const char *everyCycle;
};

TEST(VisitTracker, FollowsAnIdentifiedFaceUntilItHasBeenGoneForTheGap)
{
    const TrackerCase rows[] = {
        {"standing, moving a little, turning away, leaving",
         {{0, Seen::Passing, door, true},
          {1000, Seen::Passing, doorMoved, true},
          {2000, Seen::Failing, door, false},
          {4500, Seen::Passing, door, true},
          {5500, Seen::Nothing, {}, false},
          {7000, Seen::Nothing, {}, false},
          {7600, Seen::Nothing, {}, false},
          {9000, Seen::Nothing, {}, false}},
         "I.....G.", "IIGIG..."},
        {"an identification that failed is tried again",
         {{0, Seen::Passing, door, false}, {1000, Seen::Passing, door, false}, {2000, Seen::Passing, door, true},
          {3000, Seen::Passing, door, true}},
         "III.", "IIII"},
        {"a face elsewhere is a new visit",
         {{0, Seen::Passing, door, true}, {1000, Seen::Passing, till, true}, {2000, Seen::Passing, till, true}},
         "II.", "III"},
        {"back after the gap is a new visit",
         {{0, Seen::Passing, door, true}, {3500, Seen::Passing, door, true}}, "II", "II"},
        {"a failing face elsewhere does not keep the visit",
         {{0, Seen::Passing, door, true}, {2000, Seen::Failing, till, false}, {3100, Seen::Failing, till, false}},
         "I.G", "IG."},
    };
    for (const TrackerCase &row : rows) {
        EXPECT_EQ(steps(row.sightings, true), row.oncePerVisit) << row.name;
        EXPECT_EQ(steps(row.sightings, false), row.everyCycle) << row.name;
    }
}

} // namespace
