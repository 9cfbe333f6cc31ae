// Subcommands of the quorvel executable. Each app/cmd_<name>.cpp registers
// itself with a static CommandRegistration; main() dispatches on argv[1].
#pragma once

#include <string>
#include <vector>

// Receives the arguments after the subcommand name; returns the exit code
// (0 success, 2 bad usage or input, as each command documents).
using CommandFn = int (*)(const std::vector<std::string>& args);

struct CommandRegistration {
    CommandRegistration(const char* name, const char* usage, CommandFn fn);
};

struct CommandEntry {
    std::string name;
    std::string usage;
    CommandFn fn;
};
const std::vector<CommandEntry>& registeredCommands();
