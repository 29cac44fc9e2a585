#include "SmppPdu.h"

#include <QRegularExpression>

#include <array>

namespace vts::smpp {

namespace {

void put32(QByteArray& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.append(static_cast<char>((v >> shift) & 0xFF));
    }
}

std::uint32_t get32(const QByteArray& in, qsizetype at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        v = (v << 8) | static_cast<unsigned char>(in[at + i]);
    }
    return v;
}

constexpr std::uint16_t kReceiptedMessageId = 0x001E;
constexpr std::uint16_t kMessageState = 0x0427;
constexpr std::uint16_t kNetworkErrorCode = 0x0423;

// message_state values and the receipt text's words for them.
constexpr std::array<const char*, 9> kStates{"",        "ENROUTE", "DELIVRD", "EXPIRED", "DELETED",
                                             "UNDELIV", "ACCEPTD", "UNKNOWN", "REJECTD"};

}  // namespace

QByteArray encode(const Pdu& pdu) {
    QByteArray out;
    put32(out, static_cast<std::uint32_t>(kHeader + pdu.body.size()));
    put32(out, pdu.command);
    put32(out, pdu.status);
    put32(out, pdu.sequence);
    return out + pdu.body;
}

Take take(QByteArray& buffer, Pdu& pdu) {
    if (buffer.size() < 4) {
        return Take::Incomplete;
    }
    const std::uint32_t length = get32(buffer, 0);
    if (length < kHeader || length > kMaxPdu) {
        return Take::Malformed;
    }
    if (buffer.size() < static_cast<qsizetype>(length)) {
        return Take::Incomplete;
    }
    pdu.command = get32(buffer, 4);
    pdu.status = get32(buffer, 8);
    pdu.sequence = get32(buffer, 12);
    pdu.body = buffer.mid(kHeader, length - kHeader);
    buffer.remove(0, length);
    return Take::Whole;
}

QString commandName(std::uint32_t command) {
    const bool response = (command & Response) != 0 && command != GenericNack;
    QString name;
    switch (command & ~Response) {
        case 0:
            return QStringLiteral("generic_nack");
        case BindReceiver:
            name = QStringLiteral("bind_receiver");
            break;
        case BindTransmitter:
            name = QStringLiteral("bind_transmitter");
            break;
        case SubmitSm:
            name = QStringLiteral("submit_sm");
            break;
        case DeliverSm:
            name = QStringLiteral("deliver_sm");
            break;
        case Unbind:
            name = QStringLiteral("unbind");
            break;
        case BindTransceiver:
            name = QStringLiteral("bind_transceiver");
            break;
        case EnquireLink:
            name = QStringLiteral("enquire_link");
            break;
        default:
            name = QStringLiteral("command 0x%1").arg(command & ~Response, 8, 16, QLatin1Char('0'));
    }
    return response ? name + QStringLiteral("_resp") : name;
}

QString statusName(std::uint32_t status) {
    static const struct {
        std::uint32_t code;
        const char* name;
    } names[] = {
        {0x00, "ESME_ROK"},
        {0x01, "ESME_RINVMSGLEN"},
        {0x02, "ESME_RINVCMDLEN"},
        {0x03, "ESME_RINVCMDID"},
        {0x04, "ESME_RINVBNDSTS"},
        {0x05, "ESME_RALYBND"},
        {0x06, "ESME_RINVPRTFLG"},
        {0x07, "ESME_RINVREGDLVFLG"},
        {0x08, "ESME_RSYSERR"},
        {0x0A, "ESME_RINVSRCADR"},
        {0x0B, "ESME_RINVDSTADR"},
        {0x0C, "ESME_RINVMSGID"},
        {0x0D, "ESME_RBINDFAIL"},
        {0x0E, "ESME_RINVPASWD"},
        {0x0F, "ESME_RINVSYSID"},
        {0x14, "ESME_RMSGQFUL"},
        {0x15, "ESME_RINVSERTYP"},
        {0x33, "ESME_RINVNUMDESTS"},
        {0x43, "ESME_RINVESMCLASS"},
        {0x45, "ESME_RSUBMITFAIL"},
        {0x48, "ESME_RINVSRCTON"},
        {0x49, "ESME_RINVSRCNPI"},
        {0x50, "ESME_RINVDSTTON"},
        {0x51, "ESME_RINVDSTNPI"},
        {0x53, "ESME_RINVSYSTYP"},
        {0x58, "ESME_RTHROTTLED"},
        {0x61, "ESME_RINVSCHED"},
        {0x62, "ESME_RINVEXPIRY"},
        {0x64, "ESME_RX_T_APPN"},
        {0x65, "ESME_RX_P_APPN"},
        {0x66, "ESME_RX_R_APPN"},
        {0xC0, "ESME_RINVOPTPARSTREAM"},
        {0xC1, "ESME_ROPTPARNOTALLWD"},
        {0xC2, "ESME_RINVPARLEN"},
        {0xC3, "ESME_RMISSINGOPTPARAM"},
        {0xC4, "ESME_RINVOPTPARAMVAL"},
        {0xFE, "ESME_RDELIVERYFAILURE"},
        {0xFF, "ESME_RUNKNOWNERR"},
    };
    for (const auto& n : names) {
        if (n.code == status) {
            return QString::fromLatin1(n.name);
        }
    }
    return QStringLiteral("status 0x%1").arg(status, 8, 16, QLatin1Char('0'));
}

