// The parameters dialog, driven as a user drives it: typing into the edits,
// clicking radio buttons, check boxes and buttons, choosing an output.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <tuple>

#include "app/clock.h"
#include "app/state.h"
#include "settings/paramsfile.h"
#include "settings/parawin.h"
#include "testsupport.h"

namespace {

auto fields(const tparam& p)
{
    return std::tuple(p.focalLength, p.pixelSize, p.raSpeed, p.decSpeed, p.comPort,
                      p.spareLevel1, p.spareLevel2, p.spareLevel3, p.interfaceType, p.photoUnit,
                      p.photoInterval, p.invertDec, p.invertRa, p.optoX, p.optoY, p.optoWidth,
                      p.optoHeight, p.darkSpotGuiding);
}

// A settings file as the program writes it, holding whatever values we like.
std::string settingsFile(const tparam& r)
{
    std::string b("\x3A\x01\x01\x00\x00\x02\x5B\x06\x00\x00\x00tparam\x01\x00\x00\x00", 21);
    auto d = [&](double v) { char c[8]; std::memcpy(c, &v, 8); b.append(c, 8); };
    auto i = [&](int32_t v) { char c[4]; std::memcpy(c, &v, 4); b.append(c, 4); };
    d(r.focalLength); d(r.pixelSize); d(r.raSpeed); d(r.decSpeed);
    i(r.comPort); i(r.spareLevel1); i(r.spareLevel2); i(r.spareLevel3); i(r.interfaceType);
    i(r.photoUnit); i(r.photoInterval); i(r.invertDec); i(r.invertRa);
    i(r.optoX); i(r.optoY); i(r.optoWidth); i(r.optoHeight); i(r.darkSpotGuiding);
    b += ']';
    return b;
}

class ParawinTest : public ::testing::Test {
protected:
    FakeClock clock;
    SharedState state{clock};
    std::unique_ptr<tparawin> dialog;

    tparawin& open()
    {
        dialog = std::make_unique<tparawin>(state, nullptr);
        return *dialog;
    }

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

