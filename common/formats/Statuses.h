#pragma once

#include <cstdint>

// The codes that travel with a page from the queue file to the log row. The
// port status (what the dialer writes into a record) is in PortRecord.h.
namespace vts {

// tblLog.Status: 0 while the page waits for its result, then one of the
// three results.
enum class LogStatus : std::int32_t { Waiting = 0, Sent = 1, Failed = 2, Cancelled = 3 };

// How a page's text is sent (the record's kind, the queue file's page type):
// letters and digits, digits only, or the text of the file the record names.
enum class PageKind : std::int16_t { Alphanumeric = 0, Numeric = 1, TextFile = 2 };

constexpr std::int32_t toInt(LogStatus s) { return static_cast<std::int32_t>(s); }
constexpr std::int16_t toInt(PageKind k) { return static_cast<std::int16_t>(k); }

}  // namespace vts
