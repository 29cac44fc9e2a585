#include "SmppTransport.h"

#include "CurlSupport.h"
#include "Line.h"
#include "SmsPdu.h"
#include "TcpLine.h"
#include "TraceLog.h"

#include <QCryptographicHash>
#include <QDateTime>

#include <poll.h>
#include <unistd.h>

namespace vts {

using namespace smpp;

namespace {

constexpr int kMaxAddressDigits = 20;
constexpr double kWakeSeconds = 2;  // how often a receiver looks at the dialer's notes

QString hex(const QByteArray& b) { return QString::fromLatin1(b.left(40).toHex()); }

}  // namespace

SmppTransport::SmppTransport(PortTarget target, const DialerOptions& options)
    : Transport(std::move(target), options),
      // A reference of its own per run, so parts of two runs' texts to one
      // handset are never joined.
      m_reference(static_cast<int>((QDateTime::currentMSecsSinceEpoch() + ::getpid()) & 0xFF)) {}

SmppTransport::~SmppTransport() = default;

std::optional<SmppTransport::Address> SmppTransport::destination(const QString& pin, int ton,
                                                                 int npi) {
    Address a{{}, ton, npi};
    bool international = false;
    for (qsizetype i = 0; i < pin.size(); ++i) {
        const QChar c = pin[i];
        if (c == u' ' || c == u'-' || c == u'.' || c == u'(' || c == u')') {
            continue;
        }
        if (c == u'+' && a.digits.isEmpty() && !international) {
            international = true;
            a.ton = 1;
            a.npi = 1;
        } else if (c >= u'0' && c <= u'9') {
            a.digits.append(static_cast<char>(c.unicode()));
        } else {
            return std::nullopt;
        }
    }
    if (a.digits.isEmpty() || a.digits.size() > kMaxAddressDigits) {
        return std::nullopt;
    }
    return a;
}

QList<ShortMessage> SmppTransport::messages(const QString& text, int reference) {
    sms::Coding coding = sms::Coding::Gsm7;
    const QList<QByteArray> chunks = sms::split(text, &coding);
    QList<ShortMessage> out;
    const bool concatenated = chunks.size() > 1;
    for (qsizetype n = 0; n < chunks.size(); ++n) {
        ShortMessage m;
        m.dataCoding = coding == sms::Coding::Gsm7 ? 0x00 : 0x08;
        if (concatenated) {
            m.esmClass = 0x40;
            m.message = sms::concatenationHeader(reference, static_cast<int>(chunks.size()),
                                                 static_cast<int>(n + 1));
        }
        m.message += chunks[n];
        out.append(m);
    }
    return out;
}

std::uint32_t SmppTransport::request(std::uint32_t command, const QByteArray& body) {
    m_sequence = m_sequence >= 0x7FFFFFFF ? 1 : m_sequence + 1;
    if (m_up && !m_line->write(encode({command, 0, m_sequence, body}))) {
        down(QStringLiteral("connection lost"));
    }
    return m_sequence;
}

void SmppTransport::respond(const Pdu& to, std::uint32_t status, const QByteArray& body) {
    const std::uint32_t command = to.command == GenericNack ? GenericNack : (to.command | Response);
    trace().note(QStringLiteral("-> %1 #%2 %3")
                     .arg(commandName(command))
                     .arg(to.sequence)
                     .arg(statusName(status)));
    if (m_up && !m_line->write(encode({command, status, to.sequence, body}))) {
        down(QStringLiteral("connection lost"));
    }
}

void SmppTransport::down(const QString& why) {
    if (m_up) {
        trace().note(QStringLiteral("session down: %1").arg(why));
        setReason(why);
    }
    m_up = false;
}

bool SmppTransport::serve(const std::function<bool()>& done) {
    for (;;) {
        Pdu pdu;
        for (;;) {
            const Take t = smpp::take(m_in, pdu);
            if (t == Take::Malformed) {
                down(QStringLiteral("malformed PDU from the SMS centre"));
                break;
            }
            if (t == Take::Incomplete) {
                break;
            }
            handle(pdu);
            if (!m_up) {
                break;
            }
        }
        if (!m_up) {
            return false;
        }
        if (done()) {
            return true;
        }
        const Deadline keepAlive =
            m_lastHeard +
            std::chrono::milliseconds(static_cast<int>(m_opt.smpp.enquireLink * 1000));
        Deadline wake = std::min(m_replyBy, keepAlive);
        if (m_wake) {
            wake = std::min(wake, deadlineIn(kWakeSeconds));
        }
        const LineWait got = m_line->read(m_in, wake);
        if (m_wake) {
            m_wake();
        }
        switch (got) {
            case LineWait::Data:
                m_lastHeard = Clock::now();
                if (m_receiving && m_bindStatus >= 0) {
                    m_replyBy = Clock::time_point::max();  // the centre is there
                }
                continue;
            case LineWait::Timeout:
                if (Clock::now() >= m_replyBy) {
                    down(QStringLiteral("no reply from the SMS centre in %1 s").arg(timeout()));
                    return false;
                }
                if (Clock::now() < keepAlive) {
                    continue;  // the receiver's own wake-up
                }
                trace().note(QStringLiteral("-> enquire_link #%1").arg(m_sequence + 1));
                request(EnquireLink, {});
                m_lastHeard = Clock::now();
                if (m_receiving) {
                    m_replyBy = std::min(m_replyBy, deadlineIn(timeout()));
                }
                continue;
            case LineWait::Cancelled:
                down(QStringLiteral("stopped"));
                return false;
            case LineWait::Closed:
                down(QStringLiteral("connection lost"));
                return false;
        }
    }
}

void SmppTransport::handle(const Pdu& pdu) {
    const QString name = commandName(pdu.command);
    const bool isResponse = (pdu.command & Response) != 0;
    switch (pdu.command) {
        case BindTransceiver | Response:
        case BindTransmitter | Response:
        case BindReceiver | Response:
            if (pdu.sequence == m_bindSequence) {
                trace().note(QStringLiteral("<- %1 #%2 %3")
                                 .arg(name)
                                 .arg(pdu.sequence)
                                 .arg(statusName(pdu.status)));
                m_bindStatus = static_cast<int>(pdu.status);
            }
            return;
        case SubmitSm | Response: {
            const auto it = m_pending.constFind(pdu.sequence);
            Reader r(pdu.body);
            const QByteArray id = pdu.body.isEmpty() ? QByteArray() : r.cstring(65);
            trace().note(
                QStringLiteral("<- %1 #%2 %3%4")
                    .arg(name)
                    .arg(pdu.sequence)
                    .arg(statusName(pdu.status))
                    .arg(id.isEmpty()
                             ? QString()
                             : QStringLiteral(" message_id %1").arg(QString::fromLatin1(id))));
            if (it == m_pending.constEnd()) {
                return;  // a reply to nothing awaited: it changes no page
            }
            const Pending p = *it;
            m_pending.erase(it);
            answerPart(p, pdu.status, statusName(pdu.status), id);
            return;
        }
        case GenericNack: {
            trace().note(QStringLiteral("<- generic_nack #%1 %2")
                             .arg(pdu.sequence)
                             .arg(statusName(pdu.status)));
            const auto it = m_pending.constFind(pdu.sequence);
            if (it != m_pending.constEnd()) {
                const Pending p = *it;
                m_pending.erase(it);
                answerPart(p, pdu.status == ROK ? static_cast<std::uint32_t>(RSYSERR) : pdu.status,
                           QStringLiteral("generic_nack %1").arg(statusName(pdu.status)), {});
            } else if (pdu.sequence == m_bindSequence) {
                m_bindStatus = static_cast<int>(pdu.status == ROK ? RBINDFAIL : pdu.status);
            }
            return;
        }
        case EnquireLink:
            trace().note(QStringLiteral("<- enquire_link #%1").arg(pdu.sequence));
            respond(pdu, ROK);
            return;
        case EnquireLink | Response:
            trace().note(QStringLiteral("<- enquire_link_resp #%1").arg(pdu.sequence));
            return;
        case DeliverSm: {
            const auto m = readShortMessage(pdu.body);
            const auto receipt = m ? readReceipt(*m) : std::nullopt;
            trace().note(
                QStringLiteral("<- deliver_sm #%1 %2")
                    .arg(pdu.sequence)
                    .arg(receipt ? QStringLiteral("receipt for %1: %2%3")
                                       .arg(QString::fromLatin1(receipt->messageId), receipt->state,
                                            receipt->error.isEmpty()
                                                ? QString()
                                                : QStringLiteral(" err ") + receipt->error)
                                 : QStringLiteral("(not a receipt)")));
            if (!m) {
                respond(pdu, RINVMSGLEN);
                return;
            }
            // Answered first: the centre may wait for the reply while the
            // store is busy for a moment.
            respond(pdu, ROK, Writer().cstring({}, 65).data());
            if (receipt) {
                m_receipts.append({receipt->messageId, receipt->state, receipt->error});
                batch().receipt(
                    QString::fromLatin1(receipt->messageId), receipt->delivered(),
                    receipt->delivered()
                        ? QString()
                        : receipt->state + (receipt->error.isEmpty()
                                                ? QString()
                                                : QStringLiteral(" err ") + receipt->error));
            }
            return;
        }
        case Unbind:
            trace().note(QStringLiteral("<- unbind #%1").arg(pdu.sequence));
            respond(pdu, ROK);
            down(QStringLiteral("the SMS centre ended the session"));
            return;
        case Unbind | Response:
            trace().note(QStringLiteral("<- unbind_resp #%1").arg(pdu.sequence));
            m_unbound = m_unbound || pdu.sequence == m_unbindSequence;
            return;
        default:
            trace().note(QStringLiteral("<- %1 #%2 (%3 octets)")
                             .arg(name)
                             .arg(pdu.sequence)
                             .arg(pdu.body.size()));
            if (!isResponse) {
                respond({GenericNack, 0, pdu.sequence, {}}, RINVCMDID);
            }
    }
}

void SmppTransport::answerPart(const Pending& p, std::uint32_t status, const QString& what,
                               const QByteArray& messageId) {
    noteAnswered();
    m_replyBy = deadlineIn(timeout());
    auto st = m_pages.find(p.page);
    if (st == m_pages.end()) {
        return;
    }
    ++st->answered;
    const Verdict v = judge(status);
    if (v == Verdict::Sent) {
        // Kept at once, whatever the other parts come to: a retry after a
        // refused part, a lost session or a crash (even before the page's
        // status is written) sends only the rest.
        st->sent.accepted.insert(p.part + 1, messageId.left(smsparts::kMaxIdBytes));
        if (st->parts > 1 && !smsparts::note(partsFile(), st->key, st->sent)) {
            trace().note(QStringLiteral("%1 cannot be written: a retry sends every part of "
                                        "record %2")
                             .arg(smsparts::fileName())
                             .arg(p.page->record));
        }
    } else if (st->worst != Verdict::Final) {
        st->worst = v;
        st->why = QStringLiteral("SMS centre answered %1").arg(what);
    }
    if (status == RTHROTTLED || status == RMSGQFUL) {
        m_window = 1;  // the centre asks to slow down: one submit at a time from now on
    }
    if (st->answered < st->submits || !p.page->waiting()) {
        return;
    }
    const PageState s = *st;
    m_pages.erase(st);
    finish(*p.page, s);
}

void SmppTransport::finish(Page& page, const PageState& s) {
    QStringList messageIds;  // in the order of the parts
    for (const QByteArray& id : s.sent.accepted) {
        messageIds << QString::fromLatin1(id);
    }
    if (!messageIds.isEmpty()) {
        trace().note(
            QStringLiteral("record %1: message_id %2").arg(page.record).arg(messageIds.join(u',')));
    }
    switch (s.worst) {
        case Verdict::Sent:
            batch().setStatus(page, PortStatus::Sent, {});
            if (m_opt.smpp.registeredDelivery) {
                batch().awaitReceipts(page, messageIds);
            }
            break;
        case Verdict::Final:
            batch().setStatus(page, PortStatus::Failed, s.why, true);
            break;
        case Verdict::Temporary:
            batch().setStatus(page, PortStatus::Failed, s.why);
            break;
    }
    // Every part taken, or one refused for good: no retry needs the entry.
    if (s.parts > 1 && s.worst != Verdict::Temporary) {
        smsparts::note(partsFile(), s.key, {});
    }
}

QString SmppTransport::partsFile() const { return m_opt.stateDir + u'/' + smsparts::fileName(); }

bool SmppTransport::bind(std::uint32_t command, qsizetype pages) {
    const bool tls = m_target.kind == PortTarget::Kind::Smpps;
    m_in.clear();
    m_bindStatus = -1;
    m_unbound = false;
    QString error;
    if (tls) {
        trace().note(QStringLiteral("connecting in TLS to %1 port %2 for %3 page(s)")
                         .arg(m_target.host)
                         .arg(m_target.port)
                         .arg(pages));
        auto line = std::make_unique<TlsLine>();
        if (!line->connect(m_target.host, m_target.port, m_opt.smpp.tls, timeout(), &error)) {
            trace().note(error);
            setReason(error);
            return false;
        }
        m_line = std::move(line);
    } else {
        auto line = std::make_unique<TcpLine>();
        if (!connectTcp(*line, pages)) {
            return false;
        }
        m_line = std::move(line);
    }
    m_up = true;
    m_lastHeard = Clock::now();
    Bind b;
    b.systemId = m_opt.smpp.systemId.toLatin1();
    b.password = m_opt.smpp.password.toLatin1();
    b.systemType = m_opt.smpp.systemType.toLatin1();
    trace().note(QStringLiteral("-> %1 #%2 system_id \"%3\"")
                     .arg(commandName(command))
                     .arg(m_sequence + 1)
                     .arg(m_opt.smpp.systemId));
    m_bindSequence = request(command, bindBody(b));
    m_replyBy = deadlineIn(timeout());
    if (!serve([this] { return m_bindStatus >= 0; })) {
        return false;
    }
    if (m_bindStatus != ROK) {
        const QString why = QStringLiteral("the SMS centre refused the bind: %1")
                                .arg(statusName(static_cast<std::uint32_t>(m_bindStatus)));
        trace().note(why);
        setReason(why);
        m_up = false;
        return false;
    }
    return true;
}

bool SmppTransport::open(const QList<Page*>& pages) {
    m_window = m_opt.smpp.window;
    return bind(m_opt.smpp.registeredDelivery ? BindTransceiver : BindTransmitter, pages.size());
}

void SmppTransport::receive(Batch& sink, std::function<void()> wake) {
    attach(sink, 30);
    m_receiving = true;
    m_wake = std::move(wake);
    double wait = 1;
    while (!Cancellation::requested()) {
        if (bind(BindReceiver, 0)) {
            wait = 1;
            m_replyBy = Clock::time_point::max();
            serve([] { return false; });
        }
        if (Cancellation::requested()) {
            break;
        }
        m_line.reset();
        trace().note(QStringLiteral("binding again in %1 s").arg(wait));
        // A wait that a stop request ends at once.
        pollfd p{Cancellation::wakeFd(), POLLIN, 0};
        const Deadline until = deadlineIn(wait);
        while (!Cancellation::requested() && Clock::now() < until) {
            ::poll(&p, p.fd >= 0 ? 1 : 0, std::min(pollTimeoutMs(until), 5000));
            m_wake();
        }
        wait = std::min(wait * 2, 60.0);
    }
    // An orderly end: the session, if it still stands, is unbound.
    if (m_line) {
        Cancellation::setWatched(false);
        m_up = true;
        trace().note(QStringLiteral("-> unbind #%1").arg(m_sequence + 1));
        m_unbindSequence = request(Unbind, {});
        m_replyBy = deadlineIn(5);
        serve([this] { return m_unbound; });
        m_up = false;
        m_line.reset();
    }
}

Outcome SmppTransport::send(Page& page) {
    if (Cancellation::requested() || !m_up) {
        return Outcome::down({});
    }
    if (page.pin.isEmpty()) {
        return Outcome::failed(QStringLiteral("no PIN"));
    }
    const auto to = destination(page.pin, m_opt.smpp.destTon, m_opt.smpp.destNpi);
    if (!to) {
        return Outcome::refused(QStringLiteral("PIN \"%1\" is no SMS number").arg(page.pin));
    }
    PageState state;
    state.key = smsparts::key(page.rec.uniqueId, page.rec.index);
    const QByteArray digest =
        QCryptographicHash::hash("smpp\n" + to->digits + '\n' + page.text.toUtf8(),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(32);
    state.sent = smsparts::read(partsFile(), state.key, digest);
    if (!state.sent.any()) {
        m_reference = (m_reference + 1) & 0xFF;
        state.sent = {digest, m_reference, {}};
    }
    QList<ShortMessage> parts = messages(page.text, state.sent.reference);
    if (parts.isEmpty()) {
        return Outcome::refused(QStringLiteral("text too long for one SMS message"));
    }
    state.parts = static_cast<int>(parts.size());
    // A part number past this text's parts cannot be one of its own.
    while (state.sent.any() && state.sent.accepted.lastKey() > state.parts) {
        state.sent.accepted.remove(state.sent.accepted.lastKey());
    }
    state.submits = state.parts - static_cast<int>(state.sent.accepted.size());
    if (state.sent.any()) {
        QStringList earlier;
        for (auto it = state.sent.accepted.cbegin(); it != state.sent.accepted.cend(); ++it) {
            earlier << QString::number(it.key());
        }
        trace().note(QStringLiteral("part(s) %1 of %2 accepted in an earlier attempt; sending the "
                                    "rest under reference %3")
                         .arg(earlier.join(u','))
                         .arg(state.parts)
                         .arg(state.sent.reference));
    }
    if (state.submits == 0) {
        finish(page, state);  // the last attempt ended before its status was written
        return Outcome::written(true);
    }
    m_pages.insert(&page, state);
    for (qsizetype n = 0; n < parts.size(); ++n) {
        if (state.sent.accepted.contains(static_cast<int>(n + 1))) {
            continue;
        }
        ShortMessage& m = parts[n];
        m.source = m_opt.smpp.sourceAddr.toLatin1();
        m.sourceTon = m_opt.smpp.sourceTon;
        m.sourceNpi = m_opt.smpp.sourceNpi;
        m.destination = to->digits;
        m.destTon = to->ton;
        m.destNpi = to->npi;
        m.registeredDelivery = m_opt.smpp.registeredDelivery ? 1 : 0;
        if (!serve([this] { return m_pending.size() < m_window; })) {
            return Outcome::down(reason());
        }
        if (m_pending.isEmpty()) {
            m_replyBy = deadlineIn(timeout());
        }
        trace().note(
            QStringLiteral("-> submit_sm #%1 to %2 part %3/%4, %5, %6 octets %7")
                .arg(m_sequence + 1)
                .arg(QString::fromLatin1(to->digits))
                .arg(n + 1)
                .arg(parts.size())
                .arg(m.dataCoding == 0 ? QStringLiteral("GSM 7-bit") : QStringLiteral("UCS-2"))
                .arg(m.message.size())
                .arg(hex(m.message)));
        const std::uint32_t seq = request(SubmitSm, shortMessageBody(m));
        if (!m_up) {
            return Outcome::down(reason());
        }
        m_pending.insert(seq, {&page, static_cast<int>(n)});
    }
    return Outcome::written();
}

void SmppTransport::close(const QList<Page*>&) {
    if (m_up) {
        serve([this] { return m_pending.isEmpty(); });
    }
    if (m_up) {
        trace().note(QStringLiteral("-> unbind #%1").arg(m_sequence + 1));
        m_unbindSequence = request(Unbind, {});
        m_replyBy = deadlineIn(std::min(timeout(), 10.0));
        serve([this] { return m_unbound; });
    }
    m_up = false;
    m_line.reset();
    m_pending.clear();
    m_pages.clear();
}

}  // namespace vts
