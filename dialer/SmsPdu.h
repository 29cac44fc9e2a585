#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// SMS-SUBMIT PDUs for a GSM modem in PDU mode: the GSM 7-bit default
// alphabet (with its extension table) where the text fits it, UCS-2
// where it does not, and concatenated parts (8-bit reference user-data
// header) for a text longer than one message. Also the reverse, for the
// simulated modem and the tests.
namespace vts::sms {

enum class Coding { Gsm7, Ucs2 };

// The text as GSM 7-bit septets (extension characters as ESC + code), or
// nullopt when a character has no GSM form.
std::optional<QByteArray> toGsm7(const QString& text);
QString fromGsm7(const QByteArray& septets);

// A destination number: optional leading '+', then digits; blanks, dashes,
// dots and brackets are dropped. nullopt for anything else.
std::optional<QByteArray> phoneNumber(const QString& text);

struct Part {
    QByteArray hex;  // the PDU as the modem takes it: "00" (the SIM's SMSC) + TPDU, upper-case hex
    int tpduLength = 0;  // octets after the SMSC field, for AT+CMGS=<n>
};

// The user data of `text` cut into as few messages as it needs: GSM 7-bit
// septets one per octet (escape pairs kept whole) where the text fits the
// alphabet, else UCS-2 octets (surrogate pairs kept whole). One chunk when
// the text fits a single message, else chunks sized to follow a
// concatenation header; empty when it needs more than 255.
QList<QByteArray> split(const QString& text, Coding* coding = nullptr);
// The 6-octet user data header of part `sequence` of `total` under `reference`.
QByteArray concatenationHeader(int reference, int total, int sequence);

// Splits `text` into as few parts as it needs (at most 255); empty when it
// needs more. `reference` tells the parts of one message apart.
// `statusReport` sets TP-SRR in every part: the centre is asked to send an
// SMS-STATUS-REPORT once it knows the part's fate.
QList<Part> encode(const QByteArray& number, const QString& text, int reference,
                   Coding* coding = nullptr, bool statusReport = false);

// A decoded SMS-SUBMIT.
struct Decoded {
    QByteArray number;  // with '+' for international numbers
    Coding coding = Coding::Gsm7;
    QString text;
    int reference = -1;  // concatenation: -1 when the message is whole
    int total = 1;
    int sequence = 1;
    bool statusReport = false;  // TP-SRR
};
// Decodes the modem's input (SMSC field included); nullopt with a reason
// for anything malformed.
std::optional<Decoded> decode(const QByteArray& hex, QString* error);

// An SMS-STATUS-REPORT: what the centre learnt of the SMS-SUBMIT it took
// under message reference `reference` for `recipient`.
struct StatusReport {
    int reference = 0;     // TP-MR, as the modem answered +CMGS
    QByteArray recipient;  // TP-RA: digits, '+' first for an international number
    QDateTime centreTime;  // TP-SCTS: when the centre took the message (invalid if garbled)
    QDateTime doneTime;    // TP-DT: when it was delivered or given up (invalid if garbled)
    int status = 0;        // TP-ST
};
// What TP-ST says: delivered (0x00-0x1F), still being tried (0x20-0x3F),
// given up (0x40-0x7F: permanent errors, and temporary ones the centre no
// longer retries), or a reserved value that says neither.
enum class ReportState { Delivered, Trying, Failed, Unknown };
ReportState reportState(int status);
// TP-ST in words ("SME busy", "validity period expired", ...).
QString statusText(int status);
// Decodes a report as +CDS hands it on. `tpduLength` is the length +CDS
// announced (octets after the SMSC field): a PDU of exactly that many
// octets has no SMSC field, as some modems send it; with -1 the field is
// expected. nullopt with a reason for anything malformed or cut short.
std::optional<StatusReport> decodeStatusReport(const QByteArray& hex, int tpduLength,
                                               QString* error);
// The report as a centre sends it, SMSC field first (`smsc`: digits with
// an optional '+'; empty: none given), upper-case hex; `tpduLength` gets
// the octets after the SMSC field.
QByteArray encodeStatusReport(const StatusReport& report, const QByteArray& smsc,
                              int* tpduLength = nullptr);

}  // namespace vts::sms
