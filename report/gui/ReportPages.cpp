#include "ReportPages.h"

#include "ReportCanvas.h"

namespace vts::report {

namespace {

// Lays a page out without drawing it, to find where the next one starts.
class NoCanvas final : public PageCanvas {
public:
    void setFont(Face, double) override {}
    void text(double, double, const QString&) override {}
    void line(double, double, double, double) override {}
};

}  // namespace

ReportPages::ReportPages(const ReportDocument& document) : m_document(document) {
    m_starts.push_back(PageStart{});
}

int ReportPages::reach(int wanted) {
    wanted = std::max(wanted, 1);
    NoCanvas canvas;
    while (!m_lastReached && static_cast<int>(m_starts.size()) < wanted) {
        const int page = static_cast<int>(m_starts.size());
        std::optional<PageStart> next;
        try {
            next = m_document.renderPage(canvas, page, m_starts.back());
        } catch (const std::exception&) {
            // The page that fails shows its error when it is drawn.
        }
        if (!next) {
            m_lastReached = true;
            break;
        }
        m_starts.push_back(*next);
    }
    return std::min(wanted, static_cast<int>(m_starts.size()));
}

void ReportPages::draw(int page, const Draw& draw) {
    std::optional<PageStart> next;
    try {
        next = draw(page, m_starts.at(static_cast<size_t>(page - 1)));
    } catch (const std::exception&) {
        // The drawing shows the error; the report ends here.
    }
    if (page != static_cast<int>(m_starts.size())) return;
    if (next)
        m_starts.push_back(*next);
    else
        m_lastReached = true;
}

bool ReportPages::hasPageAfter(int page) const {
    return page < static_cast<int>(m_starts.size()) || !m_lastReached;
}

std::optional<int> ReportPages::total() const {
    if (m_lastReached) return static_cast<int>(m_starts.size());
    try {
        return m_document.pageCount();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace vts::report
