// `quorvel settings`: the file as the guider reads it, printed as JSON, and
// written back as the guider writes it at exit.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <limits>

#include "settings/paramsfile.h"
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
    p.focalLength = 0.1;
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
    EXPECT_EQ(o["focalLength"].toDouble(), 0.1);  // 17 digits give the double back
    EXPECT_EQ(o["pixelSize"].toString(), "nan");
    EXPECT_EQ(o["raSpeed"].toString(), "inf");
    EXPECT_EQ(o["decSpeed"].toString(), "-inf");
    EXPECT_EQ(o["comPort"].toInt(), 7);
    EXPECT_EQ(o["spareLevel1"].toInt(), 70000);
    EXPECT_EQ(o["interfaceType"].toInt(), 3);
    EXPECT_EQ(o["optoWidth"].toInt(), -5);
    EXPECT_EQ(o["optoHeight"].toInt(), 120);
    EXPECT_EQ(o["invertRa"].toInt(), 1);
    EXPECT_EQ(o["invertDec"].toInt(), 0);
    EXPECT_EQ(o["darkSpotGuiding"].toInt(), 0);
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

    // No file: the defaults are shown and, on rewrite, written.
    r = runQuorvel({"settings", "fresh.dat"}, dir.path());
    EXPECT_EQ(parseLine(r.out)["raSpeed"].toDouble(), 12.0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("fresh.dat")));
    r = runQuorvel({"settings", "--rewrite", "fresh.dat"}, dir.path());
    EXPECT_EQ(readFile(dir.file("fresh.dat")), bytesOf(tparam{}));

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
