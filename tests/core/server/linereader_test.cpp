// Request lines cut from a client's bytes: line ends and the bound whatever
// the chunks, and random bytes read as a plain reading of the whole stream.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/server/linereader.h"

namespace {

const std::string kTooLong = "<too long>";

std::vector<std::string> readAll(const std::vector<std::string>& chunks, std::size_t maxLine)
{
    LineReader reader(maxLine);
    std::vector<std::string> out;
    for (const std::string& c : chunks) {
        reader.feed(c, [&](std::string_view line, bool tooLong) { out.push_back(tooLong ? kTooLong : std::string(line)); });
        EXPECT_LE(reader.pending(), maxLine + 1);
    }
    return out;
}

}  // namespace

TEST(LineReader, LineEndsAndTheBoundWhateverTheChunks)
{
    using V = std::vector<std::string>;
    const std::string eight(8, 'x'), nine(9, 'y');
    const struct {
        V chunks;
        V lines;
    } cases[] = {
        {{"a\nb\r\n"}, {"a", "b"}},
        {{"ab", "c", "d\r", "\n"}, {"abcd"}},
        {{"\n\r\n\na\rb\n"}, {"a\rb"}},  // empty lines skipped, a CR inside kept
        {{"abc"}, {}},
        {{eight + "\r\n"}, {eight}},
        {{nine + "\nok\n"}, {kTooLong, "ok"}},
        {{nine + "zz"}, {kTooLong}},  // refused before its newline comes
        {{nine, nine, "\nok\n"}, {kTooLong, "ok"}},
        {{nine + "\r", "\n"}, {kTooLong}},
    };
    for (const auto& c : cases) {
        std::string all;
        for (const auto& s : c.chunks)
            all += s;
        EXPECT_EQ(readAll(c.chunks, 8), c.lines) << all;
        V bytes;
        for (char ch : all)
            bytes.emplace_back(1, ch);
        EXPECT_EQ(readAll(bytes, 8), c.lines) << all << " byte by byte";
    }
}

TEST(LineReader, RandomBytesInRandomChunksReadAsTheWholeStream)
{
    std::mt19937 rng(20240601);
    for (int round = 0; round < 300; ++round) {
        const std::size_t maxLine = 1 + rng() % 40;
        std::string stream;
        for (int i = int(rng() % 400); i > 0; --i) {
            const unsigned r = rng() % 16;  // many line ends, NULs, invalid UTF-8
            stream += r == 0 ? '\n' : r == 1 ? '\r' : r == 2 ? '\0' : char(rng());
        }
        // The whole stream read plainly: split at LF, one CR dropped, empty
        // lines skipped, long ones refused (an unfinished one once it cannot fit).
        std::vector<std::string> expected;
        for (std::size_t start = 0;;) {
            const std::size_t nl = stream.find('\n', start);
            std::string line = stream.substr(start, nl == std::string::npos ? nl : nl - start);
            if (nl == std::string::npos) {
                if (line.size() > maxLine + 1)
                    expected.push_back(kTooLong);
                break;
            }
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.size() > maxLine)
                expected.push_back(kTooLong);
            else if (!line.empty())
                expected.push_back(line);
            start = nl + 1;
        }
        std::vector<std::string> chunks;
        for (std::size_t at = 0; at < stream.size();) {
            const std::size_t len = std::min<std::size_t>(stream.size() - at, rng() % 50);
            chunks.push_back(stream.substr(at, len));
            at += len;
        }
        ASSERT_EQ(readAll(chunks, maxLine), expected) << "round " << round;
    }
}
