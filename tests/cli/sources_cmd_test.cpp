// `quorvel sources` and `quorvel grab` as a user runs them, without a display.
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "testsupport.h"

namespace {

const std::vector<std::string> kNoDisplay = {"QT_QPA_PLATFORM=none", "QUORVEL_SKY=noise=0,seeing=0"};


}  // namespace

TEST(SourcesAndGrab, NineEntriesThenFramesOfTheSky)
{
    TempDir dir;
    const RunResult listed = runQuorvel({"sources"}, dir.path(), kNoDisplay);
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    const std::vector<QJsonObject> entries = jsonLines(listed.out);
    ASSERT_EQ(entries.size(), 9u);
    int sky = -1;
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(entries[i].value("index").toInt(), i);
        const QJsonValue device = entries[i].value("device");
        EXPECT_TRUE(device.isNull() || device.toString().startsWith("/dev/video")) << i;
        if (entries[i].value("name").toString() == QStringLiteral("Ciel simulé"))
            sky = i;
    }
    ASSERT_GE(sky, 0);
    EXPECT_EQ(entries[8].value("name").toString() == QStringLiteral("(aucun)"), sky < 8);

    const RunResult grabbed = runQuorvel({"grab", "--source", std::to_string(sky), "--count", "2", "--every", "100",
                                          "frame%d.png"}, dir.path(), kNoDisplay);
    ASSERT_EQ(grabbed.exitCode, 0) << grabbed.err;
    const std::vector<QJsonObject> frames = jsonLines(grabbed.out);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].value("file").toString(), "frame1.png");
    EXPECT_GE(frames[1].value("t_ms").toDouble() - frames[0].value("t_ms").toDouble(), 99.0);
    const QImage image(QString::fromStdString(dir.file("frame1.png")));
    ASSERT_EQ(image.size(), QSize(320, 240));
    EXPECT_GT(qGray(image.pixel(160, 120)), 200);  // the guide star where the sky puts it
    EXPECT_LT(qGray(image.pixel(40, 40)), 60);      // dark sky

    // An entry that refuses: its name and cause, no file.
    if (sky < 8) {
        const RunResult refused = runQuorvel({"grab", "--source", "8", "none.png"}, dir.path(), kNoDisplay);
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_NE(refused.err.find("entry 8 ((aucun))"), std::string::npos) << refused.err;
        EXPECT_TRUE(readFile(dir.file("none.png")).empty());
    }
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"grab"}, {"grab", "--count", "2", "same.png"}, {"grab", "x.nope"}, {"grab", "--source", "9", "a.png"},
             {"grab", "--every", "-1", "a.png"}, {"sources", "extra"}}) {
        const RunResult r = runQuorvel(bad, dir.path(), kNoDisplay);
        EXPECT_EQ(r.exitCode, 2) << bad.back();
        EXPECT_NE(r.err.find("usage: quorvel"), std::string::npos) << r.err;
    }
}
