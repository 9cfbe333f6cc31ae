// Timed photography as a user meets it: the "Prise de vue" dialog's idle and
// running states through its controls, "Parcourir", a name that cannot be
// used, the shots of the panel's timer, and a shot read back by Qt's image
// reader the right way up.
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "core/photo/bmp.h"
#include "core/photo/photoseries.h"
#include "core/state.h"
#include "testsupport.h"
#include "ui/messagebox_qt.h"
#include "ui/photowin.h"

namespace {

class PhotoDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::current_path(dir_.path());
        setMessageBoxObserver([this](const QString& c, const QString& t) {
            messages.push_back((c + ": " + t).toStdString());
        });
    }
    void TearDown() override
    {
        setMessageBoxObserver({});
        std::filesystem::current_path(oldCwd_);
    }

    template <class T>
    T* control(tphotowin& d, int id) { return qobject_cast<T*>(d.control(id)); }

    // Runs the dialog modally and lets `act` press its buttons once it shows.
    int run(tphotowin& d, const std::function<void()>& act)
    {
        QTimer::singleShot(0, act);
        return d.exec();
    }

    TempDir dir_;
    std::filesystem::path oldCwd_ = std::filesystem::current_path();
    FakeClock clock;
    SharedState state{clock};
    std::vector<std::string> messages;
};

}  // namespace

TEST_F(PhotoDialogTest, IdleThenRunningThenStoppedThroughTheControls)
{
    PhotoSeries series(dir_.path());
    {
        tphotowin d(state, series, nullptr);
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Prise de vue"));
        EXPECT_EQ(d.size(), QSize(320, 120));
        EXPECT_EQ(control<QPushButton>(d, 306)->text(), QStringLiteral("Commencer"));
        EXPECT_EQ(control<QLineEdit>(d, 303)->text(), QStringLiteral("Capture.bmp"));
        EXPECT_EQ(control<QLineEdit>(d, 301)->text(), QStringLiteral("10"));
        QComboBox* unit = control<QComboBox>(d, 302);
        ASSERT_EQ(unit->count(), 2);
        EXPECT_EQ(unit->itemText(1), QStringLiteral("Minutes "));
        EXPECT_TRUE(control<QLabel>(d, 320)->isHidden());
        EXPECT_TRUE(control<QLabel>(d, 321)->isHidden());
        EXPECT_FALSE(control<QPushButton>(d, 304)->isHidden());

        // "Commencer" with 2 minutes: running, 120,000 ms, the settings kept.
        control<QLineEdit>(d, 301)->setText(QStringLiteral("2"));
        unit->setCurrentIndex(1);
        EXPECT_EQ(run(d, [&] { control<QPushButton>(d, 306)->click(); }), QDialog::Accepted);
    }
    EXPECT_TRUE(series.photoRunning());
    EXPECT_EQ(series.photoIntervalMs(), 120000);
    EXPECT_EQ(series.photoPath(), dir_.path() + "/Capture.bmp");
    EXPECT_EQ(state.params->photoInterval, 2);
    EXPECT_EQ(state.params->photoUnit, 1);

    // Reopened while running: "Stop", the unit and the next shot's number;
    // "Annuler" leaves the series running.
    {
        tphotowin d(state, series, nullptr);
        EXPECT_EQ(control<QPushButton>(d, 306)->text(), QStringLiteral("Stop"));
        EXPECT_EQ(control<QLabel>(d, 320)->text(), QStringLiteral("Minutes "));
        EXPECT_EQ(control<QLabel>(d, 321)->text(), QStringLiteral("N°: 0"));
        EXPECT_TRUE(control<QComboBox>(d, 302)->isHidden());
        EXPECT_TRUE(control<QPushButton>(d, 304)->isHidden());
        EXPECT_TRUE(control<QLineEdit>(d, 301)->isReadOnly());
        EXPECT_TRUE(control<QLineEdit>(d, 303)->isReadOnly());
        // A shot that failed shows its number in red.
        d.UpdatePhotoTexts(12, true, "No space left on device");
        EXPECT_EQ(control<QLabel>(d, 321)->text(), QStringLiteral("N°: 12"));
        EXPECT_TRUE(control<QLabel>(d, 321)->styleSheet().contains("255, 0, 0"));
        run(d, [&] { control<QPushButton>(d, 305)->click(); });
    }
    EXPECT_TRUE(series.photoRunning());
    {
        tphotowin d(state, series, nullptr);
        run(d, [&] { control<QPushButton>(d, 306)->click(); });
    }
    EXPECT_FALSE(series.photoRunning());
    EXPECT_TRUE(messages.empty());
}

TEST_F(PhotoDialogTest, BrowseChoosesTheBaseAndAnUnusableNameIsRefused)
{
    PhotoSeries series(dir_.path());
    std::filesystem::create_directory(dir_.file("my.dir"));
    tphotowin d(state, series, nullptr);
    QString proposed;
    // Cancelled: the name stays.
    d.chooseFile = [&](const QString& p) -> std::optional<QString> {
        proposed = p;
        return std::nullopt;
    };
    control<QPushButton>(d, 304)->click();
    EXPECT_EQ(proposed.toStdString(), dir_.path() + "/Capture.bmp");
    EXPECT_EQ(control<QLineEdit>(d, 303)->text(), QStringLiteral("Capture.bmp"));

    // A directory that does not exist: refused with a message, not started.
    d.chooseFile = [&](const QString&) -> std::optional<QString> {
        return QString::fromStdString(dir_.file("gone/Night.bmp"));
    };
    control<QPushButton>(d, 304)->click();
    EXPECT_EQ(control<QLineEdit>(d, 303)->text(), QStringLiteral("Night.bmp"));
    run(d, [&] {
        control<QPushButton>(d, 306)->click();
        if (d.isVisible())
            d.reject();
    });
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Prise de vue: ", 0), 0u);
    EXPECT_FALSE(series.photoRunning());

    // A dot in the directory's name: the series takes the chosen name.
    d.chooseFile = [&](const QString&) -> std::optional<QString> {
        return QString::fromStdString(dir_.file("my.dir/Capture.bmp"));
    };
    control<QPushButton>(d, 304)->click();
    run(d, [&] { control<QPushButton>(d, 306)->click(); });
    EXPECT_TRUE(series.photoRunning());
    EXPECT_EQ(PhotoSeries::shotName(series.photoPath(), 0), dir_.file("my.dir/Capture 0000.bmp"));
}

// A shot read back by Qt's own reader: 320 x 240, 8-bit, the grey levels
// through the colour table, and the top row on top.
TEST(PhotoFile, ReadByQtRightWayUp)
{
    Picture picture;
    picture.fill(0x000000);
    for (int x = 0; x < Picture::width; ++x)
        picture.at(x, 0) = rgbWord(255, 255, 255);  // level 63 along the top
    picture.at(10, 200) = rgbWord(80, 80, 80);        // level 20
    const std::vector<uint8_t> bytes = photoBmp(greyCapture(picture.view()));
    ASSERT_EQ(bytes.size(), 77882u);
    QImage image;
    ASSERT_TRUE(image.loadFromData(bytes.data(), int(bytes.size()), "BMP"));
    EXPECT_EQ(image.size(), QSize(320, 240));
    EXPECT_EQ(image.format(), QImage::Format_Indexed8);
    EXPECT_EQ(qGray(image.pixel(5, 0)), 252);   // 4 x 63
    EXPECT_EQ(qGray(image.pixel(5, 239)), 0);
    EXPECT_EQ(qGray(image.pixel(10, 200)), 80);  // 4 x 20
}
