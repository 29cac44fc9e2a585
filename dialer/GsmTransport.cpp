#include "GsmTransport.h"

#include "Dialer.h"
#include "Line.h"
#include "SmsParts.h"
#include "SmsPdu.h"
#include "TraceLog.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>

#include <algorithm>
#include <cctype>
#include <optional>
#include <utility>

namespace vts {

namespace {

// The modem's answer to one command.
struct AtReply {
    enum class Kind { Ok, Error, CmsError, CmeError, Prompt, Timeout, Cancelled, Closed };
    Kind kind = Kind::Timeout;
    int code = -1;            // +CMS/+CME ERROR code
    QList<QByteArray> lines;  // information lines ("+CPIN: READY", "+CMGS: 12")
};

}  // namespace

class GsmTransport::AtChannel {
public:
    AtChannel(Channel& channel, double timeout) : m_channel(channel), m_timeout(timeout) {}

    // An unsolicited +CDS: the length it announced and the report's PDU.
    struct Report {
        int length = -1;
        QByteArray pdu;
    };

    // Sends `bytes` and reads lines until a final result (or, with
    // `prompt`, the "> " that asks for the PDU). Status reports the modem
    // puts between the lines are set aside for takeReports(), never taken
    // for the command's answer.
    AtReply exchange(const QByteArray& bytes, bool prompt = false) {
        AtReply r;
        if (!m_channel.send(bytes)) {
            r.kind = AtReply::Kind::Closed;
            return r;
        }
        const Deadline d = deadlineIn(m_timeout);
        for (;;) {
            QByteArray& buf = m_channel.buffer();
            while (true) {
                if (prompt) {  // a report's lines hold no '>'
                    const qsizetype gt = buf.indexOf('>');
                    const qsizetype nl = buf.indexOf('\n');
                    if (gt >= 0 && (nl < 0 || gt < nl)) {
                        buf.remove(0, gt + 1);
                        r.kind = AtReply::Kind::Prompt;
                        return r;
                    }
                }
                const auto next = takeLine();
                if (!next) {
                    break;
                }
                const QByteArray& line = *next;
                if (line.isEmpty() || line == bytes.trimmed() || unsolicited(line)) {
                    continue;  // blank, the command echoed, or a status report
                }
                if (line == "OK") {
                    r.kind = AtReply::Kind::Ok;
                    return r;
                }
                if (line == "ERROR" || line == "NO CARRIER") {
                    r.kind = AtReply::Kind::Error;
                    return r;
                }
                if (line.startsWith("+CMS ERROR:") || line.startsWith("+CME ERROR:")) {
                    r.kind =
                        line.startsWith("+CMS") ? AtReply::Kind::CmsError : AtReply::Kind::CmeError;
                    bool ok = false;
                    r.code = line.mid(11).trimmed().toInt(&ok);
                    if (!ok) {
                        r.code = -1;
                        r.lines.append(line.mid(11).trimmed());
                    }
                    return r;
                }
                if (r.lines.size() < 32) {
                    r.lines.append(line);
                }
            }
            if (buf.size() > 8192) {
                buf.clear();
            }
            switch (m_channel.receive(d)) {
                case LineWait::Data:
                    continue;
                case LineWait::Timeout:
                    r.kind = AtReply::Kind::Timeout;
                    return r;
                case LineWait::Cancelled:
                    r.kind = AtReply::Kind::Cancelled;
                    return r;
                case LineWait::Closed:
                    r.kind = AtReply::Kind::Closed;
                    return r;
            }
        }
    }
    AtReply command(const QByteArray& cmd) { return exchange(cmd + '\r'); }

