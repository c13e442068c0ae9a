// camsys: flies, checks, draws and keeps camera flights without a game engine. The main parses the
// command line, runs the chosen command of the table (cli/Commands.h) on the stand-in host and
// turns what went wrong into the exit status.
//
// Exit status: 0 done, 2 bad input (the message names file, object and attribute), 1 anything
// else (the plug-in cannot be loaded, an output cannot be written).
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "base/Heap.h"
#include "base/InputError.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "host/Host.h"

#ifndef CAMSYS_VERSION
#define CAMSYS_VERSION "unknown"
#endif

namespace {

using host::kExitBadInput;
using host::kExitFailure;

/// The subcommands' names, in the table's order, separated by commas.
std::string subcommandNames() {
    std::string names;
    for (const host::CliCommand& command : host::cliCommands())
        names.append(names.empty() ? "" : ", ").append(command.name);
    return names;
}

int runCamsys(int argc, char** argv) {
    CLI::App app(host::kCamsysDescription, "camsys");
    app.footer(host::camsysFooter());
    app.require_subcommand(1);
    app.fallthrough();
    app.set_version_flag("--version", "camsys " CAMSYS_VERSION);
    std::string pluginOption;
    app.add_option("--plugin", pluginOption,
                   "The camera-system plug-in to load (else $CAMSYS_PLUGIN, else the one "
                   "installed beside camsys, else the one built with it)");
    for (const host::CliCommand& command : host::cliCommands())
        command.addOptions(*app.add_subcommand(command.name, command.help));

    host::keepFreedHeap();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Without a known subcommand the parser would only say that one is required: name the
        // word it did not know, which it keeps among the arguments it could not place.
        if (dynamic_cast<const CLI::RequiredError*>(&error) && app.get_subcommands().empty())
            for (const std::string& word : app.remaining())
                if (!word.starts_with('-')) {
                    std::fprintf(stderr, "camsys: no subcommand \"%s\"; the subcommands are %s (camsys --help)\n",
                                 word.c_str(), subcommandNames().c_str());
                    return kExitBadInput;
                }
        const int status = app.exit(error);
        return status == 0 ? 0 : kExitBadInput;
    }
    const std::string chosen = app.get_subcommands().front()->get_name();

    try {
        host::Host host(host::pluginPath(pluginOption));
        for (const host::CliCommand& command : host::cliCommands())
            if (chosen == command.name) return command.run(host);
        return kExitFailure;  // not reached: the parser accepts only the table's commands
    } catch (const host::InputError& error) {
        host::reportError(error);
        return kExitBadInput;
    } catch (const host::UsageError& error) {
        host::reportError(error);
        return kExitBadInput;
    } catch (const std::exception& error) {
        host::reportError(error);
        return kExitFailure;
    }
}

/// What main returns, unless standard output could not take what was written to it: a full disk
/// or a closed pipe shows only when the buffered rest is flushed and the stream closed.
int finish(int status) {
    errno = 0;
    const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout);
    const int reason = errno;
    if (std::fclose(stdout) != 0 || failed) {
        // A failure already reported (its status not 0) is not reported twice.
        if (status == 0)
            std::fprintf(stderr, "camsys: write error: %s\n", std::strerror(reason ? reason : errno ? errno : EIO));
        return status == 0 ? kExitFailure : status;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) { return finish(runCamsys(argc, argv)); }
