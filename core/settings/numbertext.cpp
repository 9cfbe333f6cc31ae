// Number texts of the parameters dialog (see numbertext.h). std::to_chars and
// std::from_chars do the digit work: they follow printf's and strtod's rules
// without looking at the C locale.
#include "core/settings/numbertext.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <vector>

namespace numbertext {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A positive finite value rounded to `digits` significant digits: its digits
// without trailing zeros, and the decimal exponent of the first one.
struct Rounded {
    std::string digits;
    int exponent = 0;
};

Rounded roundTo(double magnitude, int digits)
{
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific,
                             digits - 1);
    std::string_view text(buf, static_cast<size_t>(res.ptr - buf));
    size_t e = text.find('e');
    Rounded r;
    for (char c : text.substr(0, e))
        if (isDigit(c)) r.digits += c;
    while (r.digits.size() > 1 && r.digits.back() == '0') r.digits.pop_back();
    std::string_view exp = text.substr(e + 1);
    if (!exp.empty() && exp.front() == '+') exp.remove_prefix(1);
    std::from_chars(exp.data(), exp.data() + exp.size(), r.exponent);
    return r;
}

// Every way of writing a rounded magnitude that the reader understands:
// fixed notation (with and without the zero before the point), a mantissa
// with a point and a short exponent ("1.2e5"), an integer mantissa ("12e-5").
void addWritings(const Rounded& r, std::vector<std::string>& out)
{
    const std::string& d = r.digits;
    const int n = static_cast<int>(d.size());
    if (r.exponent >= 0) {
        const int intLen = r.exponent + 1;
        if (n <= intLen) {
            out.push_back(d + std::string(static_cast<size_t>(intLen - n), '0'));
        } else {
            out.push_back(d.substr(0, static_cast<size_t>(intLen)) + "." +
                          d.substr(static_cast<size_t>(intLen)));
        }
    } else {
        std::string frac = std::string(static_cast<size_t>(-r.exponent - 1), '0') + d;
        out.push_back("0." + frac);
        out.push_back("." + frac);
    }
    out.push_back(d.substr(0, 1) + (n > 1 ? "." + d.substr(1) : std::string()) + "e" +
                  std::to_string(r.exponent));
    const int intExponent = r.exponent - (n - 1);
    if (intExponent != 0) out.push_back(d + "e" + std::to_string(intExponent));
}

}  // namespace

std::string formatSignificant(double value, int digits)
{
    digits = std::clamp(digits, 1, 40);
    char buf[128];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, digits);
    return std::string(buf, res.ptr);
}

double readNumber(std::string_view text)
{
    const size_t n = text.size();
    size_t i = 0;
    while (i < n && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const size_t start = i;

    // Decimal exponent of the first non-zero digit, counted as the digits go.
    long long leadExponent = 0;
    bool seenNonZero = false;
    size_t digitCount = 0;
    long long intDigitsAfterLead = 0;
    while (i < n && isDigit(text[i])) {
        if (seenNonZero) ++intDigitsAfterLead;
        else if (text[i] != '0') seenNonZero = true;
        ++digitCount;
        ++i;
    }
    if (seenNonZero) leadExponent = intDigitsAfterLead;
    if (i < n && text[i] == '.') {
        ++i;
        long long position = 0;
        while (i < n && isDigit(text[i])) {
            --position;
            if (!seenNonZero && text[i] != '0') {
                seenNonZero = true;
                leadExponent = position;
            }
            ++digitCount;
            ++i;
        }
    }
    if (digitCount == 0) return 0.0;

    size_t end = i;
    long long exponent = 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        bool negativeExponent = false;
        if (j < n && (text[j] == '+' || text[j] == '-')) {
            negativeExponent = text[j] == '-';
            ++j;
        }
        if (j < n && isDigit(text[j])) {
            while (j < n && isDigit(text[j])) {
                if (exponent < 1'000'000) exponent = exponent * 10 + (text[j] - '0');
                ++j;
            }
            if (negativeExponent) exponent = -exponent;
            end = j;
        }
    }

    double value = 0.0;
    auto res = std::from_chars(text.data() + start, text.data() + end, value,
                               std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        value = (seenNonZero && leadExponent + exponent > 0) ? std::numeric_limits<double>::max()
                                                             : 0.0;
    } else if (res.ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

std::string editText(double value)
{
    std::string text = formatSignificant(value, 3);
    if (text.size() <= static_cast<size_t>(kEditChars) || !std::isfinite(value)) return text;

    const bool negative = value < 0;
    const double magnitude = std::fabs(value);
    std::vector<std::string> writings;
    for (int digits = 3; digits >= 1; --digits) {
        writings.push_back(formatSignificant(magnitude, digits));
        addWritings(roundTo(magnitude, digits), writings);
    }

    std::string best;
    double bestError = std::numeric_limits<double>::infinity();
    for (const std::string& w : writings) {
        std::string candidate = negative ? "-" + w : w;
        if (candidate.size() > static_cast<size_t>(kEditChars)) continue;
        double error = std::fabs(readNumber(candidate) - value);
        if (error < bestError) {
            bestError = error;
            best = std::move(candidate);
        }
    }
    if (!best.empty()) return best;

    // Beyond what five characters can write: the nearest end of that range.
    if (magnitude < 1.0) return negative ? "-1e-9" : "1e-99";
    return negative ? "-9e99" : "1e308";
}

}  // namespace numbertext
