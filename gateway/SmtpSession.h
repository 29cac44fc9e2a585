#pragma once

#include "Session.h"

#include <QStringList>

namespace vts::gate {

// SMTP for mail to pagers: RCPT TO:<NAME@domain> takes a recipient of
// vtsgate.ini (550 when unknown or another domain: the gateway relays
// nothing); after DATA the mail's subject and text become one page per
// recipient. A page that cannot be queued gets a 4xx reply, so the sending
// mail server keeps the mail and tries again.
class SmtpSession final : public LineSession {
public:
    using LineSession::LineSession;
    QString protocol() const override { return QStringLiteral("SMTP"); }
    void start() override;
    void timedOut() override;
    void refuse(Refusal kind, const QString& why) override;

private:
    void command(const LineReader::Line& line) override;
    void dataLine(const LineReader::Line& line) override;
    void finishData();
    bool authAllowed() const;
    void auth(const QString& arg);
    void authResponse(const QByteArray& line);
    void resetTransaction();
    QString domain();

    bool m_haveFrom = false;
    QString m_from;
    QStringList m_to;
    QByteArray m_mail;
    qint64 m_maxMail = 0;  // the limit when DATA began
    bool m_mailTooBig = false;
    bool m_lineTooLong = false;
    bool m_bareLineEnd = false;  // a lone LF or CR inside the data
    bool m_postmaster = false;   // RCPT TO:<postmaster> was given
    enum class AuthStep { None, Plain, LoginUser, LoginPassword };
    AuthStep m_authStep = AuthStep::None;
    QString m_authName;  // AUTH LOGIN: the name, while the password is asked
    QString m_user;      // the account AUTH proved
};

}  // namespace vts::gate
