#pragma once

#include "Transport.h"

#include <QDateTime>

struct curl_slist;

// A WCTP 1.3 client: one wctp-SubmitRequest per page posted to the
// endpoint's URL over HTTP or HTTPS (one kept-alive connection per batch).
// A wctp-Confirmation holding wctp-Success means sent; wctp-Failure
// fails the page with the carrier's code and text. A transfer that fails
// (refused, dropped, no reply within the time-out) fails that page and
// every page after it.
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

protected:
    bool open(const QList<Page*>& pages) override;
    Outcome send(Page& page) override;
    void close(const QList<Page*>& pages) override;

private:
    void* m_curl = nullptr;  // the batch's kept-alive HTTP handle
    curl_slist* m_headers = nullptr;
    QByteArray m_url;
};

}  // namespace vts