Verdict judge(std::uint32_t status) {
    switch (status) {
        case ROK:
            return Verdict::Sent;
        // The destination or the message itself is refused: sending it again
        // meets the same answer.
        case RINVMSGLEN:
        case RINVDSTADR:
        case RINVDSTTON:
        case RINVDSTNPI:
        case 0x33:  // ESME_RINVNUMDESTS
        case 0x43:  // ESME_RINVESMCLASS
        case RX_P_APPN:
        case RX_R_APPN:
            return Verdict::Final;
        // Throttling, a full queue, system and unknown errors pass.
        default:
            return Verdict::Temporary;
    }
}

Writer& Writer::cstring(const QByteArray& s, int max) {
    m_out += s.left(max - 1);
    m_out.append('\0');
    return *this;
}

Writer& Writer::u8(int v) {
    m_out.append(static_cast<char>(v & 0xFF));
    return *this;
}

Writer& Writer::bytes(const QByteArray& b) {
    m_out += b;
    return *this;
}

Writer& Writer::tlv(std::uint16_t tag, const QByteArray& value) {
    u8(tag >> 8).u8(tag & 0xFF);
    u8(static_cast<int>(value.size() >> 8)).u8(static_cast<int>(value.size() & 0xFF));
    m_out += value;
    return *this;
}

QByteArray Reader::cstring(int max) {
    const qsizetype end = m_in.indexOf('\0', m_at);
    if (!m_ok || end < 0 || end - m_at >= max) {
        m_ok = false;
        return {};
    }
    QByteArray s = m_in.mid(m_at, end - m_at);
    m_at = end + 1;
    return s;
}

int Reader::u8() {
    if (!m_ok || m_at >= m_in.size()) {
        m_ok = false;
        return 0;
    }
    return static_cast<unsigned char>(m_in[m_at++]);
}

QByteArray Reader::bytes(int n) {
    if (!m_ok || n < 0 || m_at + n > m_in.size()) {
        m_ok = false;
        return {};
    }
    QByteArray b = m_in.mid(m_at, n);
    m_at += n;
    return b;
}

bool Reader::tlv(std::uint16_t& tag, QByteArray& value) {
    if (atEnd() || !m_ok) {
        return false;
    }
    const int hiTag = u8(), loTag = u8(), hiLen = u8(), loLen = u8();
    tag = static_cast<std::uint16_t>((hiTag << 8) | loTag);
    value = bytes((hiLen << 8) | loLen);
    return m_ok;
}

QByteArray bindBody(const Bind& b) {
    return Writer()
        .cstring(b.systemId, 16)
        .cstring(b.password, 9)
        .cstring(b.systemType, 13)
        .u8(0x34)  // interface_version
        .u8(b.ton)
        .u8(b.npi)
        .cstring({}, 41)  // address_range
        .data();
}

