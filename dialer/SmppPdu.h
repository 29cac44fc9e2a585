#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

// SMPP 3.4 protocol data units as the dialer and the simulator exchange
// them: the 16-octet header (length, command, status, sequence, all
// big-endian), the bodies of the operations a paging client uses, and the
// reading of a delivery receipt. Readers are bounded: a length below the
// header or above kMaxPdu, or a field running past its PDU, is malformed.
namespace vts::smpp {

enum Command : std::uint32_t {
    GenericNack = 0x80000000,
    BindReceiver = 0x00000001,
    BindTransmitter = 0x00000002,
    SubmitSm = 0x00000004,
    DeliverSm = 0x00000005,
    Unbind = 0x00000006,
    BindTransceiver = 0x00000009,
    EnquireLink = 0x00000015,
    Response = 0x80000000,  // the response bit: BindTransmitter | Response is its response
};

enum Status : std::uint32_t {
    ROK = 0x00,
    RINVMSGLEN = 0x01,
    RINVCMDLEN = 0x02,
    RINVCMDID = 0x03,
    RINVBNDSTS = 0x04,
    RALYBND = 0x05,
    RSYSERR = 0x08,
    RINVSRCADR = 0x0A,
    RINVDSTADR = 0x0B,
    RBINDFAIL = 0x0D,
    RINVPASWD = 0x0E,
    RINVSYSID = 0x0F,
    RMSGQFUL = 0x14,
    RSUBMITFAIL = 0x45,
    RINVDSTTON = 0x50,
    RINVDSTNPI = 0x51,
    RTHROTTLED = 0x58,
    RX_T_APPN = 0x64,
    RX_P_APPN = 0x65,
    RX_R_APPN = 0x66,
};

inline constexpr std::uint32_t kMaxPdu = 64 * 1024;
inline constexpr int kHeader = 16;

struct Pdu {
    std::uint32_t command = 0;
    std::uint32_t status = 0;
    std::uint32_t sequence = 0;
    QByteArray body;
};

QByteArray encode(const Pdu& pdu);
enum class Take { Incomplete, Whole, Malformed };
// Takes the first whole PDU off `buffer`.
Take take(QByteArray& buffer, Pdu& pdu);

// The name of a command ("submit_sm_resp") and of a status ("ESME_RTHROTTLED").
QString commandName(std::uint32_t command);
QString statusName(std::uint32_t status);

// What a submit_sm_resp's status says of the page.
enum class Verdict { Sent, Temporary, Final };
Verdict judge(std::uint32_t status);

// Body builder: C-octet strings cut to their field's size, integers big-endian.
class Writer {
public:
    Writer& cstring(const QByteArray& s, int max);  // max includes the terminator
    Writer& u8(int v);
    Writer& bytes(const QByteArray& b);
    Writer& tlv(std::uint16_t tag, const QByteArray& value);
    QByteArray data() const { return m_out; }

private:
    QByteArray m_out;
};

// Body reader: every read fails once the body ends early.
class Reader {
public:
    explicit Reader(const QByteArray& body) : m_in(body) {}
    QByteArray cstring(int max);
    int u8();
    QByteArray bytes(int n);
    bool ok() const { return m_ok; }
    bool atEnd() const { return m_at >= m_in.size(); }
    // The optional parameters after the mandatory ones: tag and value.
    bool tlv(std::uint16_t& tag, QByteArray& value);

private:
    const QByteArray& m_in;
    qsizetype m_at = 0;
    bool m_ok = true;
};

struct Bind {
    QByteArray systemId, password, systemType;
    int ton = 0, npi = 0;
};
QByteArray bindBody(const Bind& b);
struct BindRequest {
    QByteArray systemId, password, systemType;
};
std::optional<BindRequest> readBind(const QByteArray& body);

// submit_sm and deliver_sm share their body.
struct ShortMessage {
    QByteArray source, destination;
    int sourceTon = 0, sourceNpi = 0, destTon = 0, destNpi = 0;
    int esmClass = 0;  // 0x40: the message starts with a user data header; 0x04: a receipt
    int registeredDelivery = 0;
    int dataCoding = 0;  // 0 the SMSC's default alphabet (GSM 7-bit), 8 UCS-2
    QByteArray message;  // at most 254 octets
    QList<QPair<std::uint16_t, QByteArray>> tlvs;
};
QByteArray shortMessageBody(const ShortMessage& m);
std::optional<ShortMessage> readShortMessage(const QByteArray& body);

// A delivery receipt: the message it is about and its final state.
struct Receipt {
    QByteArray messageId;
    QString state;  // "DELIVRD", "UNDELIV", "EXPIRED", "REJECTD", ...
    QString error;  // the network's error code, when given
    bool delivered() const { return state == u"DELIVRD"; }
};
// The receipt a deliver_sm carries: its TLVs (receipted_message_id,
// message_state) where present, else the text "id:... stat:... err:...";
// nullopt when the deliver_sm is not a receipt.
std::optional<Receipt> readReceipt(const ShortMessage& m);
// The receipt text an SMSC sends, for the simulator.
QByteArray receiptText(const QByteArray& messageId, const QString& state, const QString& error);

}  // namespace vts::smpp