    // Reads the line between commands until a status report is at hand
    // (Data), `until` passes, a stop is requested or the line closes. Any
    // other line there is the modem's own business and is passed over.
    LineWait awaitReport(Deadline until) {
        for (;;) {
            while (m_reports.isEmpty()) {
                const auto line = takeLine();
                if (!line) {
                    break;
                }
                unsolicited(*line);
            }
            if (!m_reports.isEmpty()) {
                return LineWait::Data;
            }
            if (m_channel.buffer().size() > 8192) {
                m_channel.buffer().clear();
            }
            const LineWait w = m_channel.receive(until);
            if (w != LineWait::Data) {
                return w;
            }
        }
    }

    QList<Report> takeReports() { return std::exchange(m_reports, {}); }

private:
    // The next whole line of the buffer, trimmed; nullopt when none is whole yet.
    std::optional<QByteArray> takeLine() {
        QByteArray& buf = m_channel.buffer();
        const qsizetype nl = buf.indexOf('\n');
        const qsizetype cr = buf.indexOf('\r');
        const qsizetype end = nl < 0 ? cr : (cr < 0 ? nl : std::min(nl, cr));
        if (end < 0) {
            return std::nullopt;
        }
        QByteArray line = buf.left(end).trimmed();
        buf.remove(0, end + 1);
        return line;
    }

    // Takes "+CDS: <length>" and the PDU line after it. A line after +CDS
    // that is no PDU (a modem that dropped it) ends the report and is left
    // to the caller; so is every other line.
    bool unsolicited(const QByteArray& line) {
        if (line.isEmpty()) {
            return false;
        }
        if (m_reportLength >= 0) {
            const int length = std::exchange(m_reportLength, -1);
            const bool hex =
                line.size() <= 512 && std::all_of(line.begin(), line.end(), [](char c) {
                    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                });
            if (hex) {
                if (m_reports.size() < 64) {
                    m_reports.append({length, line});
                }
                return true;
            }
        }
        if (line.startsWith("+CDS:")) {
            bool ok = false;
            const int length = line.mid(5).trimmed().toInt(&ok);
            m_reportLength = ok && length > 0 && length <= 255 ? length : 0;
            return true;
        }
        return false;
    }

    Channel& m_channel;
    double m_timeout;
    int m_reportLength = -1;  // after "+CDS: <length>": the PDU line comes next
    QList<Report> m_reports;
};

namespace {

QString describe(const AtReply& r) {
    switch (r.kind) {
        case AtReply::Kind::Ok:
            return QStringLiteral("OK");
        case AtReply::Kind::Error:
            return QStringLiteral("ERROR");
        case AtReply::Kind::CmsError:
            return QStringLiteral("+CMS ERROR %1").arg(r.code);
        case AtReply::Kind::CmeError:
            return QStringLiteral("+CME ERROR %1").arg(r.code);
        case AtReply::Kind::Prompt:
            return QStringLiteral("the PDU prompt");
        case AtReply::Kind::Timeout:
            return QStringLiteral("no reply");
        case AtReply::Kind::Cancelled:
            return QStringLiteral("stopped");
        case AtReply::Kind::Closed:
            return QStringLiteral("the line closed");
    }
    return {};
}

// A refused PIN is remembered by a salted hash, per device, so the file
// shows neither the PIN nor which one it was at a glance.
QByteArray pinMark(const QString& device, const QString& pin) {
    return QCryptographicHash::hash(("calvex SIM PIN\n" + device + u'\n' + pin).toUtf8(),
                                    QCryptographicHash::Sha256)
        .toHex();
}

QList<QByteArray> otherDevices(const QString& path, const QString& device) {
    QList<QByteArray> keep;
    QFile f(path);
    if (f.open(QIODevice::ReadOnly)) {
        const QByteArray prefix = QFile::encodeName(device) + '\t';
        for (const QByteArray& line : f.read(64 * 1024).split('\n')) {
            if (!line.isEmpty() && !line.startsWith(prefix)) keep << line;
        }
    }
    return keep;
}

bool lineDown(const AtReply& r) {
    return r.kind == AtReply::Kind::Timeout || r.kind == AtReply::Kind::Cancelled ||
           r.kind == AtReply::Kind::Closed;
}

}  // namespace

bool GsmTransport::refusedPinIs(const QString& path, const QString& device, const QString& pin) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray wanted = QFile::encodeName(device) + '\t' + pinMark(device, pin);
    for (const QByteArray& line : f.read(64 * 1024).split('\n')) {
        if (line.trimmed() == wanted) {
            return true;
        }
    }
    return false;
}

