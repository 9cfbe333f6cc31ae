// Timed photography: shot names, the interval, a series over the fake clock
// with failing shots, whole files only, and the base names refused.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <set>

#include "core/clock.h"
#include "core/photo/bmp.h"
#include "core/photo/photoseries.h"
#include "testsupport.h"

namespace {

namespace fs = std::filesystem;

std::set<std::string> filesIn(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

}  // namespace

TEST(PhotoSeries, ShotNames)
{
    const struct { const char* base; int64_t n; const char* name; } cases[] = {
        {"/d/Capture.bmp", 0, "/d/Capture 0000.bmp"},
        {"/d/Capture.bmp", 7, "/d/Capture 0007.bmp"},
        {"/d/Capture.bmp", 42, "/d/Capture 0042.bmp"},
        {"/d/Capture.bmp", 999, "/d/Capture 0999.bmp"},
        {"/d/Capture.bmp", 1000, "/d/Capture1000.bmp"},
        {"/d/Capture.bmp", 123456, "/d/Capture123456.bmp"},
        {"/d/my.dir/Capture.bmp", 0, "/d/my.dir/Capture 0000.bmp"},
        {"/d/Capture.old.bmp", 3, "/d/Capture 0003.bmp"},
        {"/d.x/Capture", 12, "/d.x/Capture 0012.bmp"},
        {"Capture.bmp", 5, "Capture 0005.bmp"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PhotoSeries::shotName(c.base, c.n), c.name) << c.base << " " << c.n;
}

TEST(PhotoSeries, IntervalFromTheEditAndUnit)
{
    const struct { const char* text; int32_t unit; int64_t ms; bool plain; } cases[] = {
        {"2", 1, 120000, true},
        {"99999", 1, 5999940000, true},  // beyond 32 bits
        {"10", 0, 10000, true},
        {"", 0, 0, false},               // a shot at every tick
        {"abc", 1, 0, false},
        {"12abc", 0, 12000, false},
        {"123456", 0, 12345000, false},  // only five characters are read
        {" 7", 0, 7000, false},
        {"-5", 1, 0, false},             // never negative
        {"3", 2, 3000, true},            // a unit only a crafted file holds: seconds
    };
    for (const auto& c : cases) {
        const IntervalField f = readIntervalField(c.text);
        EXPECT_EQ(photoIntervalToMs(f.value, c.unit), c.ms) << '"' << c.text << '"';
        EXPECT_EQ(f.plain, c.plain) << '"' << c.text << '"';
    }
    EXPECT_STREQ(photoUnitName(2), "Secondes");
}

TEST(PhotoSeries, SeriesGoesOnPastAFailedShotAndAfterItsDirectoryGoes)
{
    TempDir dir;
    FakeClock clock;
    Picture picture;
    picture.at(3, 4) = rgbWord(255, 255, 255);
    PhotoSeries series(dir.path(), [](const std::string& file, const std::vector<uint8_t>& bytes) {
        return file.ends_with(" 0001.bmp") ? ENOSPC : PhotoSeries::writeShot(file, bytes);
    });

    clock.advanceMs(5000);  // the program has run longer than one interval
    ASSERT_TRUE(series.start(2, 0).ok());
    std::vector<ShotResult> shots;
    for (int second = 0; second < 6; ++second, clock.advanceMs(1000))
        if (auto shot = series.tick(clock.nowMs(), picture.view()))
            shots.push_back(*shot);

    // Shots at 5, 7 and 9 s; the one at 7 s failed and kept its number.
    ASSERT_EQ(shots.size(), 3u);
    EXPECT_EQ(shots[1].message(),
              "shot 1 not written to " + dir.file("Capture 0001.bmp") + ": No space left on device");
    EXPECT_EQ(shots[2].file, dir.file("Capture 0002.bmp"));
    EXPECT_EQ(series.lastShotTime(), 9000);
    EXPECT_EQ(PhotoSeries::countText(shots[2].n), "N\xC2\xB0: 2");
    EXPECT_EQ(filesIn(dir.path()), (std::set<std::string>{"Capture 0000.bmp", "Capture 0002.bmp"}));
    const auto expected = photoBmp(greyCapture(picture.view()));
    EXPECT_EQ(readFile(dir.file("Capture 0002.bmp")), std::string(expected.begin(), expected.end()));

    // The directory goes away: the shot is reported, the series runs on.
    fs::remove_all(dir.path());
    clock.advanceMs(1000);
    const auto lost = series.tick(clock.nowMs(), picture.view());
    ASSERT_TRUE(lost);
    EXPECT_EQ(lost->n, 3);
    EXPECT_EQ(lost->error, ENOENT);
    EXPECT_TRUE(series.photoRunning());

    series.stop();
    clock.advanceMs(10000);
    EXPECT_FALSE(series.tick(clock.nowMs(), picture.view()));
    EXPECT_EQ(series.photoCount(), 4);
}

TEST(PhotoSeries, ShotsAreWrittenWholeOrNotAtAll)
{
    TempDir dir;
    PhotoSeries series(dir.path());
    ASSERT_TRUE(series.start(0, 0).ok());
    Picture picture;
    ASSERT_TRUE(series.tick(0, picture.view())->ok);
    EXPECT_EQ(fs::file_size(dir.file("Capture 0000.bmp")), kPhotoFileSize);

    // The disk fills up part way (a file-size limit of 1000 bytes).
    std::optional<ShotResult> cut;
    withFileSizeLimit(1000, [&] { cut = series.tick(1, picture.view()); });
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->error, EFBIG);

    // A directory where the shot goes is left alone.
    fs::create_directory(dir.file("Capture 0002.bmp"));
    EXPECT_EQ(series.tick(2, picture.view())->error, EISDIR);
    EXPECT_EQ(filesIn(dir.path()), (std::set<std::string>{"Capture 0000.bmp", "Capture 0002.bmp"}));
}

TEST(PhotoSeries, BaseNamesThatCannotBeUsed)
{
    TempDir dir;
    writeFile(dir.file("file.txt"), "x");
    fs::create_directory(dir.file("sub"));
    const std::string longDir = std::string(2100, 'a') + "/" + std::string(2100, 'b');
    const struct { std::string base; BaseProblem problem; int error; } cases[] = {
        {"", BaseProblem::Empty, 0},
        {dir.path(), BaseProblem::IsDirectory, 0},
        {"sub/", BaseProblem::IsDirectory, 0},
        {"sub/..", BaseProblem::IsDirectory, 0},
        {"sub/.bmp", BaseProblem::NoFileName, 0},
        {"missing/Capture.bmp", BaseProblem::NoDirectory, ENOENT},
        {"file.txt/Capture.bmp", BaseProblem::NoDirectory, ENOTDIR},
        {longDir + "/Capture.bmp", BaseProblem::PathTooLong, 0},
        {std::string(247, 'n') + ".bmp", BaseProblem::NameTooLong, 0},  // 256 with " 0000.bmp"
        {std::string(246, 'n') + ".bmp", BaseProblem::None, 0},
        {"sub/Capture.bmp", BaseProblem::None, 0},
    };
    for (const auto& c : cases) {
        const BaseCheck check = checkPhotoBase(c.base, dir.path());
        EXPECT_EQ(check.problem, c.problem) << c.base.substr(0, 40);
        EXPECT_EQ(check.error, c.error) << c.base.substr(0, 40);
        EXPECT_EQ(baseCheckMessage(check, Language::French).empty(), check.ok());
    }

    // A refused name leaves the series as it was.
    PhotoSeries series(dir.path());
    const BaseCheck refused = series.start(1, 0, std::string("missing/Capture.bmp"));
    EXPECT_EQ(baseCheckMessage(refused, Language::English),
              "directory " + dir.file("missing") + " cannot be used: No such file or directory");
    EXPECT_FALSE(series.photoRunning());
    EXPECT_EQ(series.photoPath(), dir.file("Capture.bmp"));
    EXPECT_TRUE(series.photoPathIsDefault());

    // A name that is taken becomes absolute; a second series would replace
    // the shots of the first.
    EXPECT_FALSE(series.start(1, 0, std::string("sub/Capture.bmp")).replacesShots);
    EXPECT_EQ(series.photoPath(), dir.file("sub/Capture.bmp"));
    EXPECT_FALSE(series.photoPathIsDefault());
    writeFile(dir.file("sub/Capture 0000.bmp"), "old");
    EXPECT_TRUE(checkPhotoBase("sub/Capture.bmp", dir.path()).replacesShots);
}
