#include "PagerProperties.h"

#include "Conversions.h"

#include <QRegularExpression>

namespace vts::pagerprops {

const std::array<Definition, kCount>& definitions() {
    static const std::array<Definition, kCount> table = {{
        {"NumberOfRetries", "NumberOfRetries:", 0, 5, 0, 100, false,
         "The NumberOfRetries property must be between 0 and 100 seconds"},
        {"RetryDelay", "RetryDelay (seconds):", 60, 0, 0, 300, false,
         "The RetryDelay property must be between 0 and 300 seconds"},
        {"Timeout", "Timeout (seconds):", 60, 60, 0, 300, false,
         "The Timeout property must be between 0 and 300 seconds"},
        {"DebugMode", "DebugMode:", 0, 0, 0, 1, false,
         "The Debug property must be 0 (off) or 1 (on)"},
        {"DialingDelay", "DialingDelay (seconds):", 2, 2, 0, 60, false,
         "The DialingDelay property must be between 0 and 60 seconds"},
        {"WindowState", "WindowState:", 0, 1, 0, 2, false,
         "The WindowState property must be between 0 and 2"},
        {"VolumeLevel", "VolumeLevel:", 2, 1, 0, 3, false,
         "The VolumeLevel property must be between 0 and 3"},
        {"SpeakerState", "SpeakerState:", 1, 1, 0, 2, false,
         "The SpeakerState property must be between 0 and 2"},
        {"GroupTimeWindow", "GroupTimeWindow (seconds):", 5, 10, 0, 3600, true,
         "The GroupTimeWindow property must be between 0 and 3600 seconds"},
    }};
    return table;
}

const Definition& pageDefinition(int i) {
    return definitions()[static_cast<size_t>(savePosition(i))];
}

std::optional<qint32> parseText(const QString& text, QString* error) {
    static const QRegularExpression number(
        QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    const QString t = text.trimmed();
    if (!number.match(t).hasMatch()) {
        if (error) {
            *error = QStringLiteral("Type mismatch");
        }
        return std::nullopt;
    }
    bool ok = false;
    const double v = t.toDouble(&ok);  // C locale: '.' decimal point
    try {
        if (!ok) {
            throw conv::OverflowError("overflow");
        }
        return conv::toInt32(v);
    } catch (const conv::OverflowError&) {
        if (error) {
            *error = QStringLiteral("Overflow");
        }
        return std::nullopt;
    }
}

}  // namespace vts::pagerprops
