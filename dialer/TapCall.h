#pragma once

#include "TapClient.h"
#include "Transport.h"

// One paging-protocol call over a connected line, page by page: log on,
// one transaction per page, log off. The modem and the TCP paging
// terminal share it; a rejection after the log-off fails the pages the
// call had delivered.
namespace vts {

class TapCall final {
public:
    TapCall(Channel& channel, const TapTimings& timings, Batch& batch)
        : m_client(channel, timings), m_batch(batch) {}

    bool logOn(const QByteArray& password);
    Outcome send(const Page& page);
    // Logs off when logged on; pages of `pages` the terminal withdrew fail.
    void end(const QList<Page*>& pages);
    // Why the call went down (or the last page failed).
    QString reason() const { return m_client.reason(); }
    bool carrierLost() const { return m_client.carrierLost(); }

private:
    TapClient m_client;
    Batch& m_batch;
    bool m_loggedOn = false;
};

}  // namespace vts
