// The parameters dialog, driven as a user drives it: typing into the edits,
// clicking radio buttons, check boxes and buttons, choosing an output.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <tuple>

#include "core/state.h"
#include "ui/parawin.h"

namespace {

auto fields(const tparam& p)
{
    return std::tuple(p.focalLength, p.pixelSize, p.raSpeed, p.decSpeed, p.comPort,
                      p.spareLevel1, p.spareLevel2, p.spareLevel3, p.interfaceType, p.photoUnit,
                      p.photoInterval, p.invertDec, p.invertRa, p.optoX, p.optoY, p.optoWidth,
                      p.optoHeight, p.darkSpotGuiding);
}

class ParawinTest : public ::testing::Test {
protected:
    FakeClock clock;
    SharedState state{clock};
    tparam& p = *state.params;
    std::unique_ptr<tparawin> dialog;

    void open() { dialog = std::make_unique<tparawin>(state, nullptr); }

    template <class W>
    W* control(int id)
    {
        W* w = qobject_cast<W*>(dialog->control(id));
        if (!w) throw std::runtime_error("no control " + std::to_string(id) + " of that kind");
        return w;
    }
    QLineEdit* edit(int id) { return control<QLineEdit>(id); }
    QString scale() { return control<QLabel>(150)->text(); }
    QComboBox* list() { return control<QComboBox>(156); }
    bool checked(int id) { return control<QCheckBox>(id)->isChecked(); }

    // Selects the whole text and types over it, as a user replaces a value.
    void type(int id, const QString& text)
    {
        QTest::keyClick(edit(id), Qt::Key_A, Qt::ControlModifier);
        if (text.isEmpty()) QTest::keyClick(edit(id), Qt::Key_Backspace);
        else QTest::keyClicks(edit(id), text);
    }
    void click(int id) { QTest::mouseClick(dialog->control(id), Qt::LeftButton); }
    // Walks the closed drop-down list with the arrow keys to this entry.
    void choose(int entry)
    {
        QComboBox* c = list();
        for (int step = 0; step < 8 && c->currentIndex() != entry; ++step)
            QTest::keyClick(c, c->currentIndex() < entry ? Qt::Key_Down : Qt::Key_Up);
        ASSERT_EQ(c->currentIndex(), entry);
    }
    std::vector<int> checkedRadios()
    {
        std::vector<int> ids;
        for (int id = 152; id <= 155; ++id)
            if (control<QRadioButton>(id)->isChecked()) ids.push_back(id);
        return ids;
    }
};

TEST_F(ParawinTest, ShowsTheImageScaleOfFocalLengthAndPixelSize)
{
    struct Case {
        const char* focal;
        const char* pixel;
        const char* scale;
    } cases[] = {
        {"100", "5.6", "1.2"},   {"50", "10", "4.1"},    {"200", "5.6", "0.58"},
        {"-100", "5.6", "-1.2"}, {"100,5", "5.6", "1.2"},
        {"1000999", "5.6", "0.012"},  // only five characters count: 10009
    };
    for (const Case& c : cases) {
        open();
        type(181, c.focal);
        type(182, c.pixel);
        EXPECT_EQ(scale(), c.scale) << c.focal << " cm, " << c.pixel << " um";
        // The speeds have nothing to do with the scale.
        type(183, "3");
        type(184, "1e3");
        EXPECT_EQ(scale(), c.scale) << "after typing the speeds";
    }

    // A focal length of zero leaves the scale shown as it was.
    p.focalLength = 0;
    open();
    EXPECT_EQ(scale(), "0");  // the text the dialog opens with
    p.focalLength = 100;
    p.pixelSize = 5.6;
    for (const char* focal : {"", "0", "abc"}) {
        open();
        ASSERT_EQ(scale(), "1.2");
        type(181, focal);
        type(182, "20");
        EXPECT_EQ(scale(), "1.2") << '"' << focal << '"';
    }
}

TEST_F(ParawinTest, OpensWithTheRecordAndOkKeepsThreeSignificantDigits)
{
    p.focalLength = 123.4;
    p.pixelSize = 5.678;
    p.raSpeed = 12.0;
    p.decSpeed = 14.0;
    p.comPort = 2;
    p.interfaceType = 1;
    p.invertDec = 1;
    p.invertRa = 0;
    p.darkSpotGuiding = 2;
    state.mainX = 100;
    state.mainY = 50;
    open();
    dialog->show();
    EXPECT_EQ(dialog->pos(), QPoint(430, 80));
    EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("Paramètres"));
    EXPECT_EQ(edit(181)->text(), "123");
    EXPECT_EQ(edit(182)->text(), "5.68");
    EXPECT_EQ(edit(183)->text(), "12");
    EXPECT_EQ(edit(184)->text(), "14");
    EXPECT_EQ(scale(), "0.95");
    EXPECT_TRUE(checked(157));
    EXPECT_FALSE(checked(158));
    EXPECT_TRUE(checked(159));
    EXPECT_EQ(checkedRadios(), std::vector<int>{154});
    QStringList names;
    for (int i = 0; i < list()->count(); ++i) names << list()->itemText(i);
    EXPECT_EQ(names, QStringList({"Rereridu standard", "LX 200", "Meade ETX", "Diodes virtuelles", "INDI (monture)"}));
    EXPECT_EQ(list()->currentIndex(), 1);
    EXPECT_FALSE(list()->isEditable());