bool GsmTransport::rememberRefusedPin(const QString& path, const QString& device,
                                      const QString& pin) {
    QList<QByteArray> lines = otherDevices(path, device);
    if (!pin.isEmpty()) {
        lines << QFile::encodeName(device) + '\t' + pinMark(device, pin);
    }
    if (lines.isEmpty()) {
        return !QFile::exists(path) || QFile::remove(path);
    }
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        return false;
    }
    f.write(lines.join('\n') + '\n');
    return f.commit();
}

bool GsmTransport::open(const QList<Page*>& pages) {
    auto fail = [&](PortStatus status, const QString& why) {
        failWaiting(pages, status, why);
        return false;
    };
    // GSM modems talk 8N1 without flow control unless the record says otherwise.
    const QString wanted = call().comSettings.trimmed();
    const auto settings =
        LineSettings::parse(wanted.isEmpty() ? QStringLiteral("115200,N,8,1,N") : wanted);
    if (!settings) {
        return fail(PortStatus::ModemError, QStringLiteral("bad line settings \"%1\"").arg(wanted));
    }
    trace().note(QStringLiteral("GSM modem on %1, %2").arg(m_target.device, settings->toString()));
    QString error;
    if (!m_port.open(m_target.device, *settings, m_opt.deviceWait, &error)) {
        return fail(Cancellation::requested() ? PortStatus::Cancelled : PortStatus::ModemError,
                    error);
    }
    m_channel = std::make_unique<Channel>(m_port, trace());
    m_at = std::make_unique<AtChannel>(*m_channel, timeout());
    AtChannel& at = *m_at;
    auto setupFailed = [&](const QByteArray& cmd, const AtReply& r) {
        return fail(
            r.kind == AtReply::Kind::Cancelled ? PortStatus::Cancelled : PortStatus::ModemError,
            QStringLiteral("modem answered %1 to %2").arg(describe(r), QString::fromLatin1(cmd)));
    };
    for (const QByteArray& cmd : {QByteArray("AT"), QByteArray("ATE0"), QByteArray("AT+CMEE=1")}) {
        const AtReply r = at.command(cmd);
        if (r.kind != AtReply::Kind::Ok && (cmd != "AT+CMEE=1" || lineDown(r))) {
            return setupFailed(cmd, r);
        }
    }
    AtReply r = at.command("AT+CPIN?");
    if (r.kind != AtReply::Kind::Ok) {
        return setupFailed("AT+CPIN?", r);
    }
    const QByteArray state = r.lines.isEmpty() ? QByteArray("+CPIN: READY") : r.lines.first();
    if (state.contains("SIM PIN")) {
        if (m_opt.gsmPin.isEmpty()) {
            return fail(PortStatus::ModemError,
                        QStringLiteral("the SIM asks for a PIN and calvex.ini has none"));
        }
        bool digits = !m_opt.gsmPin.isEmpty() && m_opt.gsmPin.size() <= 8;
        for (QChar c : m_opt.gsmPin) {
            digits = digits && c.isDigit() && c.unicode() < 0x80;
        }
        if (!digits) {
            return fail(PortStatus::ModemError,
                        QStringLiteral("the SIM PIN in calvex.ini is not 4 to 8 digits"));
        }
        // One try only for a given PIN, over every run and retry: a wrong PIN
        // tried again would block the SIM.
        const QString refusedFile = m_opt.stateDir + QStringLiteral("/calvex-pin.refused");
        if (refusedPinIs(refusedFile, m_target.device, m_opt.gsmPin)) {
            const QString why = QStringLiteral("SIM refused PIN");
            batch().portFault(true, why);
            return fail(PortStatus::ModemError,
                        QStringLiteral("the SIM refused this PIN before; it is not sent again "
                                       "until [gsm] pin changes"));
        }
        trace().note(QStringLiteral("entering the SIM PIN"));
        r = at.command("AT+CPIN=\"" + m_opt.gsmPin.toLatin1() + '"');
        if (r.kind != AtReply::Kind::Ok) {
            // Whether the SIM took it in or not, this PIN has had its one try.
            rememberRefusedPin(refusedFile, m_target.device, m_opt.gsmPin);
            batch().portFault(true, QStringLiteral("SIM refused PIN"));
            return fail(
                r.kind == AtReply::Kind::Cancelled ? PortStatus::Cancelled : PortStatus::ModemError,
                QStringLiteral("the SIM refused the PIN (%1)").arg(describe(r)));
        }
        rememberRefusedPin(refusedFile, m_target.device, QString());
    } else if (!state.contains("READY")) {
        return fail(PortStatus::ModemError,
                    QStringLiteral("the SIM is not ready: %1").arg(QString::fromLatin1(state)));
    }
    r = at.command("AT+CMGF=0");
    if (r.kind != AtReply::Kind::Ok) {
        return setupFailed("AT+CMGF=0", r);
    }
    if (m_opt.gsmReceipts) {
        // In PDU mode the TP-SRR bit of each SMS-SUBMIT asks the centre for
        // a report (AT+CSMP is for text mode). AT+CNMI=2,0,0,1,0 has the
        // modem pass reports on: mode 2, indications straight to the line,
        // held by the modem while the line is busy (a PDU being entered)
        // and sent after; mt 0, incoming SMS kept in the modem's store as
        // before, without a notice; bm 0, no cell broadcasts; ds 1, status
        // reports straight to the line as +CDS with their PDU; bfr 0,
        // reports held meanwhile come out once this takes effect. At the
        // message service modems start with (+CSMS 0), a +CDS needs no
        // acknowledgement (AT+CNMA is for service 1), so none is sent.
        r = at.command("AT+CNMI=2,0,0,1,0");
        if (r.kind == AtReply::Kind::Ok) {
            m_reports = true;
            trace().note(QStringLiteral("status reports asked for"));
        } else if (lineDown(r)) {
            return setupFailed("AT+CNMI=2,0,0,1,0", r);
        } else {
            trace().note(QStringLiteral("modem answered %1 to AT+CNMI: pages go without "
                                        "status reports")
                             .arg(describe(r)));
        }
        readReports();
        passVerdicts();
    }
    m_reference = QRandomGenerator::global()->bounded(256);
    return true;
}

