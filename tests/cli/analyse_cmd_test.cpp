// `quorvel analyse` end to end: frames written as files, measured by the
// executable, read back as JSON lines.
#include <gtest/gtest.h>

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "core/settings/paramsfile.h"
#include "testsupport.h"

namespace {

// Background level 2 (grey 4L + 3 reads back as level L) with a 3 x 3 star
// of level 60 at (140, 80): region columns 30..32, rows 10..12.
QImage frame(int w = 320, int h = 240)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(qRgb(11, 11, 11));
    for (int y = 80; y < 83; ++y)
        for (int x = 140; x < 143; ++x)
            if (img.valid(x, y))
                img.setPixel(x, y, qRgb(243, 243, 243));
    return img;
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

// Expected values by key, "rows[10]" naming an array entry.
using Fields = std::vector<std::pair<std::string, int>>;

void expectFields(const QJsonObject& o, const Fields& fields)
{
    for (const auto& [key, expected] : fields) {
        const auto bracket = key.find('[');
        const QJsonValue v = bracket == std::string::npos
                                 ? o[QString::fromStdString(key)]
                                 : o[QString::fromStdString(key.substr(0, bracket))].toArray()[std::stoi(
                                       key.substr(bracket + 1))];
        EXPECT_EQ(v.toInt(-1), expected) << key;
    }
}

class AnalyseCommand : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override { ASSERT_TRUE(frame().save(QString::fromStdString(dir.file("a.ppm")), "PPM")); }
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
    for (const auto& o : out) {
        EXPECT_EQ(o.keys(), (QStringList{"centroid_x", "centroid_y", "columns", "file", "histogram", "peak",
                                         "population", "rows", "threshold"}));
        EXPECT_EQ(o["file"].toString(), "a.ppm");
        EXPECT_EQ(o["histogram"].toArray().size(), 64);
        EXPECT_EQ(o["columns"].toArray().size(), 100);
        EXPECT_EQ(o["rows"].toArray().size(), 100);
        expectFields(o, {{"histogram[2]", 9991}, {"histogram[60]", 9}, {"peak", 60}});
    }
    // First frame: automatic threshold 0, every pixel a star pixel. The
    // second takes its threshold from the first one's peak.
    expectFields(out[0], {{"threshold", 0}, {"population", 10000}});
    expectFields(out[1], {{"threshold", 53}, {"population", 9}, {"centroid_x", 31}, {"centroid_y", 11},
                          {"columns[30]", 3}, {"rows[10]", 3}, {"rows[88]", 0}});  // rows[0]: the top row
    EXPECT_EQ(readFile(dir.file("qv185.dat")), std::string(bytes.begin(), bytes.end()));
}

TEST_F(AnalyseCommand, OptionsShapeTheMeasurement)
{
    const struct {
        std::vector<std::string> args;
        Fields fields;
    } cases[] = {
        {{"--region", "130,75", "--manual", "30"},  // star peak on row 5: near the edge
         {{"threshold", 30}, {"population", 9}, {"centroid_x", 11}, {"centroid_y", 5}}},
        {{"--manual", "63"}, {{"threshold", 63}, {"population", 0}}},
        {{"--dark", "a.ppm"}, {{"peak", 0}, {"histogram[0]", 10000}}},
        {{"--dark-spot"}, {{"histogram[61]", 9991}, {"histogram[3]", 9}}},
        {{"--track", "200,150"}, {{"centroid_x", 90}, {"centroid_y", 80}}},  // 10,000 star pixels: gated
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        std::vector<std::string> args = {"analyse"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back("a.ppm");
        const RunResult r = runQuorvel(args, dir.path());
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto out = lines(r.out);
        ASSERT_EQ(out.size(), 1u);
        expectFields(out[0], c.fields);
    }
}

TEST_F(AnalyseCommand, GreyBmpReadsThroughItsColourTable)
{
    QImage indexed(320, 240, QImage::Format_Indexed8);
    QList<QRgb> table(256, qRgb(0, 0, 0));
    for (int i = 0; i < 64; ++i)
        table[i] = qRgb(4 * i + 3, 4 * i + 3, 4 * i + 3);
    table[100] = qRgb(255, 0, 0);  // pure red: level 12
    indexed.setColorTable(table);
    indexed.fill(1);
    for (int y = 90; y < 92; ++y)
        for (int x = 160; x < 162; ++x)
            indexed.setPixel(x, y, 100);
    ASSERT_TRUE(indexed.save(QString::fromStdString(dir.file("grey.bmp")), "BMP"));
    ASSERT_EQ(readFile(dir.file("grey.bmp"))[28], 8);  // 8 bits a pixel

    const RunResult r = runQuorvel({"analyse", "--manual", "5", "grey.bmp"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 1u);
    expectFields(out[0], {{"peak", 12}, {"population", 4}, {"histogram[1]", 9996}, {"centroid_x", 50},
                          {"centroid_y", 20}});
}

TEST_F(AnalyseCommand, BadFramesAreReportedAndTheOthersMeasured)
{
    ASSERT_TRUE(frame(200, 100).save(QString::fromStdString(dir.file("small.ppm")), "PPM"));
    writeFile(dir.file("junk.png"), "this is not an image");
    const RunResult r =
        runQuorvel({"analyse", "small.ppm", "junk.png", "missing.bmp", "a.ppm"}, dir.path());
    EXPECT_EQ(r.exitCode, 2);
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]["file"].toString(), "a.ppm");
    EXPECT_EQ(out[0]["threshold"].toInt(), 0);  // the first frame measured
    for (const char* message : {"small.ppm: the frame is 200x100, frames must be 320x240",
                                "junk.png: cannot read", "missing.bmp: cannot read"})
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;

    const RunResult dark = runQuorvel({"analyse", "--dark", "small.ppm", "a.ppm"}, dir.path());
    EXPECT_EQ(dark.exitCode, 2);
    EXPECT_TRUE(dark.out.empty());
    EXPECT_NE(dark.err.find("dark frame small.ppm"), std::string::npos) << dark.err;
}

// File names are bytes: a Latin-1 name is opened as it is, and its line is
// still valid JSON.
TEST_F(AnalyseCommand, FrameNamesThatAreNotUtf8)
{
    const std::string latin1 = "l\xe9vrier.ppm", utf8 = "\xc3\xa9t\xc3\xa9.ppm";
    for (const auto& name : {latin1, utf8})
        std::filesystem::copy_file(dir.file("a.ppm"), dir.file(name));
    // Through the shell: a QProcess argument cannot carry a byte that is not UTF-8.
    const std::string command =
        "cd '" + dir.path() + "' && '" QUORVEL_BIN "' analyse '" + latin1 + "' '" + utf8 + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        out.append(buf, n);
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    const auto o = lines(out);
    ASSERT_EQ(o.size(), 2u);
    EXPECT_EQ(o[0]["file"].toString(), QString::fromUtf8("l\uFFFDvrier.ppm"));
    EXPECT_EQ(o[1]["file"].toString(), QString::fromUtf8("\u00e9t\u00e9.ppm"));
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
