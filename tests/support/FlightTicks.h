#pragma once
/// Two recorded ticks the same to the bit: time, waypoint index, segment start, eye and fov.

#include <gtest/gtest.h>

#include <cstring>

#include "flight/Flight.h"

namespace testing_support {

inline ::testing::AssertionResult sameTick(const host::FlightTick& a, const host::FlightTick& b) {
    if (a.time != b.time || a.waypoint != b.waypoint || a.segmentStart != b.segmentStart)
        return ::testing::AssertionFailure() << "time " << a.time << "/" << b.time << ", waypoint " << a.waypoint << "/"
                                             << b.waypoint << ", segment " << a.segmentStart << "/" << b.segmentStart;
    if (std::memcmp(&a.eye, &b.eye, sizeof a.eye) != 0 || std::memcmp(&a.fov, &b.fov, sizeof a.fov) != 0)
        return ::testing::AssertionFailure() << "the eye differs at " << a.time;
    return ::testing::AssertionSuccess();
}

}  // namespace testing_support
