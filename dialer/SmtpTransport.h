#pragma once

#include "Transport.h"

#include <QDateTime>

struct curl_slist;

// Pages as e-mail through an SMTP server (libcurl's SMTP client): one mail
// per page to [smtp] to with {pin} and {phone} replaced by the record's
// PIN and phone number, from [smtp] from, the text as a plain-text body in
// UTF-8. The connection is kept across the batch's mails. A 2xx reply to
// the end of the data means sent; a 5xx reply to the sender, recipient or
// data refuses the page for good; a 4xx reply fails it for a retry; a
// connection that cannot be made, secured (starttls=on makes STARTTLS
// required) or logged in to (user, password), or that drops, fails every
// page not yet confirmed. The password never reaches the trace.
namespace vts {

class SmtpTransport final : public Transport {
public:
    using Transport::Transport;
    ~SmtpTransport() override;
    PortTarget::Kind kind() const override { return PortTarget::Kind::Smtp; }

    // [smtp] to with {pin} and {phone} replaced; empty when the result is
    // not one plain address (local@domain, no blanks, brackets, commas or
    // control characters, at most 254 characters).
    static QString address(const QString& pattern, const QString& pin, const QString& phone);
    // The mail as sent: headers and body, lines ending CR LF.
    struct Mail {
        QString from, to, subject, text;
        QString messageId;  // without brackets
        QDateTime date;
    };
    static QByteArray compose(const Mail& mail);

protected:
    bool open(const QList<Page*>& pages) override;
    Outcome send(Page& page) override;
    void close(const QList<Page*>& pages) override;

private:
    void* m_curl = nullptr;
    curl_slist* m_resolve = nullptr;
    QByteArray m_url, m_from, m_user, m_password;
    QList<QByteArray> m_tlsFiles;
};

}  // namespace vts
