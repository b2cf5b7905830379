#include "tool/ToolCommand.h"

#include "core/Strings.h"
#include "core/Ui.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

namespace tool
{

namespace
{
std::vector<ToolCommand>& registry()
{
    static std::vector<ToolCommand> r;
    return r;
}

void printHelp(std::FILE* to)
{
    std::fprintf(to, "orvo-tool: the measurement program's work without a window\n\n"
                     "usage: orvo-tool COMMAND [ARGS] [OPTIONS]\n\ncommands:\n");
    auto list = registry();
    std::sort(list.begin(), list.end(), [](const ToolCommand& a, const ToolCommand& b) {
        return std::strcmp(a.name, b.name) < 0;
    });
    for (const ToolCommand& c : list)
        std::fprintf(to, "%s\n", c.usage);
    std::fprintf(
        to, "\ncommon options:\n"
            "  --config FILE.cfg   load settings, display settings and tables first\n"
            "  --in FILE.mes       load a measurement file first\n"
            "  --set FIELD=VALUE   set a measurement setting by its field name (repeatable)\n"
            "  --answers LIST      answers to prompts in order: yes,no,ok,cancel\n"
            "  --help              this text\n\n"
            "exit status: 0 success, 1 the operation failed (message on stderr), 2 usage error\n");
}
} // namespace

bool registerCommand(const ToolCommand& command)
{
    registry().push_back(command);
    return true;
}

const std::vector<ToolCommand>& commands()
{
    return registry();
}

int usageError(const std::string& message)
{
    std::fprintf(stderr, "orvo-tool: %s\n", message.c_str());
    return kExitUsage;
}

} // namespace tool

int main(int argc, char** argv)
{
    using namespace tool;
    // Everything the tool prints and parses uses the "C" conventions.
    std::setlocale(LC_ALL, "C");
    // Without a command the help is a usage error and goes where errors go.
    if (argc < 2)
        return (printHelp(stderr), kExitUsage);
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printHelp(stdout);
        return kExitOk;
    }
    const auto& cmds = commands();
    auto it = std::find_if(cmds.begin(), cmds.end(),
                           [&](const ToolCommand& c) { return name == c.name; });
    if (it == cmds.end())
        return usageError("unbekannter Befehl „" + name + "“ (siehe --help)");

    ToolContext ctx;
    ctx.commandLine.assign(argv, argv + argc);
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help") {
            std::printf("%s\n", it->usage);
            return kExitOk;
        }
        if (a.rfind("--", 0) == 0 && a.size() > 2) {
            std::string key = a.substr(2);
            std::string value;
            const auto eq = key.find('=');
            if (eq != std::string::npos && key != "set") {
                value = key.substr(eq + 1);
                key = key.substr(0, eq);
            } else {
                if (i + 1 >= argc)
                    return usageError("Option --" + key + " braucht einen Wert");
                value = argv[++i];
            }
            // As with an empty argument: an option that names a file gets no empty name.
            if (value.empty() && (key == "config" || key == "in" || key == "out"))
                return usageError("Option --" + key + " ist leer (ein Dateiname fehlt?)");
            if (key == "config")
                ctx.configPath = value;
            else if (key == "in")
                ctx.inPath = value;
            else if (key == "set")
                ctx.sets.push_back(value);
            else if (key == "answers")
                ctx.answers = value;
            else
                ctx.options[key] = value;
        } else {
            // An empty word is a file name a script forgot (an unset variable), not a name.
            if (a.empty())
                return usageError("Argument " + std::to_string(ctx.args.size() + 1) +
                                  " ist leer (ein Dateiname fehlt?)");
            ctx.args.push_back(a);
        }
    }
    core::NonInteractiveUi ui(true);
    if (!ui.setAnswers(ctx.answers))
        return usageError("--answers nimmt yes,no,ok,cancel, durch Kommas getrennt");
    core::setUi(&ui);
    const int rc = it->run(ctx);
    core::setUi(nullptr);
    return rc;
}
