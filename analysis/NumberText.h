#pragma once

#include <QByteArray>

#include <optional>
#include <string_view>

// The numbers of the HOMO-LUMO report as text: how a field of Firefly's
// printout is read and how a value of the report line is written, "." as the
// decimal point whatever the locale.
namespace OrbitalReport {

// A whole number: leading blanks, an optional sign, decimal digits, nothing
// else. Throws EConvertError::invalidInteger with the field's text.
int ReadWholeNumber(std::string_view field);
// The same, nothing when the field holds no whole number.
std::optional<int> WholeNumber(std::string_view field);

// A decimal number: blanks at both ends, an optional sign, digits with an
// optional "." and fraction, an optional exponent. "." whatever the locale.
// Throws EConvertError::invalidFloat with the field's text.
long double ReadDecimalNumber(std::string_view field);

// Fixed point, two decimals, at most ten significant digits, rounded half
// away from zero from the value's 18 significant digits; the exponent form
// above ten integer digits; no "-" on a value that rounds to zero.
QByteArray FormatNumber(double value);

// As FormatNumber, with a "+" when the value is 0 or more (HOMO, LUMO, Eg).
QByteArray FormatSignedNumber(double value);

inline bool IsBlank(char c)
{
    return c == ' ';
}

inline bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace OrbitalReport
