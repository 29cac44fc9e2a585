#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>
#include <stdexcept>

// The platform's conversions, in one place: every program uses these and
// nothing else for trimming, lenient numbers, dates, rounding and formats.
namespace vts::conv {

// Thrown when a value does not fit the 16-bit (or 32-bit) target.
class OverflowError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Removes leading and trailing blanks (U+0020) only; tabs and others stay.
QString trim(const QString& s);

// Lenient numeric value of a text: blanks, tabs and line feeds skipped
// wherever they stand, optional sign, digits with an optional decimal part
// (and exponent), reading stops at the first character that cannot continue
// the number; no number gives 0.
// "12abc" -> 12, "" -> 0, " -3.5x" -> -3.5, "abc" -> 0, "1 2" -> 12.
double val(const QString& s);

// Nearest whole number, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
double roundHalfEven(double v);

// Narrowing with a clear overflow error.
std::int16_t toInt16(double v);         // rounds half-even first; throws OverflowError
std::int32_t toInt32(double v);         // rounds half-even first; throws OverflowError
std::int16_t narrow16(std::int64_t v);  // throws OverflowError when outside -32768..32767

// Date and time text under en-US regional settings: "7/15/1998 10:30:00 AM",
// "07/15/1998 22:30", "7/15/1998", "1998-07-15 22:30:00", "10:30 PM" and the
// like; a month/day pair that is no date in that order is read swapped
// ("15/7/1998"); two-digit years 00-29 are 20xx, 30-99 19xx; a time alone
// gets the date 12/30/1899, a date alone the time 00:00:00. Returns nullopt
// for text that is not a date.
std::optional<QDateTime> parseDateTime(const QString& s);

// "MM/DD/YYYY HH:NN:SS" (24-hour), "MM/DD/YYYY".
QString formatDateTime(const QDateTime& dt);
QString formatDate(const QDate& d);
// The stores' form "YYYY-MM-DD HH:MM:SS" and back.
QString toStoreText(const QDateTime& dt);
std::optional<QDateTime> fromStoreText(const QString& s);
// en-US short date + long time: "7/15/1998 10:30:00 PM"; the time is left
// out at exactly midnight.
QString formatGeneralDate(const QDateTime& dt);

// "#,0": thousands separators, no decimals ("1,234,567"); rounds half-even.
QString formatThousands(double v);
// A number as the platform prints it with its sign position: a leading blank
// for zero and positive numbers, "-" for negative ones; fractions kept
// without trailing zeros (" 0", " 12", " 1.001", "-3").
QString formatSigned(double v);

}  // namespace vts::conv
