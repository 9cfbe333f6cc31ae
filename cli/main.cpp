// Program entry: with no argument the windowed program, otherwise one of the
// command-line subcommands.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/version.h"
#include "ui/gui_qt.h"

namespace {
std::vector<CommandEntry>& registry()
{
    static std::vector<CommandEntry> r;
    return r;
}

void printUsage(FILE* out)
{
    std::fprintf(out, "usage: quorvel --version       the version and the build's git revision\n"
                      "       quorvel [--log FILE] [--server [--port P] [--listen ADDR]]\n"
                      "                                open the guider (--log: write a guide log in PHD2's format;\n"
                      "                                --server: let imaging suites drive it as PHD2, on ADDR:P,\n"
                      "                                default 127.0.0.1:4400)\n");
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
    // Options of the windowed program come first; anything else names a
    // subcommand.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("quorvel %s (build %s)\n", QUORVEL_VERSION, buildRevision());
        return 0;
    }
    if (argc > 1 && std::strncmp(argv[1], "--", 2) == 0 && std::strcmp(argv[1], "--help") != 0) {
        GuiOptions options;
        bool serverOption = false;
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (a == "--log" && i + 1 < argc && argv[i + 1][0] != '\0') {
                options.logPath = argv[++i];
            } else if (a == "--server") {
                options.server = true;
            } else if (a == "--port" && i + 1 < argc) {
                const std::string v = argv[++i];
                int port = -1;
                const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), port);
                if (v.empty() || ec != std::errc() || end != v.data() + v.size() || port < 0 || port > 65535) {
                    std::fprintf(stderr, "quorvel: --port takes a port number from 0 to 65535, not '%s'\n", v.c_str());
                    return 2;
                }
                options.serverPort = port;
                serverOption = true;
            } else if (a == "--listen" && i + 1 < argc && argv[i + 1][0] != '\0') {
                options.serverAddress = argv[++i];
                serverOption = true;
            } else {
                std::fprintf(stderr, "quorvel: unknown option '%s'\n", a.c_str());
                printUsage(stderr);
                return 2;
            }
        }
        if (serverOption && !options.server) {
            std::fprintf(stderr, "quorvel: --port and --listen go with --server\n");
            printUsage(stderr);
            return 2;
        }
        return runGuiProgram(argc, argv, options);
    }
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
    return runGuiProgram(argc, argv, GuiOptions{});
}
