// `quorvel settings`: the file as the guider reads it, printed as JSON, and
// written back as the guider writes it at exit.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <limits>

#include "core/settings/paramsfile.h"
#include "testsupport.h"

namespace {

std::string bytesOf(const tparam& p)
{
    const auto b = encodeParams(p);
    return std::string(b.begin(), b.end());
}

QJsonObject parseLine(const std::string& out)
{
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    QJsonParseError error{};
    const auto doc = QJsonDocument::fromJson(QByteArray::fromStdString(out), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << out;
    return doc.object();
}

}  // namespace

TEST(SettingsCommand, PrintsEveryFieldExactly)
{
    TempDir dir;
    tparam p;
    p.focalLength = 1.0 / 3;
    p.pixelSize = std::numeric_limits<double>::quiet_NaN();
    p.raSpeed = std::numeric_limits<double>::infinity();
    p.decSpeed = -std::numeric_limits<double>::infinity();
    p.comPort = 7;
    p.spareLevel1 = 70000;
    p.optoWidth = -5;
    p.invertRa = 1;
    writeFile(dir.file("my.dat"), bytesOf(p));

    const RunResult r = runQuorvel({"settings", "my.dat"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const QJsonObject o = parseLine(r.out);
    EXPECT_EQ(o.size(), 18);
    EXPECT_EQ(o["focalLength"].toDouble(), 1.0 / 3);  // 17 digits give the double back
    EXPECT_EQ(o["pixelSize"].toString(), "nan");
    EXPECT_EQ(o["raSpeed"].toString(), "inf");
    EXPECT_EQ(o["decSpeed"].toString(), "-inf");
    const std::pair<const char*, int> ints[] = {
        {"comPort", 7},    {"spareLevel1", 70000}, {"interfaceType", 3}, {"optoWidth", -5},
        {"optoHeight", 120}, {"invertRa", 1},      {"invertDec", 0},     {"darkSpotGuiding", 0}};
    for (const auto& [key, value] : ints)
        EXPECT_EQ(o[key].toInt(-999), value) << key;
    EXPECT_EQ(readFile(dir.file("my.dat")), bytesOf(p));  // only read
}

TEST(SettingsCommand, RewriteSavesAsAtExit)
{
    TempDir dir;
    tparam p;
    p.spareLevel1 = 70000;
    p.spareLevel3 = -1;
    std::string bytes = bytesOf(p);
    bytes[81] = 9;  // a flag stored as 9 comes back as 1
    writeFile(dir.file("qv185.dat"), bytes + "trailing");

    RunResult r = runQuorvel({"settings", "--rewrite"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(parseLine(r.out)["invertDec"].toInt(), 1);
    p.spareLevel1 = 4464;
    p.spareLevel3 = 65535;
    p.invertDec = 1;
    EXPECT_EQ(readFile(dir.file("qv185.dat")), bytesOf(p));

    // A directory in the file's place cannot be replaced: said, exit 1.
    std::filesystem::create_directory(dir.file("sub"));
    r = runQuorvel({"settings", "sub", "--rewrite"}, dir.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("could not write sub"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("sub")));
}

TEST(SettingsCommand, BadArgumentsGiveUsage)
{
    TempDir dir;
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"settings", "a.dat", "b.dat"}, {"settings", "--rewrit"}, {"settings", "-x"}, {"settings", ""}}) {
        const RunResult r = runQuorvel(args, dir.path());
        EXPECT_EQ(r.exitCode, 2) << args.back();
        EXPECT_NE(r.err.find("usage: quorvel settings"), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}
