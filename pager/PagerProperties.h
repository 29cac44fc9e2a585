#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

class PagerOCX;

// The nine settable properties of the pager control as one table: names,
// ranges, the two default columns, rejection texts and property-page labels.
// The table is in save order; the property page shows and applies them in
// the reverse order.
namespace vts::pagerprops {

struct Definition {
    const char* name;
    const char* label;  // property page label
    qint32 (PagerOCX::*get)() const;
    void (PagerOCX::*set)(qint32);
    qint32 newInstance;
    qint32 readDefault;
    qint32 min;
    qint32 max;
    bool wide;  // stored in 32 bits; the others are stored in 16
    const char* rejection;
};

constexpr int kCount = 9;

// In save order: NumberOfRetries ... GroupTimeWindow.
const std::array<Definition, kCount>& definitions();
// The definition at position `i` of the property page (GroupTimeWindow first).
const Definition& pageDefinition(int i);

// Converts a property page text the way an assignment to a 32-bit property
// does: surrounding blanks ignored, a decimal number (optional sign, fraction
// and exponent) rounded half to even. Anything else fails with "Type
// mismatch", a value beyond 32 bits with "Overflow".
std::optional<qint32> parseText(const QString& text, QString* error = nullptr);

// The page's texts, in page order, from `control`.
QStringList pageTexts(const PagerOCX& control);

struct ApplyResult {
    bool ok = true;
    int stoppedAt = -1;  // page position whose text could not be converted
    QString error;
};
// Assigns each text to its property through the control's setters, in page
// order. A text that cannot be converted stops the apply there; a value out
// of range is rejected by its setter and the apply goes on.
ApplyResult applyPageTexts(PagerOCX& control, const QStringList& texts);

}  // namespace vts::pagerprops
