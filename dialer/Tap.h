#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <initializer_list>
#include <optional>

// The paging protocol's byte-level rules, shared by the dialer and the
// simulated terminal: control bytes, checksums, character transparency,
// splitting a transaction's fields into blocks and taking a block apart
// again. Everything here works on 7-bit bytes; nothing touches a line.
namespace vts::tap {

inline constexpr char STX = 0x02, ETX = 0x03, EOT = 0x04, ACK = 0x06, LF = 0x0A, CR = 0x0D,
                      NAK = 0x15, ETB = 0x17, SUB = 0x1A, ESC = 0x1B, RS = 0x1E, US = 0x1F;

// A byte sequence from single bytes: seq({ESC, EOT, CR}).
inline QByteArray seq(std::initializer_list<char> bytes) {
    return QByteArray(bytes.begin(), static_cast<qsizetype>(bytes.size()));
}

// Information characters a block may carry at most (field CRs and
// transparency pairs count; STX, terminator, checksum and final CR do not).
inline constexpr int kMaxBlockChars = 250;

// Three checksum characters over `bytes` (STX through the terminator):
// the 7-bit sum, low 12 bits, one character 0x30 + nibble per nibble.
QByteArray checksum(const QByteArray& bytes);

// Nearest 7-bit form of a text: accents dropped, ligatures and typographic
// marks spelled out, anything without a plain form as '?'. Control
// characters stay (transparency escapes them later).
QByteArray transliterate(const QString& text);

// Escapes every control character as SUB + (c + 0x40); each entry of the
// result is one unit that a block split must never cut.
QList<QByteArray> escapeUnits(const QByteArray& field);

// Splits a transaction's fields into complete blocks (STX ... terminator,
// checksum, CR) of at most `maxChars` information characters each. A field
// cut at a block boundary continues after US; a block that ends on a field
// boundary ends in ETB; the last block ends in ETX. `maxChars` outside
// 2..250 is brought to that range (0 and below mean 250).
QList<QByteArray> buildBlocks(const QList<QByteArray>& fields, int maxChars);

int effectiveBlockChars(int maxChars);

// A block taken apart by a terminal.
struct ParsedBlock {
    enum class Error { None, NoStx, NoTerminator, BadChecksum, TooLong, BadTransparency };
    Error error = Error::None;
    char terminator = 0;  // ETX, ETB or US
    QByteArray content;   // information characters as sent (escaped)
    int infoChars = 0;
};

// Parses one complete block (STX through the final CR). A block whose
// checksum or size is wrong reports why; `maxChars` is the receiver's limit.
ParsedBlock parseBlock(const QByteArray& block, int maxChars = kMaxBlockChars);

// Undoes transparency; nullopt when a SUB is not followed by a valid byte.
std::optional<QByteArray> unescape(const QByteArray& bytes);

// A readable form of protocol bytes: printable ASCII as is, control bytes
// by name ("<STX>", "<CR>"), others as "<0xNN>".
QString describe(const QByteArray& bytes);

}  // namespace vts::tap
