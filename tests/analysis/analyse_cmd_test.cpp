// `quorvel analyse` end to end: frames written as files, measured by the
// executable, read back as JSON lines.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <functional>
#include <sstream>

#include "settings/paramsfile.h"
#include "testsupport.h"

namespace {

struct Levels {
    std::vector<uint8_t> v = std::vector<uint8_t>(320 * 240, 2);  // background level 2
    void block(int x, int y, int w, int h, uint8_t level)
    {
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i)
                v[j * 320 + i] = level;
    }
};

// Colour P6 file; grey 4L + 3 reads back as level L.
std::string ppm(const Levels& l, int w = 320, int h = 240)
{
    std::string s = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    for (int i = 0; i < w * h; ++i)
        s.append(3, char(4 * l.v[std::size_t(i) % l.v.size()] + 3));
    return s;
}

void le(std::string& s, uint32_t v, int n)
{
    for (int i = 0; i < n; ++i)
        s += char(v >> (8 * i));
}

// 8-bit indexed BMP, rows stored bottom-up, 256-entry colour table.
std::string bmp8(const std::vector<uint8_t>& index, const std::vector<uint32_t>& table)
{
    std::string s = "BM";
    le(s, 1078 + 320 * 240, 4);
    le(s, 0, 4);
    le(s, 1078, 4);
    for (uint32_t v : {40u, 320u, 240u})
        le(s, v, 4);
    le(s, 1, 2);
    le(s, 8, 2);
    for (uint32_t v : {0u, uint32_t(320 * 240), 2835u, 2835u, 256u, 0u})
        le(s, v, 4);
    for (uint32_t rgb : table)
        le(s, rgb, 4);  // blue, green, red, 0
    for (int y = 239; y >= 0; --y)
        for (int x = 0; x < 320; ++x)
            s += char(index[std::size_t(y) * 320 + x]);
    return s;
}

std::vector<QJsonObject> lines(const std::string& out)
{
    std::vector<QJsonObject> result;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        QJsonParseError e{};
        result.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line), &e).object());
        EXPECT_EQ(e.error, QJsonParseError::NoError) << line;
    }
    return result;
}

int at(const QJsonObject& o, const char* key, int i) { return o[key].toArray()[i].toInt(); }

class AnalyseCommand : public ::testing::Test {
protected:
    TempDir dir;
    Levels star;  // a 3 x 3 star of level 60 at region columns 30..32, rows 10..12
    void SetUp() override
    {
        star.block(140, 80, 3, 3, 60);
        writeFile(dir.file("a.ppm"), ppm(star));
    }
};

}  // namespace

