// Graphs of guide logs for the commands: `quorvel plot` and `quorvel guide
// --plot` write them the same way.
#pragma once

#include <optional>
#include <string>

// Writes the graph of each guiding section of a log's text to out (a .png
// or .svg), or only of section `only` (from 1); with several graphs the
// second goes to "out-2.png" and so on. Says on standard error what was
// written, and about lines of the log left out. Returns the exit code: 0, 1
// when a graph could not be written, 2 when the log holds nothing to draw or
// has no such section. `source` names the log in messages.
int writeLogPlots(const char* command, const std::string& logText, const std::string& source, const std::string& out,
                  std::optional<int> only);

class QTemporaryFile;

// The guide log a run's graph is drawn from: the run's own log, from the
// size it had when the run began (a log is appended to), or else a
// temporary one, removed with this object. Nothing without a graph.
class RunLogForPlot {
public:
    RunLogForPlot(const std::string& plot, const std::string& log);
    ~RunLogForPlot();
    RunLogForPlot(const RunLogForPlot&) = delete;
    RunLogForPlot& operator=(const RunLogForPlot&) = delete;

    // The log to write ("" when neither a log nor a graph was asked for).
    const std::string& path() const { return path_; }
    // Why the temporary log could not be made ("" when it was).
    const std::string& error() const { return error_; }
    // What the run wrote to the log.
    std::string text() const;

private:
    QTemporaryFile* temp_ = nullptr;
    std::string path_;
    std::string error_;
    long long start_ = 0;
};
