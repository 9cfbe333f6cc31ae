// The event server's input: bytes from a client cut into request lines.
// A line ends with LF (a CR before it is dropped). A line longer than the
// bound is never kept: it is reported once, as soon as it passes the bound,
// and everything up to its newline is skipped, so that a client sending
// megabytes without a newline costs no memory and its next line is read as
// usual. Empty lines are skipped.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

class LineReader {
public:
    static constexpr std::size_t kDefaultMaxLine = 10000;

    explicit LineReader(std::size_t maxLine = kDefaultMaxLine) : maxLine_(maxLine) {}

    // A complete line (without its CR LF), or, with tooLong set, the news
    // that a line passed the bound (the line is empty then).
    using Sink = std::function<void(std::string_view line, bool tooLong)>;

    // Feeds the next bytes; the sink is called for each line they complete.
    void feed(std::string_view bytes, const Sink& sink);

    // Bytes held for a line not yet complete (never more than the bound).
    std::size_t pending() const { return partial_.size(); }
    bool skipping() const { return skipping_; }

private:
    std::size_t maxLine_;
    std::string partial_;
    bool skipping_ = false;  // inside a line that passed the bound
};
