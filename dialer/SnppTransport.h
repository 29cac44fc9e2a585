#pragma once

#include "Line.h"
#include "TcpLine.h"
#include "Transport.h"

#include <memory>

// An SNPP client (RFC 1861): one connection per batch; for each page
// PAGE <PIN> [password], MESS <text> (or DATA for text over one line or
// over the configured length, where the server offers level 2), SEND; and
// QUIT at the end. 2xx to SEND means sent, 5xx failed (the connection
// stays up for the next page; 55x for good, not retried), 4xx or a lost
// connection fails every page not yet confirmed. Every reply must answer
// the command just sent: a line the server sends unasked ends the
// connection, and no page without its own reply to SEND counts as sent.
namespace vts {

class SnppTransport final : public Transport {
public:
    SnppTransport(PortTarget target, const DialerOptions& options);
    ~SnppTransport() override;
    PortTarget::Kind kind() const override { return PortTarget::Kind::Snpp; }

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
    // Whether a reply code refuses the page for good (no retry can deliver it).
    static bool refusedForGood(int code);

protected:
    QList<Page*> take(const QList<Page*>& pages) override;
    bool open(const QList<Page*>& pages) override;
    Outcome send(Page& page) override;
    void close(const QList<Page*>& pages) override;

private:
    class SnppSession;
    // Fails `page` with the server's reply and resets for the next page.
    Outcome refuse(Page& page, const Reply& reply);

    TcpLine m_line;
    std::unique_ptr<Channel> m_channel;
    std::unique_ptr<SnppSession> m_session;
    QByteArray m_password;
    bool m_dataRefused = false;  // a level 1 server: MESS only
};

}  // namespace vts
