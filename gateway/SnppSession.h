#pragma once

#include "Session.h"

#include <QStringList>

namespace vts::gate {

// SNPP (RFC 1861) level 1 and the level 2 commands clients use. PAGE names
// a recipient of vtsgate.ini (refused with 550 when unknown); MESS or DATA
// gives the text, SUBJ a subject, LOGI the sender; SEND writes one queue
// file per PAGE given since the last SEND or RESE, then starts afresh.
class SnppSession final : public LineSession {
public:
    using LineSession::LineSession;
    QString protocol() const override { return QStringLiteral("SNPP"); }
    void start() override;
    void timedOut() override;
    void refuse(Refusal kind, const QString& why) override;

private:
    void command(const LineReader::Line& line) override;
    void dataLine(const LineReader::Line& line) override;
    void send();
    void login(const QString& arg);
    void reset();

    QStringList m_pagers;
    QString m_message;
    bool m_haveMessage = false;
    QString m_subject;
    QString m_login;
    QString m_user;  // the account LOGI proved, when [snpp] auth = required
    QStringList m_data;
    qint64 m_dataChars = 0;
    bool m_dataTooLong = false;
};

}  // namespace vts::gate
