// `quorvel plot`: the graph of a guide log in PHD2's format, this program's
// or another guider's, as a PNG or SVG picture for each guiding section.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cliutil.h"
#include "cli/commands.h"
#include "cli/plotfile.h"
#include "plot/guideplot.h"

namespace {

const char* const kUsage =
    "quorvel plot LOG [-o FILE] [--section N]   draw the guiding of a guide log in PHD2's format (this "
    "program's, PHD2's, KStars') in FILE, a .png or .svg (default: LOG's name ending in .png), one picture per "
    "guiding section (FILE-2.png for the second...), or section N alone";

int usageError(const std::string& why)
{
    std::fprintf(stderr, "quorvel plot: %s\nusage: %s\n", why.c_str(), kUsage);
    return 2;
}

std::string defaultOutput(const std::string& log)
{
    const std::filesystem::path p(log);
    return std::filesystem::path(p).replace_extension(".png").string();
}

int runPlot(const std::vector<std::string>& args)
{
    std::string log, out;
    std::optional<int> section;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if ((a == "-o" || a == "--output" || a == "--section") && i + 1 >= args.size())
            return usageError(a + " needs a value");
        if (a == "-o" || a == "--output") {
            out = args[++i];
            if (!isPlotPath(out))
                return usageError(a + " takes a file name ending in .png or .svg, not '" + out + "'");
        } else if (a == "--section") {
            section = parseInt(args[++i], 1, 1000000);
            if (!section)
                return usageError("--section takes the number of a guiding section (1 the first), not '" + args[i] + "'");
        } else if (a.size() > 1 && a[0] == '-') {
            return usageError("unknown option '" + a + "'");
        } else if (log.empty()) {
            log = a;
        } else {
            return usageError("one log at a time, not '" + log + "' and '" + a + "'");
        }
    }
    if (log.empty())
        return usageError("which guide log?");
    if (out.empty())
        out = defaultOutput(log);

    std::error_code ec;
    if (std::filesystem::is_directory(log, ec)) {
        std::fprintf(stderr, "quorvel plot: cannot read %s: it is a directory\n", log.c_str());
        return 2;
    }
    std::ifstream in(log, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "quorvel plot: cannot read %s: %s\n", log.c_str(), std::strerror(errno));
        return 2;
    }
    if (std::filesystem::exists(out, ec) && std::filesystem::equivalent(log, out, ec)) {
        std::fprintf(stderr, "quorvel plot: the graph would overwrite the log %s: name another file with -o\n",
                     log.c_str());
        return 2;
    }
    std::ostringstream text;
    text << in.rdbuf();

    const CommandLoop drawing(true);
    return writeLogPlots("quorvel plot", text.str(), log, out, section);
}

CommandRegistration reg("plot", kUsage, runPlot);

}  // namespace
