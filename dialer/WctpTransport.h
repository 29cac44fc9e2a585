#pragma once

#include "Dialer.h"
#include "Transport.h"

#include <QDateTime>

// A WCTP 1.3 client: one wctp-SubmitRequest per page posted to the
// endpoint's URL over HTTP or HTTPS (one kept-alive connection per batch).
// A wctp-Confirmation holding wctp-Success means sent; wctp-Failure
// fails the page with the carrier's code and text. A transfer that fails
// (refused, dropped, no reply within the time-out) fails that page and
// every page after it.
namespace vts {

class WctpTransport final : public TargetTransport {
public:
    using TargetTransport::TargetTransport;
    void deliver(const QList<Page*>& pages, const PortRecord& call, Batch& batch) override;

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
};

}  // namespace vts
