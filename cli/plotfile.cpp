// Graphs of guide logs for the commands.
#include "cli/plotfile.h"

#include <QDir>
#include <QTemporaryFile>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "core/log/logreader.h"
#include "plot/guideplot.h"

int writeLogPlots(const char* command, const std::string& logText, const std::string& source, const std::string& out,
                  std::optional<int> only)
{
    const GuideLogContents log = readGuideLog(logText);
    constexpr std::size_t kProblemsShown = 5;
    for (std::size_t i = 0; i < log.problems.size() && i < kProblemsShown; ++i)
        std::fprintf(stderr, "%s: %s line %d: %s, left out\n", command, source.c_str(), log.problems[i].line,
                     log.problems[i].what.c_str());
    if (log.problems.size() > kProblemsShown)
        std::fprintf(stderr, "%s: %s: %zu more lines left out\n", command, source.c_str(),
                     log.problems.size() - kProblemsShown);

    const int count = int(log.sections.size());
    if (count == 0) {
        std::fprintf(stderr, "%s: %s holds no guiding section (\"Guiding Begins at\"): not a guide log in PHD2's format\n",
                     command, source.c_str());
        return 2;
    }
    if (only && (*only < 1 || *only > count)) {
        std::fprintf(stderr, "%s: %s has %d guiding section%s: --section takes 1%s\n", command, source.c_str(), count,
                     count == 1 ? "" : "s", count == 1 ? "" : (" to " + std::to_string(count)).c_str());
        return 2;
    }
    std::vector<int> drawn;
    for (int n = 1; n <= count; ++n) {
        if (only ? n == *only : !log.sections[size_t(n - 1)].frames.empty())
            drawn.push_back(n);
    }
    if (drawn.empty()) {
        std::fprintf(stderr, "%s: no guiding section of %s holds a measurement\n", command, source.c_str());
        return 2;
    }
    int code = 0;
    for (const int n : drawn) {
        const GuideLogSection& s = log.sections[size_t(n - 1)];
        const std::string path = drawn.size() == 1 ? out : numberedPlotPath(out, n);
        const std::string error = writeGuidePlot(path, s, guidePlotText(s, n, count));
        if (!error.empty()) {
            std::fprintf(stderr, "%s: %s\n", command, error.c_str());
            code = 1;
            continue;
        }
        std::fprintf(stderr, "%s: section %d of %s (%zu frames): %s\n", command, n, source.c_str(), s.frames.size(),
                     path.c_str());
    }
    return code;
}

RunLogForPlot::RunLogForPlot(const std::string& plot, const std::string& log) : path_(log)
{
    std::error_code ec;
    if (!log.empty()) {
        const auto size = std::filesystem::file_size(log, ec);
        start_ = ec ? 0 : static_cast<long long>(size);
        return;
    }
    if (plot.empty())
        return;
    temp_ = new QTemporaryFile(QDir::tempPath() + QStringLiteral("/quorvel-run-XXXXXX.log"));
    if (!temp_->open()) {
        error_ = "cannot make a temporary guide log for the graph in " + QDir::tempPath().toStdString() + ": " +
                 temp_->errorString().toStdString();
        return;
    }
    path_ = temp_->fileName().toStdString();
}

RunLogForPlot::~RunLogForPlot() { delete temp_; }

std::string RunLogForPlot::text() const
{
    std::ifstream in(path_, std::ios::binary);
    if (!in)
        return {};
    in.seekg(start_);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}
