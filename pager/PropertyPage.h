#pragma once

#include <QString>
#include <QStringList>

class PagerOCX;

// The property page's logic without its widgets: the texts it shows for a
// control and what applying edited texts does to it. Texts are in page
// order (GroupTimeWindow first, see vts::pagerprops::pageDefinition).
namespace vts::pagerprops {

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
