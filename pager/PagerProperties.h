#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// The nine settable properties of the pager control as one table: names,
// ranges, the two default columns, rejection texts and property-page labels.
// The table is in save order; the property page shows and applies them in
// the reverse order.
namespace vts::pagerprops {

struct Definition {
    const char* name;
    const char* label;  // property page label
    qint32 newInstance;
    qint32 readDefault;
    qint32 min;
    qint32 max;
    bool wide;  // stored in 32 bits; the others are stored in 16
    const char* rejection;
};

constexpr int kCount = 9;

// Positions of the properties in the table (save order).
enum Position : int {
    kNumberOfRetries,
    kRetryDelay,
    kTimeout,
    kDebugMode,
    kDialingDelay,
    kWindowState,
    kVolumeLevel,
    kSpeakerState,
    kGroupTimeWindow
};
// The current values, by position.
using Values = std::array<qint32, kCount>;

// In save order: NumberOfRetries ... GroupTimeWindow.
const std::array<Definition, kCount>& definitions();
// The definition at position `i` of the property page (GroupTimeWindow first).
const Definition& pageDefinition(int i);
// The save-order position of page position `i`.
constexpr int savePosition(int pagePosition) { return kCount - 1 - pagePosition; }

// Converts a property page text the way an assignment to a 32-bit property
// does: surrounding blanks ignored, a decimal number (optional sign, fraction
// and exponent) rounded half to even. Anything else fails with "Type
// mismatch", a value beyond 32 bits with "Overflow".
std::optional<qint32> parseText(const QString& text, QString* error = nullptr);

}  // namespace vts::pagerprops