TEST_F(AnalyseCommand, MeasuresFramesInOrderAsTheGuiderDoes)
{
    // A settings file asking for dark-spot guiding is ignored and untouched.
    tparam settings;
    settings.darkSpotGuiding = 1;
    const auto bytes = encodeParams(settings);
    writeFile(dir.file("qv185.dat"), std::string(bytes.begin(), bytes.end()));

    const RunResult r = runQuorvel({"analyse", "a.ppm", "a.ppm"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 2u);
    const QStringList keys = {"file", "threshold", "peak", "population", "centroid_x",
                              "centroid_y", "histogram", "columns", "rows"};
    for (const auto& o : out) {
        EXPECT_EQ(o.keys().size(), keys.size());
        for (const auto& k : keys)
            EXPECT_TRUE(o.contains(k)) << k.toStdString();
        EXPECT_EQ(o["file"].toString(), "a.ppm");
        EXPECT_EQ(o["histogram"].toArray().size(), 64);
        EXPECT_EQ(o["columns"].toArray().size(), 100);
        EXPECT_EQ(o["rows"].toArray().size(), 100);
        EXPECT_EQ(at(o, "histogram", 2), 9991);
        EXPECT_EQ(at(o, "histogram", 60), 9);
        EXPECT_EQ(o["peak"].toInt(), 60);
    }
    // First frame: automatic threshold 0, every pixel a star pixel.
    EXPECT_EQ(out[0]["threshold"].toInt(), 0);
    EXPECT_EQ(out[0]["population"].toInt(), 10000);
    // Second: threshold from the first frame's peak.
    EXPECT_EQ(out[1]["threshold"].toInt(), 53);
    EXPECT_EQ(out[1]["population"].toInt(), 9);
    EXPECT_EQ(out[1]["centroid_x"].toInt(), 31);
    EXPECT_EQ(out[1]["centroid_y"].toInt(), 11);
    EXPECT_EQ(at(out[1], "columns", 30), 3);
    EXPECT_EQ(at(out[1], "rows", 10), 3);  // index 0 is the region's top row
    EXPECT_EQ(at(out[1], "rows", 88), 0);
    EXPECT_EQ(readFile(dir.file("qv185.dat")), std::string(bytes.begin(), bytes.end()));
}

TEST_F(AnalyseCommand, OptionsShapeTheMeasurement)
{
    const struct {
        std::vector<std::string> args;
        std::function<void(const QJsonObject&)> check;
    } cases[] = {
        {{"--region", "130,75", "--manual", "30"},
         [](const QJsonObject& o) {
             EXPECT_EQ(o["threshold"].toInt(), 30);
             EXPECT_EQ(o["population"].toInt(), 9);
             EXPECT_EQ(o["centroid_x"].toInt(), 11);
             EXPECT_EQ(o["centroid_y"].toInt(), 5);  // peak row 5: near the edge
         }},
        {{"--manual", "63"},
         [](const QJsonObject& o) {
             EXPECT_EQ(o["threshold"].toInt(), 63);
             EXPECT_EQ(o["population"].toInt(), 0);
         }},
        {{"--dark", "a.ppm"},
         [](const QJsonObject& o) {
             EXPECT_EQ(o["peak"].toInt(), 0);
             EXPECT_EQ(at(o, "histogram", 0), 10000);
         }},
        {{"--dark-spot"},
         [](const QJsonObject& o) {
             EXPECT_EQ(at(o, "histogram", 61), 9991);
             EXPECT_EQ(at(o, "histogram", 3), 9);
         }},
        {{"--track", "200,150"},  // 10,000 star pixels: the gate takes the reference
         [](const QJsonObject& o) {
             EXPECT_EQ(o["centroid_x"].toInt(), 90);
             EXPECT_EQ(o["centroid_y"].toInt(), 80);
         }},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"analyse"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back("a.ppm");
        const RunResult r = runQuorvel(args, dir.path());
        ASSERT_EQ(r.exitCode, 0) << c.args[0] << r.err;
        const auto out = lines(r.out);
        ASSERT_EQ(out.size(), 1u);
        SCOPED_TRACE(c.args[0]);
        c.check(out[0]);
    }
}

TEST_F(AnalyseCommand, GreyBmpReadsThroughItsColourTable)
{
    std::vector<uint32_t> table(256, 0);
    for (uint32_t i = 0; i < 64; ++i)
        table[i] = (4 * i + 3) * 0x010101u;
    table[100] = 0xFF0000;  // pure red: level 12
    std::vector<uint8_t> index(320 * 240, 1);
    for (int y = 90; y < 92; ++y)
        for (int x = 160; x < 162; ++x)
            index[std::size_t(y) * 320 + x] = 100;
    writeFile(dir.file("grey.bmp"), bmp8(index, table));

    const RunResult r = runQuorvel({"analyse", "--manual", "5", "grey.bmp"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]["peak"].toInt(), 12);
    EXPECT_EQ(out[0]["population"].toInt(), 4);
    EXPECT_EQ(at(out[0], "histogram", 1), 9996);
    EXPECT_EQ(out[0]["centroid_x"].toInt(), 50);
    EXPECT_EQ(out[0]["centroid_y"].toInt(), 20);
}

TEST_F(AnalyseCommand, BadFramesAreReportedAndTheOthersMeasured)
{
    writeFile(dir.file("small.ppm"), ppm(star, 200, 100));
    writeFile(dir.file("junk.png"), "this is not an image");
    const RunResult r =
        runQuorvel({"analyse", "small.ppm", "junk.png", "missing.bmp", "a.ppm"}, dir.path());
    EXPECT_EQ(r.exitCode, 2);
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]["file"].toString(), "a.ppm");
    EXPECT_EQ(out[0]["threshold"].toInt(), 0);  // the first frame measured
    EXPECT_NE(r.err.find("small.ppm: the frame is 200x100, frames must be 320x240"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("junk.png: cannot read"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("missing.bmp: cannot read"), std::string::npos) << r.err;

    const RunResult dark = runQuorvel({"analyse", "--dark", "small.ppm", "a.ppm"}, dir.path());
    EXPECT_EQ(dark.exitCode, 2);
    EXPECT_TRUE(dark.out.empty());
    EXPECT_NE(dark.err.find("dark frame small.ppm"), std::string::npos) << dark.err;
}

TEST_F(AnalyseCommand, BadUsage)
{
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"analyse"},
             {"analyse", "--manual", "64", "a.ppm"},
             {"analyse", "--manual", "-1", "a.ppm"},
             {"analyse", "--manual", "7x", "a.ppm"},
             {"analyse", "--region", "5", "a.ppm"},
             {"analyse", "--track", "a,b", "a.ppm"},
             {"analyse", "--bogus", "a.ppm"},
             {"analyse", "a.ppm", "--dark"}}) {
        const RunResult r = runQuorvel(args, dir.path());
        EXPECT_EQ(r.exitCode, 2) << args.size();
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_NE(r.err.find("usage: quorvel analyse"), std::string::npos) << r.err;
    }
}
