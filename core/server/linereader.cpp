// Request lines from a client's bytes.
#include "core/server/linereader.h"

void LineReader::feed(std::string_view bytes, const Sink& sink)
{
    while (!bytes.empty()) {
        const std::size_t nl = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, nl);
        if (!skipping_) {
            // The bound counts the line without its CR: a CR may still come
            // just before the newline in a later piece, so one byte more is
            // held until the newline is seen.
            const std::size_t room = maxLine_ + 1 - partial_.size();
            if (piece.size() > room) {
                partial_.clear();
                skipping_ = true;
                sink({}, true);
            } else {
                partial_.append(piece);
            }
        }
        if (nl == std::string_view::npos)
            return;
        bytes.remove_prefix(nl + 1);
        if (skipping_) {
            skipping_ = false;
            continue;
        }
        if (!partial_.empty() && partial_.back() == '\r')
            partial_.pop_back();
        if (partial_.size() > maxLine_) {
            partial_.clear();
            sink({}, true);
            continue;
        }
        if (!partial_.empty())
            sink(partial_, false);
        partial_.clear();
    }
}
