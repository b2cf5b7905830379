// orvo-tool: the headless companion program. Each subcommand lives in its own source file
// and registers itself here, so adding one touches only its own file and tool/CMakeLists.txt.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1; // the operation failed; the German message went to stderr
inline constexpr int kExitUsage = 2;

struct ToolContext {
    std::vector<std::string> args;               // positional arguments after the subcommand
    std::string configPath;                      // --config FILE.cfg
    std::string inPath;                          // --in FILE.mes
    std::vector<std::string> sets;               // --set FIELD=VALUE, in order
    std::string answers;                         // --answers LIST
    std::map<std::string, std::string> options;  // any other --name VALUE, without the dashes
    std::vector<std::string> commandLine;        // every word as given, the program's first
};

struct ToolCommand {
    const char* name;
    const char* usage;   // one or more lines for --help, starting with the command line
    int (*run)(ToolContext& ctx);
};

bool registerCommand(const ToolCommand& command);
const std::vector<ToolCommand>& commands();

// Prints "orvo-tool: message" to stderr and returns kExitUsage.
int usageError(const std::string& message);

} // namespace tool
