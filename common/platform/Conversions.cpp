#include "Conversions.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace vts::conv {

QString trim(const QString& s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && s.at(b) == QLatin1Char(' ')) ++b;
    while (e > b && s.at(e - 1) == QLatin1Char(' ')) --e;
    return s.mid(b, e - b);
}

namespace {

bool isSkippedInNumber(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

bool isDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

}  // namespace

double val(const QString& s) {
    // Blanks, tabs and line feeds are left out wherever they stand, as the
    // platform's conversion does ("1 2" reads as 12).
    QString compact;
    compact.reserve(s.size());
    for (QChar c : s)
        if (!isSkippedInNumber(c)) compact.append(c);

    std::string num;
    qsizetype i = 0;
    const qsizetype n = compact.size();
    if (i < n && (compact.at(i) == QLatin1Char('-') || compact.at(i) == QLatin1Char('+')))
        num += static_cast<char>(compact.at(i++).toLatin1());
    bool anyDigit = false;
    while (i < n && isDigit(compact.at(i))) {
        num += static_cast<char>(compact.at(i++).toLatin1());
        anyDigit = true;
    }
    if (i < n && compact.at(i) == QLatin1Char('.')) {
        num += '.';
        ++i;
        while (i < n && isDigit(compact.at(i))) {
            num += static_cast<char>(compact.at(i++).toLatin1());
            anyDigit = true;
        }
    }
    if (!anyDigit) return 0.0;
    // An exponent counts only when at least one digit follows it ("1e" is 1).
    if (i < n && (compact.at(i).toUpper() == QLatin1Char('E') ||
                  compact.at(i).toUpper() == QLatin1Char('D'))) {
        qsizetype j = i + 1;
        std::string exp = "e";
        if (j < n && (compact.at(j) == QLatin1Char('-') || compact.at(j) == QLatin1Char('+')))
            exp += static_cast<char>(compact.at(j++).toLatin1());
        bool expDigit = false;
        while (j < n && isDigit(compact.at(j)) && exp.size() < 8) {
            exp += static_cast<char>(compact.at(j++).toLatin1());
            expDigit = true;
        }
        if (expDigit) num += exp;
    }
    return std::strtod(num.c_str(), nullptr);
}

double roundHalfEven(double v) {
    if (!std::isfinite(v)) return v;
    const double f = std::floor(v);
    const double diff = v - f;
    if (diff < 0.5) return f;
    if (diff > 0.5) return f + 1.0;
    return std::fmod(f, 2.0) == 0.0 ? f : f + 1.0;
}

std::int16_t toInt16(double v) {
    const double r = roundHalfEven(v);
    if (!(r >= -32768.0 && r <= 32767.0))
        throw OverflowError("Overflow: " + std::to_string(v) + " does not fit in 16 bits");
    return static_cast<std::int16_t>(r);
}

std::int32_t toInt32(double v) {
    const double r = roundHalfEven(v);
    if (!(r >= -2147483648.0 && r <= 2147483647.0))
        throw OverflowError("Overflow: " + std::to_string(v) + " does not fit in 32 bits");
    return static_cast<std::int32_t>(r);
}

std::int16_t narrow16(std::int64_t v) {
    if (v < std::numeric_limits<std::int16_t>::min() ||
        v > std::numeric_limits<std::int16_t>::max())
        throw OverflowError("Overflow: " + std::to_string(v) + " does not fit in 16 bits");
    return static_cast<std::int16_t>(v);
}

// ---------------------------------------------------------------------------
// Dates

namespace {

struct TimeOfDay {
    int h = 0, m = 0, s = 0;
};

int monthFromName(const QString& word) {
    static const char* const names[] = {"JANUARY",   "FEBRUARY", "MARCH",    "APRIL",
                                        "MAY",       "JUNE",     "JULY",     "AUGUST",
                                        "SEPTEMBER", "OCTOBER",  "NOVEMBER", "DECEMBER"};
    const QString w = word.toUpper();
    if (w.size() < 3) return 0;
    for (int i = 0; i < 12; ++i) {
        const QString full = QString::fromLatin1(names[i]);
        if (full.startsWith(w) || (w == QLatin1String("SEPT") && i == 8)) return i + 1;
    }
    return 0;
}

int expandYear(const QString& text) {
    const int y = text.toInt();
    if (text.size() <= 2) return y < 30 ? 2000 + y : 1900 + y;
    return y;
}

// Reads the time part: "22:30", "10:30:00 AM", "10 PM", "10:30P".
std::optional<TimeOfDay> parseTime(const QString& t) {
    static const QRegularExpression re(
        QStringLiteral(R"(^(\d{1,2})(?::(\d{1,2}))?(?::(\d{1,2}))?\s*(AM|PM|A|P)?$)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(t);
    if (!m.hasMatch()) return std::nullopt;
    const bool hasMinutes = m.capturedLength(2) > 0;
    const QString ampm = m.captured(4).toUpper();
    if (!hasMinutes && ampm.isEmpty()) return std::nullopt;  // a bare number is no time
    TimeOfDay tod{m.captured(1).toInt(), hasMinutes ? m.captured(2).toInt() : 0,
                  m.capturedLength(3) > 0 ? m.captured(3).toInt() : 0};
    if (tod.m > 59 || tod.s > 59) return std::nullopt;
    if (!ampm.isEmpty()) {
        if (tod.h < 1 || tod.h > 12) return std::nullopt;
        const bool pm = ampm.startsWith(QLatin1Char('P'));
        if (tod.h == 12) tod.h = 0;
        if (pm) tod.h += 12;
    } else if (tod.h > 23) {
        return std::nullopt;
    }
    return tod;
}

// A month/day pair as written in en-US order; when that is no date but the
// swapped order is, the swapped order is taken, as the platform does.
std::optional<QDate> monthDayYear(int first, int second, int year) {
    QDate d(year, first, second);
    if (d.isValid()) return d;
    QDate swapped(year, second, first);
    if (swapped.isValid()) return swapped;
    return std::nullopt;
}

std::optional<QDate> parseDate(const QString& t) {
    static const QRegularExpression ymd(QStringLiteral(R"(^(\d{4})[-/.](\d{1,2})[-/.](\d{1,2})$)"));
    static const QRegularExpression mdy(
        QStringLiteral(R"(^(\d{1,2})([-/.])(\d{1,2})\2(\d{1,4})$)"));
    static const QRegularExpression md(QStringLiteral(R"(^(\d{1,2})[-/](\d{1,2})$)"));
    // "July 15, 1998", "Jul 15 1998", "Jul-15-1998"
    static const QRegularExpression nameFirst(
        QStringLiteral(R"(^([A-Za-z]{3,9})\.?[\s,\-/]+(\d{1,2})(?:[\s,\-/]+(\d{1,4}))?$)"));
    // "15 July 1998", "15-Jul-98"
    static const QRegularExpression dayFirst(
        QStringLiteral(R"(^(\d{1,2})[\s\-/]+([A-Za-z]{3,9})\.?(?:[\s,\-/]+(\d{1,4}))?$)"));

    if (auto m = ymd.match(t); m.hasMatch()) {
        QDate d(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        return d.isValid() ? std::optional<QDate>(d) : std::nullopt;
    }
    if (auto m = mdy.match(t); m.hasMatch()) {
        const int year = expandYear(m.captured(4));
        if (m.capturedLength(4) == 3 && year < 100) return std::nullopt;
        return monthDayYear(m.captured(1).toInt(), m.captured(3).toInt(), year);
    }
    if (auto m = md.match(t); m.hasMatch())
        return monthDayYear(m.captured(1).toInt(), m.captured(2).toInt(),
                            QDate::currentDate().year());
    for (const auto* re : {&nameFirst, &dayFirst}) {
        auto m = re->match(t);
        if (!m.hasMatch()) continue;
        const bool nf = re == &nameFirst;
        const int month = monthFromName(m.captured(nf ? 1 : 2));
        if (month == 0) return std::nullopt;
        const int day = m.captured(nf ? 2 : 1).toInt();
        const int year =
            m.capturedLength(3) > 0 ? expandYear(m.captured(3)) : QDate::currentDate().year();
        QDate d(year, month, day);
        return d.isValid() ? std::optional<QDate>(d) : std::nullopt;
    }
    return std::nullopt;
}

// The date the platform gives a text that holds only a time.
const QDate kTimeOnlyDate(1899, 12, 30);

}  // namespace

std::optional<QDateTime> parseDateTime(const QString& s) {
    QString t = s.simplified();
    if (t.isEmpty() || t.size() > 64) return std::nullopt;
    if (t.startsWith(QLatin1Char('#')) && t.endsWith(QLatin1Char('#')) && t.size() > 2)
        t = t.mid(1, t.size() - 2).trimmed();

    // Split off the time: it starts at the first token holding a colon or an
    // AM/PM marker; an ISO "T" between date and time counts as a blank.
    static const QRegularExpression isoT(QStringLiteral(R"(^(\d{4}-\d{1,2}-\d{1,2})T(\d))"));
    t.replace(isoT, QStringLiteral("\\1 \\2"));
    static const QRegularExpression timeStart(
        QStringLiteral(
            R"((?:^|\s)(\d{1,2}(?::\d{1,2}){1,2}(?:\s*(?:AM|PM|A|P))?|\d{1,2}\s*(?:AM|PM|A|P))$)"),
        QRegularExpression::CaseInsensitiveOption);
    QString datePart = t;
    QString timePart;
    if (auto m = timeStart.match(t); m.hasMatch()) {
        timePart = m.captured(1);
        datePart = t.left(m.capturedStart(1)).trimmed();
    }

    TimeOfDay tod;
    if (!timePart.isEmpty()) {
        auto parsed = parseTime(timePart);
        if (!parsed) return std::nullopt;
        tod = *parsed;
    }
    QDate date = kTimeOnlyDate;
    if (!datePart.isEmpty()) {
        auto d = parseDate(datePart);
        if (!d) return std::nullopt;
        date = *d;
    } else if (timePart.isEmpty()) {
        return std::nullopt;
    }
    QDateTime dt(date, QTime(tod.h, tod.m, tod.s));
    if (!dt.isValid()) {
        // A local time that falls into a daylight-saving gap: keep the
        // written wall-clock value rather than failing.
        dt = QDateTime(date, QTime(tod.h, tod.m, tod.s), Qt::UTC);
        dt.setTimeSpec(Qt::LocalTime);
    }
    return dt;
}

QString formatDateTime(const QDateTime& dt) {
    return dt.toString(QStringLiteral("MM/dd/yyyy HH:mm:ss"));
}

QString formatDate(const QDate& d) { return d.toString(QStringLiteral("MM/dd/yyyy")); }

QString toStoreText(const QDateTime& dt) {
    return dt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

std::optional<QDateTime> fromStoreText(const QString& s) {
    static const QRegularExpression re(
        QStringLiteral(R"(^(\d{4})-(\d{2})-(\d{2})(?:[ T](\d{2}):(\d{2})(?::(\d{2}))?)?$)"));
    const auto m = re.match(s.trimmed());
    if (!m.hasMatch()) return std::nullopt;
    const QDate d(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime t(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!d.isValid() || !t.isValid()) return std::nullopt;
    return QDateTime(d, t);
}

QString formatGeneralDate(const QDateTime& dt) {
    QString date = dt.date().toString(QStringLiteral("M/d/yyyy"));
    if (dt.time() == QTime(0, 0)) return date;
    return date + QLatin1Char(' ') + dt.time().toString(QStringLiteral("h:mm:ss AP"));
}

// ---------------------------------------------------------------------------
// Number formats

QString formatThousands(double v) {
    const double r = roundHalfEven(v);
    if (!std::isfinite(r)) return QString::number(r);
    QString digits = QString::number(std::fabs(r), 'f', 0);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, QLatin1Char(','));
    return (r < 0 ? QStringLiteral("-") : QString()) + digits;
}

QString formatSigned(double v) {
    if (v == 0.0) return QStringLiteral(" 0");
    QString s = QString::number(std::fabs(v), 'g', 15).toUpper();
    return (v < 0 ? QStringLiteral("-") : QStringLiteral(" ")) + s;
}

}  // namespace vts::conv
