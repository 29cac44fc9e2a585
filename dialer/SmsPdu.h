#pragma once

#include <QByteArray>
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
QList<Part> encode(const QByteArray& number, const QString& text, int reference,
                   Coding* coding = nullptr);

// A decoded SMS-SUBMIT.
struct Decoded {
    QByteArray number;  // with '+' for international numbers
    Coding coding = Coding::Gsm7;
    QString text;
    int reference = -1;  // concatenation: -1 when the message is whole
    int total = 1;
    int sequence = 1;
};
// Decodes the modem's input (SMSC field included); nullopt with a reason
// for anything malformed.
std::optional<Decoded> decode(const QByteArray& hex, QString* error);

}  // namespace vts::sms