    // Selects the whole text and types over it, as a user replaces a value.
    void type(int id, const QString& text)
    {
        QLineEdit* e = edit(id);
        QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
        if (text.isEmpty()) QTest::keyClick(e, Qt::Key_Backspace);
        else QTest::keyClicks(e, text);
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
        {"100", "5.6", "1.2"}, {"50", "10", "4.1"}, {"200", "5.6", "0.58"},
        {"-100", "5.6", "-1.2"}, {"1000", "9", "0.19"}, {"100,5", "5.6", "1.2"},
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
}

TEST_F(ParawinTest, NoFocalLengthKeepsTheScaleShown)
{
    state.params->focalLength = 0;
    open();
    EXPECT_EQ(scale(), "0");  // the template's text

    state.params->focalLength = 100;
    state.params->pixelSize = 5.6;
    for (const char* focal : {"", "0", "abc", "0.000"}) {
        open();
        ASSERT_EQ(scale(), "1.2");
        type(181, focal);
        EXPECT_EQ(scale(), "1.2") << '"' << focal << '"';
        type(182, "20");
        EXPECT_EQ(scale(), "1.2") << '"' << focal << '"';
    }
}

TEST_F(ParawinTest, OpensWithTheRecord)
{
    tparam& p = *state.params;
    p.focalLength = 123.4;
    p.pixelSize = 5.678;
    p.raSpeed = 12.0;
    p.decSpeed = 14.0;
    p.comPort = 2;
    p.interfaceType = 1;
    p.invertDec = 1;
    p.invertRa = 0;
    p.darkSpotGuiding = 2;
    open();

    EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("Paramètres"));
    EXPECT_EQ(edit(181)->text(), "123");
    EXPECT_EQ(edit(182)->text(), "5.68");
    EXPECT_EQ(edit(183)->text(), "12");
    EXPECT_EQ(edit(184)->text(), "14");
    EXPECT_EQ(scale(), "0.95");
    EXPECT_TRUE(control<QCheckBox>(157)->isChecked());
    EXPECT_FALSE(control<QCheckBox>(158)->isChecked());
    EXPECT_TRUE(control<QCheckBox>(159)->isChecked());
    EXPECT_EQ(checkedRadios(), std::vector<int>{154});
    ASSERT_EQ(list()->count(), 4);
    const char* names[] = {"Rereridu standard", "LX 200", "Meade ETX", "Diodes virtuelles"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(list()->itemText(i), names[i]);
    EXPECT_EQ(list()->currentIndex(), 1);
    EXPECT_FALSE(list()->isEditable());
}

TEST_F(ParawinTest, OkWithoutEditingKeepsThreeSignificantDigits)
{
    tparam& p = *state.params;
    p.focalLength = 123.4;
    p.pixelSize = 5.678;
    p.raSpeed = 12.0;
    p.decSpeed = 0.12345;
    open();
    click(189);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_DOUBLE_EQ(p.focalLength, 123.0);
    EXPECT_DOUBLE_EQ(p.pixelSize, 5.68);
    EXPECT_DOUBLE_EQ(p.raSpeed, 12.0);
    EXPECT_DOUBLE_EQ(p.decSpeed, 0.123);
}

TEST_F(ParawinTest, OkStoresEveryControl)
{
    tparam& p = *state.params;
    p.comPort = 0;
    p.interfaceType = 3;
    p.invertDec = 0;
    p.invertRa = 1;
    p.darkSpotGuiding = 0;
    const tparam before = p;
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
    click(189);

    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_FALSE(dialog->isVisible());
    // The controls' values, and nothing else in the record moves.
    tparam expected = before;
    expected.focalLength = 80.0;
    expected.pixelSize = 7.4;
    expected.raSpeed = 15.0;
    expected.decSpeed = 7.5;
    expected.comPort = 3;
    expected.interfaceType = 1;
    expected.invertDec = 1;
    expected.invertRa = 0;
    expected.darkSpotGuiding = 1;
    EXPECT_EQ(fields(p), fields(expected));
}

TEST_F(ParawinTest, CancelAfterEditingLeavesTheRecord)
{
    const tparam before = *state.params;
    open();
    type(181, "80");
    type(182, "7.4");
    type(183, "15");
    type(184, "7.5");
    click(153);
    click(157);
    click(159);
    choose(0);
    click(190);
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(fields(*state.params), fields(before));
}

TEST_F(ParawinTest, OnlyTheFirstFiveCharactersCount)
{
    struct Case {
        const char* typed;
        double stored;
    } cases[] = {
        {"123456", 12345.0}, {"1.2345678", 1.234}, {"  12345", 123.0}, {"5,6", 5.0},
        {"12e-34", 0.012},   {"-7.5", -7.5},       {"abc", 0.0},       {"", 0.0},
        {"1e+300", 1e30},    {"1e300", 1e300},
    };
    for (const Case& c : cases) {
        open();
        type(183, c.typed);
        EXPECT_EQ(edit(183)->text(), c.typed) << "the edit keeps all that was typed";
        click(189);
        EXPECT_DOUBLE_EQ(state.params->raSpeed, c.stored) << '"' << c.typed << '"';
    }
    // The same five-character rule feeds the image scale.
    open();
    type(182, "5.6");
    type(181, "1000999");  // reads 10009
    EXPECT_EQ(scale(), "0.012");
}

TEST_F(ParawinTest, DamagedPortAndOutputAreNeitherShownNorOverwritten)
{
    TempDir dir;
    tparam crafted;
    crafted.comPort = 7;
    crafted.interfaceType = -2;
    crafted.invertDec = 1;
    crafted.raSpeed = 3.5;
    writeFile(dir.file("qv185.dat"), settingsFile(crafted));
    loadParams(state, dir.file("qv185.dat"));
    ASSERT_EQ(state.params->comPort, 7);
    ASSERT_EQ(state.params->interfaceType, -2);

    open();
    EXPECT_TRUE(checkedRadios().empty());
    EXPECT_EQ(list()->currentIndex(), -1);
    EXPECT_EQ(list()->count(), 4);
    EXPECT_TRUE(control<QCheckBox>(157)->isChecked());
    EXPECT_EQ(edit(183)->text(), "3.5");
    click(189);
    EXPECT_EQ(state.params->comPort, 7);
    EXPECT_EQ(state.params->interfaceType, -2);
    EXPECT_EQ(state.params->raSpeed, 3.5);
    EXPECT_EQ(state.params->invertDec, 1);

    // Once the user picks a port and an output they are stored.
    open();
    click(153);
    choose(2);
    click(189);
    EXPECT_EQ(state.params->comPort, 1);
    EXPECT_EQ(state.params->interfaceType, 2);
}

TEST_F(ParawinTest, ValuesTooLongForFiveCharactersSurviveOk)
{
    struct Case {
        double value;
        const char* shown;
        double stored;
    } cases[] = {
        {0.00012, "12e-5", 0.00012}, {1.23e-5, "12e-6", 1.2e-5}, {12300000.0, "123e5", 1.23e7},
        {-0.0123, "-.012", -0.012},  {12345.0, "12300", 12300.0},
    };
    for (const Case& c : cases) {
        tparam& p = *state.params;
        p.focalLength = p.pixelSize = p.raSpeed = p.decSpeed = c.value;
        open();
        for (int id : {181, 182, 183, 184}) EXPECT_EQ(edit(id)->text(), c.shown) << c.value;
        click(189);
        for (double stored : {p.focalLength, p.pixelSize, p.raSpeed, p.decSpeed})
            EXPECT_DOUBLE_EQ(stored, c.stored) << c.value;
    }
}

TEST_F(ParawinTest, NonFiniteAndHugeValuesOpenAndClose)
{
    tparam& p = *state.params;
    p.focalLength = std::nan("");
    p.pixelSize = std::numeric_limits<double>::infinity();
    p.raSpeed = 1e300;
    p.decSpeed = -1e300;
    open();
    EXPECT_EQ(edit(181)->text(), "nan");
    EXPECT_EQ(edit(182)->text(), "inf");
    EXPECT_EQ(edit(183)->text(), "1e300");
    EXPECT_EQ(edit(184)->text(), "-9e99");
    type(182, "5.6");
    type(181, "9e999");
    EXPECT_EQ(scale(), "0");
    click(189);
    EXPECT_EQ(p.focalLength, std::numeric_limits<double>::max());
    EXPECT_EQ(p.pixelSize, 5.6);
    EXPECT_EQ(p.raSpeed, 1e300);
    EXPECT_EQ(p.decSpeed, -9e99);

    p.focalLength = std::nan("");
    p.pixelSize = -std::numeric_limits<double>::infinity();
    open();
    click(189);
    EXPECT_EQ(p.focalLength, 0.0);
    EXPECT_EQ(p.pixelSize, 0.0);
}

TEST_F(ParawinTest, OpensBesideTheMainWindow)
{
    state.mainX = 100;
    state.mainY = 50;
    open();
    EXPECT_EQ(dialog->pos(), QPoint(430, 80));
    dialog->show();
    EXPECT_EQ(dialog->pos(), QPoint(430, 80));
    EXPECT_EQ(dialog->size(), QSize(244, 392));
}

TEST_F(ParawinTest, ControlsSitAtTheTemplatePositions)
{
    struct Case {
        int id;
        QRect rect;
    } cases[] = {
        {181, {94, 12, 50, 18}},   {182, {94, 36, 50, 18}},  {184, {94, 124, 50, 18}},
        {150, {92, 60, 50, 16}},   {189, {10, 354, 80, 24}}, {190, {130, 354, 80, 24}},
        {188, {34, 222, 164, 72}}, {152, {48, 244, 56, 24}}, {155, {128, 264, 56, 24}},
        {157, {16, 152, 104, 24}}, {159, {16, 192, 208, 24}},
    };
    open();
    for (const Case& c : cases) EXPECT_EQ(dialog->control(c.id)->geometry(), c.rect) << c.id;
    QRect listRect = list()->geometry();
    EXPECT_EQ(listRect.topLeft(), QPoint(2, 318));
    EXPECT_EQ(listRect.width(), 220);
    EXPECT_LE(listRect.bottom(), 354) << "the closed list stays above the buttons";

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
}

TEST_F(ParawinTest, TabFollowsTheTemplateOrder)
{
    state.params->comPort = 1;
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
    EXPECT_EQ(state.params->focalLength, 80.0);
}

}  // namespace

namespace {

TEST_F(ParawinTest, CheckBoxesCarryTheirTextLeftOfTheBox)
{
    open();
    dialog->show();
    for (int id : {157, 158, 159}) {
        QCheckBox* box = control<QCheckBox>(id);
        const QImage clear = box->grab().toImage();
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
        ASSERT_TRUE(box->isChecked()) << id << ": a click on the text checks the box";
        const QImage checked = box->grab().toImage();
        // Checking changes only the box, at the right edge.
        int leftmostChange = checked.width();
        for (int y = 0; y < checked.height(); ++y)
            for (int x = 0; x < checked.width(); ++x)
                if (checked.pixel(x, y) != clear.pixel(x, y)) leftmostChange = std::min(leftmostChange, x);
        EXPECT_GE(leftmostChange, box->width() - 24) << id;
        // The text starts at the left edge.
        bool inkNearLeft = false;
        for (int y = 0; y < clear.height(); ++y)
            for (int x = 0; x < 12; ++x)
                if (qGray(clear.pixel(x, y)) < 100) inkNearLeft = true;
        EXPECT_TRUE(inkNearLeft) << id;
    }
}

}  // namespace
