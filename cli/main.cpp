// Program entry: with no argument the windowed program, otherwise one of the
// command-line subcommands.
#include <QApplication>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "ui/gui_qt.h"

namespace {
std::vector<CommandEntry>& registry()
{
    static std::vector<CommandEntry> r;
    return r;
}

void printUsage(FILE* out)
{
    std::fprintf(out, "usage: quorvel                 open the guider\n");
    for (const auto& c : registry())
        std::fprintf(out, "       %s\n", c.usage.c_str());
}
}  // namespace

CommandRegistration::CommandRegistration(const char* name, const char* usage, CommandFn fn)
{
    registry().push_back({name, usage, fn});
}

const std::vector<CommandEntry>& registeredCommands() { return registry(); }

int main(int argc, char** argv)
{
    if (argc > 1) {
        const std::string name = argv[1];
        if (name == "--help" || name == "-h" || name == "help") {
            printUsage(stdout);
            return 0;
        }
        for (const auto& c : registry()) {
            if (c.name == name)
                return c.fn(std::vector<std::string>(argv + 2, argv + argc));
        }
        std::fprintf(stderr, "quorvel: unknown command '%s'\n", name.c_str());
        printUsage(stderr);
        return 2;
    }
    return runGuiProgram(argc, argv);
}
