#pragma once

#include "ReportDocument.h"

#include <functional>
#include <optional>
#include <vector>

namespace vts::report {

// Where each page of a report starts, learnt as pages are turned to. A page
// is drawn from its start, which gives the start of the page after it;
// turning to a page beyond those seen walks the pages in between without
// drawing them, so Last or a typed page number costs one pass over the rows
// in between, and every page seen stays as quick to reach as the first.
class ReportPages {
public:
    // Draws page `page` from `start` and returns where the next page starts,
    // or nullopt after the last page. Throws what the document throws.
    using Draw = std::function<std::optional<PageStart>(int page, const PageStart& start)>;

    explicit ReportPages(const ReportDocument& document);

    // The page that `wanted` comes to: itself when the report has it, the
    // last page when the report is shorter, page 1 below 1.
    int reach(int wanted);
    // Draws `page` (which reach() returned) with `draw` and learns the next start.
    void draw(int page, const Draw& draw);
    // Whether a page follows `page` (one the report may still have counts).
    bool hasPageAfter(int page) const;
    // The number of pages, once the last has been reached or the document
    // knows it.
    std::optional<int> total() const;

private:
    const ReportDocument& m_document;
    std::vector<PageStart> m_starts;  // m_starts[i]: start of page i+1
    bool m_lastReached = false;
};

}  // namespace vts::report
