// Number texts of the parameters dialog: "%.<n>g" formatting, the reading of
// typed texts, and the five-character texts the edits show.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cmath>
#include <limits>
#include <string>

#include "core/settings/numbertext.h"
#include "testsupport.h"

using numbertext::editText;
using numbertext::formatSignificant;
using numbertext::readNumber;

namespace {
const double kInf = std::numeric_limits<double>::infinity();
const double kMax = std::numeric_limits<double>::max();
}  // namespace

TEST(NumberText, FormatsWithSignificantDigitsAsPrintfG)
{
    struct Case {
        double value;
        int digits;
        const char* text;
    } cases[] = {
        {123.4, 3, "123"},        {12.0, 3, "12"},           {5.6, 3, "5.6"},
        {5.678, 3, "5.68"},       {1000.0, 3, "1e+03"},      {999.5, 3, "1e+03"},
        {99.95, 3, "100"},        {0.0001, 3, "0.0001"},     {0.00012, 3, "0.00012"},
        {1.234e-5, 3, "1.23e-05"}, {12300000.0, 3, "1.23e+07"}, {-0.0123, 3, "-0.0123"},
        {0.0, 3, "0"},            {1e100, 3, "1e+100"},      {1.1547, 2, "1.2"},
        {4.125, 2, "4.1"},        {0.5775, 2, "0.58"},       {-1.1547, 2, "-1.2"},
        {25.0, 2, "25"},          {250.0, 2, "2.5e+02"},     {kInf, 3, "inf"},
        {-kInf, 2, "-inf"},       {std::nan(""), 3, "nan"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(formatSignificant(c.value, c.digits), c.text) << c.value << " with " << c.digits;
}

TEST(NumberText, ReadsTheNumberAtTheStartOfTheText)
{
    struct Case {
        const char* text;
        double value;
    } cases[] = {
        {"5.6", 5.6},     {"5,6", 5.0},      {"  12", 12.0},   {"\t\n3", 3.0},
        {"-100", -100.0}, {"+7", 7.0},       {".5", 0.5},      {"5.", 5.0},
        {"1e3", 1000.0},  {"1E3", 1000.0},   {"1e-2", 0.01},   {"2.5e+1", 25.0},
        {"1e", 1.0},      {"1e+", 1.0},      {"1.5e3x", 1500.0}, {"12abc", 12.0},
        {"12 3", 12.0},   {"00123", 123.0},  {"", 0.0},        {"abc", 0.0},
        {"-", 0.0},       {".", 0.0},        {"-.e5", 0.0},    {" - 3", 0.0},
        {"inf", 0.0},     {"nan", 0.0},      {"0x1p3", 0.0},   {"12e-5", 0.00012},
        {"9e999", kMax},  {"-9e999", -kMax}, {"1e-999", 0.0},  {"0.0001e-400", 0.0},
    };
    for (const Case& c : cases) EXPECT_EQ(readNumber(c.text), c.value) << '"' << c.text << '"';
    // Past the double range with a negative exponent still overflows.
    EXPECT_EQ(readNumber(std::string(400, '9') + "e-5"), kMax);
    EXPECT_TRUE(std::signbit(readNumber("-0")));
}

TEST(NumberText, EditTextsFitFiveCharacters)
{
    struct Case {
        double value;
        const char* text;
    } cases[] = {
        // Three significant digits whenever they fit.
        {123.4, "123"}, {12.0, "12"}, {14.0, "14"}, {5.6, "5.6"}, {0.0, "0"},
        {1000.0, "1e+03"}, {-1.25, "-1.25"}, {0.001, "0.001"},
        // Longer texts: the five-character text closest to the value.
        {0.00012, "12e-5"}, {1.23e-5, "12e-6"}, {12300000.0, "123e5"},
        {-0.0123, "-.012"}, {12345.0, "12300"}, {123456.0, "123e3"}, {0.0001, ".0001"},
        {1e300, "1e300"}, {-1.6e-7, "-2e-7"},
        // Beyond five characters: the nearest end of their range, same sign.
        {1e-300, "1e-99"}, {-1e-50, "-1e-9"}, {-1e200, "-9e99"},
        // Only a damaged file holds these; they read back as 0.
        {kInf, "inf"}, {-kInf, "-inf"}, {std::nan(""), "nan"},
    };
    for (const Case& c : cases) EXPECT_EQ(editText(c.value), c.text) << c.value;
}

// OK without editing reads the first five characters of the shown text back:
// across everything five characters can express, a value keeps its sign and
// its order of magnitude, and a second OK changes nothing more.
TEST(NumberText, EditTextsReadBackCloseToTheValue)
{
    const double mantissas[] = {1.0, 1.004, 1.23456, 1.5, 2.5, 4.999, 5.6, 9.49, 9.96};
    for (int sign : {1, -1}) {
        const int lowest = sign > 0 ? -99 : -9;
        const int highest = sign > 0 ? 307 : 99;
        for (int e = lowest; e <= highest; ++e) {
            for (double m : mantissas) {
                const double value = sign * m * std::pow(10.0, e);
                const std::string text = editText(value);
                ASSERT_LE(text.size(), 5u) << value;
                const double back = readNumber(text.substr(0, 5));
                ASSERT_NE(back, 0.0) << value << " -> " << text;
                ASSERT_EQ(std::signbit(back), std::signbit(value)) << value << " -> " << text;
                ASSERT_LE(std::fabs(back - value), std::fabs(value) / 3 * 1.0001)
                    << value << " -> " << text;
                // Where three digits fit, the text is exactly "%.3g".
                const std::string g = formatSignificant(value, 3);
                ASSERT_TRUE(g.size() > 5 || text == g) << value << " -> " << text;
                ASSERT_EQ(readNumber(editText(back)), back) << value << " -> " << text;
            }
        }
    }
}

// The windowed program runs with the user's locale: a decimal comma there
// must change neither the texts nor their reading. A French locale is built
// for the test when the machine has none installed.
TEST(NumberText, IgnoresTheDecimalCommaOfTheLocale)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    TempDir dir;
    if (!std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
        const std::string cmd = "localedef -i fr_FR -f UTF-8 " + dir.file("fr_FR.UTF-8") + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << "localedef could not build fr_FR.UTF-8";
        setenv("LOCPATH", dir.path().c_str(), 1);
        const bool ok = std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") != nullptr;
        unsetenv("LOCPATH");
        ASSERT_TRUE(ok);
    }
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    const std::string shown = editText(5.6);
    const double five = readNumber("5,6");
    const double fiveSix = readNumber("5.6");
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(shown, "5.6");
    EXPECT_EQ(five, 5.0);
    EXPECT_EQ(fiveSix, 5.6);
}
