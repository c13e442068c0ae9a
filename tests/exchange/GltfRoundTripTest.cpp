// An exported flight read back by the recorder's glTF reader: the samples are the recorded ticks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "exchange/GltfExport.h"
#include "exchange/GltfImport.h"
#include "flight/Flight.h"
#include "host/Host.h"
#include "module/InProcessModule.h"
#include "scene/SceneFile.h"

namespace {

/// One float rounding: the largest relative error of a double rounded to float.
constexpr double kFloatRounding = 1.0 / (1 << 24);

/// How far a float orientation is from a rotation: the largest |length - 1| of a column and
/// |dot| of two columns.
double skewOf(const _CMatrix3<float>& m) {
    double skew = 0;
    for (int a = 0; a < 3; ++a)
        for (int b = a; b < 3; ++b) {
            double d = 0;
            for (int r = 0; r < 3; ++r) d += double(m.m[r][a]) * m.m[r][b];
            skew = std::max(skew, std::fabs(a == b ? d - 1 : d));
        }
    return skew;
}

TEST(GltfRoundTrip, ImportedSamplesAreTheRecordedTicks) {
    host::Host host(SetIRTS, GetObjectFactories);
    host::loadSceneFile(host, CAMSYS_EXAMPLES "/flythrough.json");
    host.createCamera();
    const Handle cam = host.find("Cam");
    const host::FlightOptions options;
    const host::FlightRecording flight = host::recordFlight(host, cam, options);
    ASSERT_GT(flight.ticks.size(), 100u);
    for (const char* extension : {".gltf", ".glb"}) {
        SCOPED_TRACE(extension);
        const std::string path = ::testing::TempDir() + "camsys-roundtrip" + extension;
        host::writeGltfFile(host, cam, options, flight, path);
        const std::vector<host::RecordedEye> samples = host::loadGltfRecordingFile(path);
        std::remove(path.c_str());
        // The held eye before the cut gives way to the cut's tick: one sample per tick.
        ASSERT_EQ(samples.size(), flight.ticks.size());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            SCOPED_TRACE(i);
            const host::FlightTick& tick = flight.ticks[i];
            const host::RecordedEye& got = samples[i];
            // Key times are float seconds since the first tick; 10 s of flight in float seconds
            // are exact to far below the half millisecond the reader rounds to.
            EXPECT_EQ(got.time, tick.time - flight.ticks[0].time);
            // Positions pass as floats both ways and are sampled at their own key: exact.
            EXPECT_EQ(got.eye.Origin.x, tick.eye.Origin.x);
            EXPECT_EQ(got.eye.Origin.y, tick.eye.Origin.y);
            EXPECT_EQ(got.eye.Origin.z, tick.eye.Origin.z);
            // Axes: the exported rotation is a quaternion of floats (each component of a unit
            // quaternion off by at most one rounding, so |dq| <= 2 * 2^-24); a rotation matrix
            // is quadratic in q with coefficients of 2, so its entries move by at most
            // 4 |dq| = 8 * 2^-24, and the reader's float axes add one rounding. The export also
            // makes the recorded orientation an exact rotation, which moves its columns by about
            // its skew (up to three times, for the axis built from the other two).
            const double axisTolerance = 9 * kFloatRounding + 3 * skewOf(tick.eye.Orientation);
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c)
                    EXPECT_NEAR(got.eye.Orientation.m[r][c], tick.eye.Orientation.m[r][c], axisTolerance)
                        << "row " << r << ", column " << c;
            // Field of view: yfov = 2 atan(tan(30 deg) / f) is rounded to float (relative error
            // 2^-24); back through f = tan(30 deg) / tan(yfov / 2) that error grows by
            // yfov / sin(yfov) (the derivative of log tan(yfov / 2) times yfov); the factor is
            // rounded to float once more, and a further rounding covers the double steps.
            const double yfov = 2 * std::atan(std::tan(host::kGltfBaseYfov / 2) / tick.fov);
            const double fovTolerance = (yfov / std::sin(yfov) + 2) * kFloatRounding * tick.fov;
            EXPECT_NEAR(got.fov, tick.fov, fovTolerance);
        }
    }
}

}  // namespace
