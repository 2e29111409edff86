#include "analysis/NumberText.h"

#include "platform/Errors.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <optional>
#include <string>

namespace {

QByteArray bytes(std::string_view text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

namespace OrbitalReport {

std::optional<int> WholeNumber(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const std::size_t digitsStart = i;
    qint64 value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > qint64(INT_MAX) + 1)
            return std::nullopt;
    }
    if (i == digitsStart || i != text.size())
        return std::nullopt;
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return std::nullopt;
    return static_cast<int>(value);
}

int ReadWholeNumber(std::string_view text)
{
    const std::optional<int> value = WholeNumber(text);
    if (!value)
        throw EConvertError::invalidInteger(bytes(text));
    return *value;
}

long double ReadDecimalNumber(std::string_view text)
{
    const auto invalid = [&] { return EConvertError::invalidFloat(bytes(text)); };
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const std::size_t numberStart = i;
    std::size_t mantissaDigits = 0;
    for (; i < n && IsDigit(text[i]); ++i)
        ++mantissaDigits;
    if (i < n && text[i] == '.') {
        for (++i; i < n && IsDigit(text[i]); ++i)
            ++mantissaDigits;
    }
    if (mantissaDigits == 0)
        throw invalid();
    if (i < n && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            ++i;
        const std::size_t exponentStart = i;
        while (i < n && IsDigit(text[i]))
            ++i;
        if (i == exponentStart)
            throw invalid();
    }
    const std::size_t numberEnd = i;
    while (i < n && IsBlank(text[i]))
        ++i;
    if (i != n)
        throw invalid();

    // from_chars reads no sign of its own and ignores the C locale.
    long double value = 0;
    const char *first = text.data() + numberStart;
    const char *last = text.data() + numberEnd;
    const std::from_chars_result result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec != std::errc() || result.ptr != last || !std::isfinite(value))
        throw invalid();
    return negative ? -value : value;
}

QByteArray FormatNumber(double value)
{
    if (!std::isfinite(value))
        return value != value ? QByteArray("NAN") : (value < 0 ? QByteArray("-INF") : QByteArray("INF"));
    if (value == 0)
        return QByteArray("0.00");

    // The value's 18 significant digits: d.ddddddddddddddddde±x.
    char buffer[64];
    const std::to_chars_result printed
        = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific, 17);
    std::string digits;
    digits += buffer[0];
    digits.append(buffer + 2, 17);
    // The number of digits before the decimal point: the printed exponent + 1.
    const char *e = buffer + 19; // 'e', then '+' or '-', then the exponent's digits
    int exponent = 0;
    std::from_chars(e + 2, printed.ptr, exponent);
    exponent = (e[1] == '-' ? -exponent : exponent) + 1;

    // Keep the integer digits and two decimals, at most ten digits, rounding
    // half away from zero.
    const int keep = std::min(10, exponent + 2);
    if (keep < 0)
        return QByteArray("0.00");
    const bool roundUp = digits[static_cast<std::size_t>(keep)] >= '5';
    digits.resize(static_cast<std::size_t>(keep));
    if (roundUp) {
        int k = keep - 1;
        while (k >= 0 && digits[static_cast<std::size_t>(k)] == '9')
            digits[static_cast<std::size_t>(k--)] = '0';
        if (k >= 0) {
            ++digits[static_cast<std::size_t>(k)];
        } else {
            digits.insert(digits.begin(), '1');
            digits.resize(static_cast<std::size_t>(std::max(keep, 1)));
            ++exponent;
        }
    }
    if (digits.find_first_not_of('0') == std::string::npos)
        return QByteArray("0.00");

    QByteArray text;
    if (value < 0)
        text += '-';
    if (exponent > 10) {
        // General exponent form: mantissa without trailing zeros, "E", exponent.
        const std::size_t used = digits.find_last_not_of('0') + 1;
        text += digits[0];
        if (used > 1) {
            text += '.';
            text += QByteArray(digits.data() + 1, static_cast<qsizetype>(used - 1));
        }
        text += 'E';
        text += QByteArray::number(exponent - 1);
        return text;
    }
    const auto digitAt = [&](int k) { return (k >= 0 && k < static_cast<int>(digits.size())) ? digits[static_cast<std::size_t>(k)] : '0'; };
    if (exponent <= 0) {
        text += '0';
    } else {
        for (int k = 0; k < exponent; ++k)
            text += digitAt(k);
    }
    text += '.';
    text += digitAt(exponent);
    text += digitAt(exponent + 1);
    return text;
}

QByteArray FormatSignedNumber(double value)
{
    return value >= 0 ? '+' + FormatNumber(value) : FormatNumber(value);
}

} // namespace OrbitalReport
