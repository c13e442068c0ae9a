// camsys's commands as one table: adding a command is a row in Commands.cpp and a file with its
// two functions.
#pragma once

#include <CLI/CLI.hpp>
#include <span>
#include <string>

#include "cli/CliSupport.h"

namespace studio {
struct StudioOptions;
}

namespace host {

class Host;

/// One command of camsys. `addOptions` declares the command's arguments, its footer included, on
/// its CLI11 subcommand, bound to where the command keeps them; `run` runs it on the opened host
/// once they are parsed and returns the exit status.
struct CliCommand {
    const char* name;
    const char* help;  ///< one line, as `camsys --help` lists it
    void (*addOptions)(CLI::App& command);
    int (*run)(Host& host);
};

/// The commands in the order `camsys --help` lists them.
std::span<const CliCommand> cliCommands();

/// The program's own line and footer in `camsys --help`.
extern const char* const kCamsysDescription;
std::string camsysFooter();

// One pair per command, each in its command's file.
void addFlyOptions(CLI::App& command);
int runFly(Host& host);
void addDrawOptions(CLI::App& command);
int runDraw(Host& host);
void addProfileOptions(CLI::App& command);
int runProfile(Host& host);
void addExportOptions(CLI::App& command);
int runExport(Host& host);
void addImportOptions(CLI::App& command);
int runImport(Host& host);
void addSaveOptions(CLI::App& command);
int runSave(Host& host);
void addLoadOptions(CLI::App& command);
int runLoad(Host& host);
void addNewOptions(CLI::App& command);
int runNew(Host& host);
void addRetimeOptions(CLI::App& command);
int runRetime(Host& host);
void addLintOptions(CLI::App& command);
int runLint(Host& host);
void addStudioOptions(CLI::App& command);
int runStudio(Host& host);
/// The level for the studio's page (a binary glTF) and for its checks (its triangles), as
/// `level` chooses among the scene file's own `own` and the options. The scene's own level that
/// cannot be read is said (as `camsys COMMAND: warning`) and left out; one given by --level must
/// be read.
void addStudioLevel(studio::StudioOptions& options, const std::string& scene, const OptionalLevel& own,
                    const LevelArguments& level, const char* command);

void addRenderOptions(CLI::App& command);
int runRender(Host& host);
void addAddMoveOptions(CLI::App& command);
int runAddMove(Host& host);

}  // namespace host