Outcome GsmTransport::send(Page& p) {
    if (Cancellation::requested()) {
        return Outcome::down({});
    }
    const auto number = sms::phoneNumber(p.pin);
    if (!number) {
        return Outcome::failed(QStringLiteral("PIN \"%1\" is not a mobile number").arg(p.pin));
    }
    // A long text whose earlier parts the network accepted in an earlier
    // attempt goes on from the first part it did not, under the same
    // reference, so the handset can join the parts into one message.
    const QString progressFile = m_opt.stateDir + u'/' + smsparts::fileName();
    const QString key = smsparts::key(p.rec.uniqueId, p.rec.index);
    const QByteArray digest =
        QCryptographicHash::hash(*number + '\n' + p.text.toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .left(32);
    const smsparts::PartsSent earlier = smsparts::read(progressFile, key, digest);
    // The parts accepted from the first on (one at a time, so without gaps).
    const struct { int reference, parts; } before{earlier.reference, earlier.leading()};
    const int reference = before.parts > 0 ? before.reference : m_reference;
    sms::Coding coding = sms::Coding::Gsm7;
    const QList<sms::Part> parts = sms::encode(*number, p.text, reference, &coding, m_reports);
    if (before.parts == 0) {
        m_reference = (m_reference + 1) % 256;
    }
    if (parts.isEmpty()) {
        return Outcome::failed(QStringLiteral("text too long for SMS"));
    }
    trace().note(QStringLiteral("SMS to %1: %2 part(s), %3")
                     .arg(QString::fromLatin1(*number))
                     .arg(parts.size())
                     .arg(coding == sms::Coding::Gsm7 ? QStringLiteral("GSM 7-bit")
                                                      : QStringLiteral("UCS-2")));
    if (before.parts > 0) {
        trace().note(QStringLiteral("part(s) 1 to %1 accepted in an earlier attempt; going on "
                                    "under reference %2")
                         .arg(before.parts)
                         .arg(reference));
    }
    QStringList refs;
    QStringList ids;  // one per part sent in this attempt, while every reference is known
    bool followed = m_reports;
    for (qsizetype i = before.parts; i < parts.size(); ++i) {
        const sms::Part& part = parts[i];
        AtReply r = m_at->exchange("AT+CMGS=" + QByteArray::number(part.tpduLength) + '\r', true);
        if (r.kind == AtReply::Kind::Prompt) {
            r = m_at->exchange(part.hex + '\x1a');
        }
        if (r.kind != AtReply::Kind::Ok) {
            const QString why = QStringLiteral("modem answered %1 to AT+CMGS").arg(describe(r));
            if (!lineDown(r)) {
                if (r.kind == AtReply::Kind::CmsError && numberRefused(r.code)) {
                    smsparts::note(progressFile, key, {});
                    return Outcome::refused(why);
                }
                return Outcome::failed(why);
            }
            // The modem is gone or stuck: nothing after this can be confirmed.
            m_lineLost = true;
            if (r.kind == AtReply::Kind::Timeout) {
                m_channel->send(QByteArray(1, '\x1b'));  // abandons a PDU being entered
            }
            return Outcome::down(why);
        }
        int mr = -1;
        for (const QByteArray& line : r.lines) {
            if (line.startsWith("+CMGS:")) {
                refs << QString::fromLatin1(line.mid(6).trimmed());
                // "+CMGS: <mr>" and, from some modems, ",<ackpdu>" after it.
                bool ok = false;
                const int v = line.mid(6).split(',').first().trimmed().toInt(&ok);
                mr = ok && v >= 0 && v <= 255 ? v : -1;
            }
        }
        if (m_reports && mr >= 0) {
            ids << messageId(call().comPort, mr, *number);
            m_sent << ids.last();
        } else {
            followed = false;
        }
        if (parts.size() > 1 && i + 1 < parts.size()) {
            smsparts::note(
                progressFile, key,
                smsparts::PartsSent::firstParts(digest, reference, static_cast<int>(i + 1)));
        }
    }
    if (before.parts > 0 || parts.size() > 1) {
        smsparts::note(progressFile, key, {});
    }
    trace().note(QStringLiteral("modem reference(s) %1").arg(refs.join(u',')));
    if (followed && !ids.isEmpty()) {
        batch().awaitReceipts(p, ids);
        m_awaiting << ids;
        if (before.parts > 0) {
            trace().note(QStringLiteral("the reports of the parts sent earlier are not followed"));
        }
    } else if (m_reports) {
        trace().note(
            QStringLiteral("no message reference for every part: its reports are "
                           "not followed"));
    }
    readReports();
    passVerdicts();
    return Outcome::sent();
}

QString GsmTransport::messageId(int comPort, int reference, const QByteArray& recipient) {
    QByteArray digits;
    for (char c : recipient) {
        if (c >= '0' && c <= '9') {
            digits.append(c);
        }
    }
    return QStringLiteral("gsm:COM%1:%2:%3")
        .arg(comPort)
        .arg(reference)
        .arg(QString::fromLatin1(digits.right(8)));
}

void GsmTransport::readReports() {
    if (!m_at) {
        return;
    }
    for (const AtChannel::Report& raw : m_at->takeReports()) {
        QString error;
        const auto r = sms::decodeStatusReport(raw.pdu, raw.length > 0 ? raw.length : -1, &error);
        if (!r) {
            trace().note(QStringLiteral("status report not understood: %1").arg(error));
            continue;
        }
        const QString id = messageId(call().comPort, r->reference, r->recipient);
        const sms::ReportState state = sms::reportState(r->status);
        const QString words = sms::statusText(r->status);
        trace().note(
            QStringLiteral("status report for %1 (%2): TP-ST 0x%3, %4%5")
                .arg(id, QString::fromLatin1(r->recipient))
                .arg(QString::number(r->status, 16).toUpper().rightJustified(2, u'0'), words,
                     state == sms::ReportState::Trying ? QStringLiteral(", the centre still tries")
                     : state == sms::ReportState::Unknown ? QStringLiteral(", no verdict")
                                                          : QString()));
        if (state == sms::ReportState::Delivered || state == sms::ReportState::Failed) {
            m_verdicts.append({id, state == sms::ReportState::Delivered,
                               state == sms::ReportState::Delivered ? QString() : words});
        }
    }
}

void GsmTransport::passVerdicts() {
    for (const Verdict& v : std::exchange(m_verdicts, {})) {
        if (m_awaiting.removeOne(v.messageId) || !m_sent.contains(v.messageId)) {
            batch().receipt(v.messageId, v.delivered, v.reason);
        } else {
            // A part of a page that did not go out whole, or one already settled.
            trace().note(
                QStringLiteral("report for %1 not kept: no page awaits it").arg(v.messageId));
        }
    }
}

void GsmTransport::awaitReports() {
    if (!m_at || !m_reports || m_lineLost || m_awaiting.isEmpty() || Cancellation::requested()) {
        return;
    }
    if (m_opt.gsmReceiptWait <= 0) {
        trace().note(QStringLiteral("%1 part(s) await a status report; [gsm] receipt_wait is 0")
                         .arg(m_awaiting.size()));
        return;
    }
    trace().note(QStringLiteral("waiting up to %1 s for the status reports of %2 part(s)")
                     .arg(m_opt.gsmReceiptWait)
                     .arg(m_awaiting.size()));
    const Deadline until = deadlineIn(m_opt.gsmReceiptWait);
    LineWait w = LineWait::Data;
    while (!m_awaiting.isEmpty() && w == LineWait::Data) {
        w = m_at->awaitReport(until);
        readReports();
        passVerdicts();
    }
    if (!m_awaiting.isEmpty()) {
        trace().note(QStringLiteral("%1 part(s) still without a status report (%2)")
                         .arg(m_awaiting.size())
                         .arg(w == LineWait::Cancelled ? QStringLiteral("stopped")
                              : w == LineWait::Closed  ? QStringLiteral("the line closed")
                                                       : QStringLiteral("time is up")));
    } else {
        trace().note(QStringLiteral("every awaited status report came"));
    }
}

bool GsmTransport::numberRefused(int cmsCode) {
    // The network's causes for a recipient it will never reach: unassigned
    // number (1), barred (8, 10), transfer rejected (21), unidentified or
    // unknown subscriber (28, 30), facility rejected (29). Congestion,
    // network and memory faults may pass another time.
    switch (cmsCode) {
        case 1:
        case 8:
        case 10:
        case 21:
        case 28:
        case 29:
        case 30:
            return true;
        default:
            return false;
    }
}

void GsmTransport::close(const QList<Page*>&) {
    awaitReports();
    m_port.close();
}

GsmTransport::GsmTransport(PortTarget target, const DialerOptions& options)
    : Transport(std::move(target), options) {}

GsmTransport::~GsmTransport() = default;

}  // namespace vts