    click(189);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_DOUBLE_EQ(p.focalLength, 123.0);
    EXPECT_DOUBLE_EQ(p.pixelSize, 5.68);
    EXPECT_EQ(p.raSpeed, 12.0);
    EXPECT_EQ(p.darkSpotGuiding, 1);
}

TEST_F(ParawinTest, OkStoresEveryControlAndCancelNothing)
{
    p.comPort = 0;
    p.interfaceType = 3;
    p.invertRa = 1;
    const tparam before = p;
    for (bool ok : {false, true}) {
        open();
        type(181, "80");
        type(182, "7.4");
        type(183, "15");
        type(184, "7.5");
        click(155);
        click(157);
        click(158);
        click(159);
        choose(1);
        EXPECT_EQ(checkedRadios(), std::vector<int>{155});
        click(ok ? 189 : 190);
        EXPECT_EQ(dialog->result(), ok ? QDialog::Accepted : QDialog::Rejected);
        tparam expected = before;
        if (ok) {
            // The controls' values, and nothing else in the record moves.
            std::tie(expected.focalLength, expected.pixelSize, expected.raSpeed, expected.decSpeed) =
                std::tuple(80.0, 7.4, 15.0, 7.5);
            expected.comPort = 3;
            expected.interfaceType = 1;
            expected.invertDec = 1;
            expected.invertRa = 0;
            expected.darkSpotGuiding = 1;
        }
        EXPECT_EQ(fields(p), fields(expected)) << (ok ? "OK" : "Cancel");
    }
}

TEST_F(ParawinTest, OnlyTheFirstFiveCharactersCount)
{
    struct Case {
        const char* typed;
        double stored;
    } cases[] = {
        {"123456", 12345.0}, {"1.2345678", 1.234}, {"  12345", 123.0}, {"5,6", 5.0},
        {"12e-34", 0.012},   {"-7.5", -7.5},       {"abc", 0.0},       {"", 0.0},
        {"1e+300", 1e30},    {"1e300", 1e300},     {"9e999", std::numeric_limits<double>::max()},
    };
    for (const Case& c : cases) {
        open();
        type(183, c.typed);
        EXPECT_EQ(edit(183)->text(), c.typed) << "the edit keeps all that was typed";
        click(189);
        EXPECT_DOUBLE_EQ(p.raSpeed, c.stored) << '"' << c.typed << '"';
    }
}

// A damaged settings file may hold a port outside 0..3 or an output outside 0..4: nothing
// is selected and OK keeps them, until the user picks a port and an output.
TEST_F(ParawinTest, DamagedPortAndOutputAreNeitherShownNorOverwritten)
{
    p.comPort = 7;
    p.interfaceType = -2;
    open();
    EXPECT_TRUE(checkedRadios().empty());
    EXPECT_EQ(list()->currentIndex(), -1);
    EXPECT_EQ(list()->count(), 5);
    click(189);
    EXPECT_EQ(p.comPort, 7);
    EXPECT_EQ(p.interfaceType, -2);

    open();
    click(153);
    choose(2);
    click(189);
    EXPECT_EQ(p.comPort, 1);
    EXPECT_EQ(p.interfaceType, 2);
}

