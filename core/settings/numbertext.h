// Number texts of the parameters dialog: numbers written with a given count
// of significant digits (C's "%.<n>g"), the five-character texts its edits
// show, and the reading of a typed text back into a number.
//
// Everything here is independent of the C locale: the windowed program runs
// with the user's locale set, under which printf and strtod would write and
// read a decimal comma.
#pragma once

#include <string>
#include <string_view>

namespace numbertext {

// Only the first five characters of an edit's text count.
inline constexpr int kEditChars = 5;

// The value rounded to `digits` significant digits, written as "%.<digits>g"
// writes it: fixed notation when the decimal exponent after rounding lies in
// -4 .. digits-1, else "d.ddde+XX"; trailing zeros after the point dropped,
// and the point with them. Infinities and NaN come out as "inf", "-inf",
// "nan".
std::string formatSignificant(double value, int digits);

// The number at the start of `text`: leading white space, an optional sign,
// digits with an optional decimal point, an optional exponent ("e" or "E",
// optional sign, digits). Reading stops at the first character that cannot
// continue the number, so "5,6" reads 5 and "12abc" 12; a text with no number
// reads 0. There are no words for infinity or NaN ("inf" reads 0). A number
// beyond the double range is held at the largest double of its sign, one
// below the smallest double reads as zero: the result is always finite.
double readNumber(std::string_view text);

// The text an edit shows for a value: three significant digits
// (formatSignificant(value, 3)) whenever that text has at most five
// characters, since only five are read back.
//
// Longer texts (0.00012, 1.23e-05, 12300000, -0.0123) would be cut at OK, and
// 0.00012 would come back as 0, 12300000 as 1.23. For these the edit shows,
// among the texts of at most five characters that carry at most three
// significant digits (ordinary "%g", fixed notation with or without the
// leading zero, "1.2e5", "12e-5"), the one that reads back closest to the
// value: 0.00012 -> "12e-5", 1.23e-05 -> "12e-6", 12300000 -> "123e5",
// -0.0123 -> "-.012", 12345 -> "12300". OK without editing therefore keeps the
// value to the precision five characters allow, with its sign and order of
// magnitude.
//
// Five characters reach positive values from 1e-99 to the largest double and
// negative ones from -1e-9 to -9e99; a value beyond shows the nearest of these
// ends with its own sign, so a non-zero value never turns into 0. Infinities
// and NaN, which only a damaged settings file can hold, show as "inf", "-inf"
// and "nan": they read back as 0.
std::string editText(double value);

}  // namespace numbertext