std::optional<BindRequest> readBind(const QByteArray& body) {
    Reader r(body);
    BindRequest b;
    b.systemId = r.cstring(16);
    b.password = r.cstring(9);
    b.systemType = r.cstring(13);
    r.u8();
    r.u8();
    r.u8();
    r.cstring(41);
    return r.ok() ? std::optional(b) : std::nullopt;
}

QByteArray shortMessageBody(const ShortMessage& m) {
    Writer w;
    w.cstring({}, 6)  // service_type: the SMSC's default
        .u8(m.sourceTon)
        .u8(m.sourceNpi)
        .cstring(m.source, 21)
        .u8(m.destTon)
        .u8(m.destNpi)
        .cstring(m.destination, 21)
        .u8(m.esmClass)
        .u8(0)            // protocol_id
        .u8(0)            // priority_flag
        .cstring({}, 17)  // schedule_delivery_time: now
        .cstring({}, 17)  // validity_period: the SMSC's default
        .u8(m.registeredDelivery)
        .u8(0)  // replace_if_present_flag
        .u8(m.dataCoding)
        .u8(0)  // sm_default_msg_id
        .u8(static_cast<int>(m.message.size()))
        .bytes(m.message.left(254));
    for (const auto& [tag, value] : m.tlvs) {
        w.tlv(tag, value);
    }
    return w.data();
}

std::optional<ShortMessage> readShortMessage(const QByteArray& body) {
    Reader r(body);
    ShortMessage m;
    r.cstring(6);
    m.sourceTon = r.u8();
    m.sourceNpi = r.u8();
    m.source = r.cstring(21);
    m.destTon = r.u8();
    m.destNpi = r.u8();
    m.destination = r.cstring(21);
    m.esmClass = r.u8();
    r.u8();
    r.u8();
    r.cstring(17);
    r.cstring(17);
    m.registeredDelivery = r.u8();
    r.u8();
    m.dataCoding = r.u8();
    r.u8();
    m.message = r.bytes(r.u8());
    std::uint16_t tag = 0;
    QByteArray value;
    while (r.tlv(tag, value)) {
        m.tlvs.append({tag, value});
    }
    if (!r.ok()) {
        return std::nullopt;
    }
    return m;
}

std::optional<Receipt> readReceipt(const ShortMessage& m) {
    if ((m.esmClass & 0x3C) != 0x04) {
        return std::nullopt;
    }
    Receipt r;
    for (const auto& [tag, value] : m.tlvs) {
        if (tag == kReceiptedMessageId) {
            r.messageId = value.left(value.indexOf('\0') < 0 ? value.size() : value.indexOf('\0'));
        } else if (tag == kMessageState && value.size() == 1) {
            const auto s = static_cast<unsigned char>(value[0]);
            r.state = s < kStates.size() ? QString::fromLatin1(kStates[s]) : QString();
        } else if (tag == kNetworkErrorCode && value.size() == 3) {
            r.error = QString::number((static_cast<unsigned char>(value[1]) << 8) |
                                      static_cast<unsigned char>(value[2]));
        }
    }
    // The receipt text SMS centres send ("id:... sub:... stat:... err:..."),
    // read field by field.
    static const QRegularExpression field(QStringLiteral("\\b(id|stat|err):([^ ]*)"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QString text = QString::fromLatin1(m.message.left(254));
    for (auto it = field.globalMatch(text); it.hasNext();) {
        const auto match = it.next();
        const QString key = match.captured(1).toLower();
        const QString value = match.captured(2).left(64);
        if (key == u"id" && r.messageId.isEmpty()) {
            r.messageId = value.toLatin1();
        } else if (key == u"stat" && r.state.isEmpty()) {
            r.state = value.toUpper();
        } else if (key == u"err" && r.error.isEmpty()) {
            r.error = value;
        }
    }
    if (r.messageId.isEmpty() || r.state.isEmpty()) {
        return std::nullopt;
    }
    return r;
}

QByteArray receiptText(const QByteArray& messageId, const QString& state, const QString& error) {
    const QByteArray stamp = "2601010000";
    return "id:" + messageId + " sub:001 dlvrd:" + (state == u"DELIVRD" ? "001" : "000") +
           " submit date:" + stamp + " done date:" + stamp + " stat:" + state.toLatin1() +
           " err:" + error.toLatin1() + " text:";
}

}  // namespace vts::smpp
