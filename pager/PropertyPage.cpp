#include "PropertyPage.h"

#include "PagerOCX.h"
#include "PagerProperties.h"

namespace vts::pagerprops {

QStringList pageTexts(const PagerOCX& control) {
    QStringList out;
    for (int i = 0; i < kCount; ++i) {
        out << QString::number(control.propertyValue(savePosition(i)));
    }
    return out;
}

ApplyResult applyPageTexts(PagerOCX& control, const QStringList& texts) {
    ApplyResult result;
    for (int i = 0; i < kCount && i < texts.size(); ++i) {
        QString error;
        const auto v = parseText(texts[i], &error);
        if (!v) {
            result.ok = false;
            result.stoppedAt = i;
            result.error = error;
            return result;
        }
        control.setPropertyValue(savePosition(i), *v);
    }
    return result;
}

}  // namespace vts::pagerprops
