#pragma once

#include "Dialer.h"
#include "Transport.h"

// An SNPP client (RFC 1861): one connection per batch; for each page
// PAGE <PIN> [password], MESS <text> (or DATA for text over one line or
// over the configured length, where the server offers level 2), SEND; and
// QUIT at the end. 2xx to SEND means sent, 5xx failed (the connection
// stays up for the next page), 4xx or a lost connection fails every page
// not yet confirmed.
namespace vts {

class SnppTransport final : public TargetTransport {
public:
    using TargetTransport::TargetTransport;
    void deliver(const QList<Page*>& pages, const PortRecord& call, Batch& batch) override;

    // One reply: the three-digit code (0 when the line has none) and its text.
    struct Reply {
        int code = 0;
        QByteArray text;
    };
    // Takes the next complete reply from `buffer` (multi-line "NNN-"
    // continuations folded into the last line); false when none is complete.
    static bool takeReply(QByteArray& buffer, Reply& reply);
    // The DATA body: lines ending CR LF, a leading "." doubled, "." alone at the end.
    static QByteArray dataBody(const QByteArray& text);
    // Text for MESS: one line, line breaks as blanks.
    static QByteArray messText(const QByteArray& text);
};

}  // namespace vts