// Values whose "%.3g" text is longer than five characters, and values only a
// damaged file holds, survive OK with their sign and order of magnitude;
// infinities and NaN come back as 0.
TEST_F(ParawinTest, ValuesTooLongForFiveCharactersSurviveOk)
{
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double value;
        const char* shown;
        double stored;
    } cases[] = {
        {0.00012, "12e-5", 0.00012}, {1.23e-5, "12e-6", 1.2e-5}, {12300000.0, "123e5", 1.23e7},
        {-0.0123, "-.012", -0.012},  {12345.0, "12300", 12300.0}, {1e300, "1e300", 1e300},
        {-1e300, "-9e99", -9e99},    {std::nan(""), "nan", 0.0}, {-inf, "-inf", 0.0},
    };
    for (const Case& c : cases) {
        p.focalLength = p.pixelSize = p.raSpeed = p.decSpeed = c.value;
        open();
        for (int id : {181, 182, 183, 184}) EXPECT_EQ(edit(id)->text(), c.shown) << c.value;
        click(189);
        for (double stored : {p.focalLength, p.pixelSize, p.raSpeed, p.decSpeed})
            EXPECT_DOUBLE_EQ(stored, c.stored) << c.value;
    }
}

TEST_F(ParawinTest, LayoutKeepsEveryTextVisible)
{
    open();
    EXPECT_EQ(dialog->control(181)->geometry(), QRect(94, 12, 50, 18));
    EXPECT_EQ(dialog->control(189)->geometry(), QRect(10, 354, 80, 24));
    EXPECT_LE(list()->geometry().bottom(), 354) << "the closed list stays above the buttons";

    // Every text fits its box in the dialog's font: labels whole, the texts of
    // radio buttons and check boxes beside their indicators.
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        EXPECT_LE(label->sizeHint().width(), label->width()) << label->objectName().toStdString();
        EXPECT_LE(label->sizeHint().height(), label->height()) << label->objectName().toStdString();
    }
    for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>()) {
        QStyleOptionButton option;
        option.initFrom(b);
        QStyle::SubElement contents = qobject_cast<QRadioButton*>(b) ? QStyle::SE_RadioButtonContents
                                      : qobject_cast<QCheckBox*>(b)  ? QStyle::SE_CheckBoxContents
                                                                     : QStyle::SE_PushButtonContents;
        QRect room = b->style()->subElementRect(contents, &option, b);
        EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()), room.width())
            << b->objectName().toStdString();
        EXPECT_LE(b->fontMetrics().height(), room.height()) << b->objectName().toStdString();
    }

    // The two black frames are drawn round the optics and the speeds.
    dialog->show();
    QImage shot = dialog->grab().toImage();
    for (QPoint corner : {QPoint(12, 8), QPoint(231, 83), QPoint(12, 88), QPoint(231, 183)})
        EXPECT_EQ(shot.pixelColor(corner), QColor(Qt::black)) << corner.x() << "," << corner.y();
    EXPECT_NE(shot.pixelColor(14, 30), QColor(Qt::black));

    // The check boxes carry their text at the left edge and the box at the
    // right: a click on the text checks the box, which alone changes.
    for (int id : {157, 158, 159}) {
        QCheckBox* box = control<QCheckBox>(id);
        const QImage clear = box->grab().toImage();
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
        ASSERT_TRUE(box->isChecked()) << id;
        const QImage ticked = box->grab().toImage();
        int leftmostChange = ticked.width();
        bool inkNearLeft = false;
        for (int y = 0; y < ticked.height(); ++y)
            for (int x = 0; x < ticked.width(); ++x) {
                if (ticked.pixel(x, y) != clear.pixel(x, y)) leftmostChange = std::min(leftmostChange, x);
                if (x < 12 && qGray(clear.pixel(x, y)) < 100) inkNearLeft = true;
            }
        EXPECT_GE(leftmostChange, box->width() - 24) << id;
        EXPECT_TRUE(inkNearLeft) << id;
    }
}

TEST_F(ParawinTest, TabFollowsTheTemplateOrder)
{
    p.comPort = 1;
    open();
    dialog->show();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    std::vector<std::string> order;
    for (int i = 0; i < 12; ++i) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        order.push_back(focus->objectName().toStdString());
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    const std::vector<std::string> expected = {
        "edit182", "edit183", "edit184", "edit181", "button190", "button189",
        "radio153", "list156", "check157", "check158", "check159", "edit182"};
    EXPECT_EQ(order, expected);
}

TEST_F(ParawinTest, EnterInAnEditRunsOkOfTheModalDialog)
{
    open();
    QTimer::singleShot(0, dialog.get(), [this] {
        type(181, "80");
        QTest::keyClick(edit(181), Qt::Key_Return);
    });
    // Never let a broken dialog hang the test.
    QTimer::singleShot(10000, dialog.get(), [this] { dialog->done(-1); });
    EXPECT_EQ(dialog->exec(), QDialog::Accepted);
    EXPECT_EQ(p.focalLength, 80.0);
}

}  // namespace
