// The flight's table: what `camsys fly` writes is what `camsys import` reads, to the bit, and
// bad recordings are refused with the reason.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "exchange/FlightCsv.h"
#include "flight/Flight.h"
#include "host/Host.h"
#include "module/InProcessModule.h"
#include "scene/SceneFile.h"

namespace {

TEST(FlightCsv, ReadsBackTheFlightItWroteToTheBit) {
    host::Host host(SetIRTS, GetObjectFactories);
    host::loadSceneFile(host, CAMSYS_EXAMPLES "/flythrough.json");
    host.createCamera();
    const host::FlightRecording flight = host::recordFlight(host, host.find("Cam"), {});
    const std::string csv = host::flightToCsv(flight);
    const std::vector<host::RecordedEye> samples = host::flightFromCsv(csv, "flight.csv");
    ASSERT_EQ(samples.size(), flight.ticks.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(samples[i].time, flight.ticks[i].time) << i;
        EXPECT_EQ(std::memcmp(&samples[i].eye, &flight.ticks[i].eye, sizeof samples[i].eye), 0) << i;
        EXPECT_EQ(std::memcmp(&samples[i].fov, &flight.ticks[i].fov, sizeof(float)), 0) << i;
    }
}

TEST(FlightCsv, BadRecordingsAreRefusedWithTheReason) {
    const std::string header = "time,waypoint,x,y,z,m00,m01,m02,m10,m11,m12,m20,m21,m22,fov\n";
    const std::string good = "0,0,1,2,3,1,0,0,0,1,0,0,0,1,1\n";
    const auto refusal = [&](const std::string& text) -> std::string {
        try {
            host::flightFromCsv(text, "rec.csv");
        } catch (const host::InputError& error) {
            return error.what();
        }
        return "(accepted)";
    };
    EXPECT_NE(refusal(header + good).find("has no move to fit"), std::string::npos);
    EXPECT_NE(refusal(header + good + "16,0,nan,2,3,1,0,0,0,1,0,0,0,1,1\n").find("not a finite number"),
              std::string::npos);
    EXPECT_NE(refusal(header + "16,0,1,2,3,1,0,0,0,1,0,0,0,1,1\n" + good).find("times of a recording must increase"),
              std::string::npos);
    EXPECT_NE(refusal(header + good + "16,0,1,2,3,2,0,0,0,1,0,0,0,1,1\n").find("no rotation"), std::string::npos);
    EXPECT_NE(refusal("time,x\n" + good).find("header"), std::string::npos);
    EXPECT_NE(refusal(header + good + "16,0,1,2\n").find("4 fields"), std::string::npos);
    EXPECT_EQ(refusal(header + good + "16,0,1,2,3,1,0,0,0,1,0,0,0,1,1\n"), "(accepted)");
}

}  // namespace
