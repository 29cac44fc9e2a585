#pragma once

#include "Transport.h"

#include <QDateTime>

struct curl_slist;

// A WCTP 1.3 client: one wctp-SubmitRequest per page posted to the
// endpoint's URL over HTTP or HTTPS, on one kept-alive connection per
// batch; a request is never sent twice behind the trace's back (the
// library's own re-send on a new connection is refused). A 2xx
// reply whose wctp-Confirmation holds wctp-Success means sent; wctp-Failure
// fails the page with the carrier's code and text (400-599 for good); any
// other HTTP status fails it with the status. A transfer that fails
// (refused, dropped, no reply within the time-out) fails that page and
// every page after it. TLS trusts [wctp] cafile/capath instead of the
// system's CAs when set, and presents [wctp] certfile/keyfile.
namespace vts {

class WctpTransport final : public Transport {
public:
    using Transport::Transport;
    ~WctpTransport() override;
    PortTarget::Kind kind() const override { return PortTarget::Kind::Wctp; }

    struct Submit {
        QString senderId;
        QString securityCode;  // empty: none
        QString messageId;
        QString recipientId;
        QString text;
        QDateTime timestamp;  // UTC
    };
    static QByteArray submitRequest(const Submit& s);

    // What an endpoint answered.
    struct Confirmation {
        enum class Kind { Success, Failure, Unreadable };
        Kind kind = Kind::Unreadable;
        int code = 0;
        QString text;
    };
    static Confirmation parseConfirmation(const QByteArray& xml);
    // Whether a wctp-Failure code refuses the page for good.
    static bool refusedForGood(int code);

protected:
    bool open(const QList<Page*>& pages) override;
    Outcome send(Page& page) override;
    void close(const QList<Page*>& pages) override;

private:
    void* m_curl = nullptr;  // the batch's HTTP handle
    curl_slist* m_headers = nullptr;
    curl_slist* m_resolve = nullptr;  // the host's addresses, looked up within the Timeout
    QByteArray m_url;
    int m_sentInTransfer = 0;      // requests the library sent in the current transfer
    QList<QByteArray> m_tlsFiles;  // the TLS files' names, kept while the handle lives
};

}  // namespace vts
