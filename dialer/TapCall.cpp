#include "TapCall.h"

namespace vts {

bool TapCall::logOn(const QByteArray& password) {
    m_loggedOn = m_client.logOn(password) == TapClient::LogOnResult::Accepted;
    return m_loggedOn;
}

Outcome TapCall::send(const Page& page) {
    if (!m_loggedOn || !m_client.callUp()) {
        return Outcome::down(m_client.reason());
    }
    switch (m_client.sendPage(page.blocks)) {
        case TapClient::PageResult::Accepted:
            return Outcome::sent();
        case TapClient::PageResult::Rejected: {
            // RS with "510" (illegal pager ID) or "511" (no such subscriber):
            // the pager itself is refused, no retry can deliver the page.
            const QList<QByteArray>& said = m_client.messages();
            const bool invalidPager =
                !said.isEmpty() && (said.last().startsWith("510") || said.last().startsWith("511"));
            return invalidPager ? Outcome::refused(m_client.reason())
                                : Outcome::failed(m_client.reason());
        }
        case TapClient::PageResult::NotSent:
            break;
    }
    return Outcome::down(m_client.reason());
}

void TapCall::end(const QList<Page*>& pages) {
    if (!m_loggedOn) {
        return;
    }
    m_loggedOn = false;
    m_client.logOff();
    if (m_client.withdrawn()) {
        for (Page* page : pages) {
            if (page->status == static_cast<std::int16_t>(PortStatus::Sent)) {
                m_batch.setStatus(*page, PortStatus::Failed,
                                  QStringLiteral("rejected by the terminal after log-off"));
            }
        }
    }
}

}  // namespace vts
