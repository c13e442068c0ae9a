// camsys fly: the camera's eye per tick as CSV.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "exchange/FlightCsv.h"
#include "flight/Flight.h"

namespace host {

namespace {

/// The arguments of this run, as CLI11 fills them.
FlightArguments arguments;
LevelArguments levelArguments;

}  // namespace

void addFlyOptions(CLI::App& command) {
    command.footer(
        "Activates the iterator at --start, then runs ticks at start, start + step, start + 2 step, ... (modulo\n"
        "2^32) until the tick after which the iterator was deactivated (that row included) or --max-ticks ticks\n"
        "have run (then a warning).\n"
        "After each tick and the activations it asked for, the game camera reads the eye through ISCO_HasEye:\n"
        "  time,waypoint,x,y,z,m00,m01,m02,m10,m11,m12,m20,m21,m22,fov\n"
        "time: the tick; waypoint: the iterator's ActualWayPointIndex; x,y,z: the eye's position; m..: its\n"
        "orientation row by row (columns right, forward, up); fov: its field-of-view value. Floats are the\n"
        "shortest decimals that read back to the same float. Activations, deactivations and messages go to\n"
        "standard error as lines time,event,detail (event: activate, deactivate or message).");
    addFlightOptions(command, arguments);
    command.add_option("-o,--output", arguments.output, "The CSV file (default: standard output)");
    addLevelOptions(command, levelArguments);
}

int runFly(Host& host) {
    const Handle iterator = prepareFlight(host, arguments);
    const FlightRecording flight = recordFlight(host, iterator, {arguments.start, arguments.step, arguments.maxTicks});
    printFlightEvents(flight);
    warnIfStillFlying(host, iterator, flight);
    writeOutput(arguments.output, flightToCsv(flight));
    return 0;
}

}  // namespace host
