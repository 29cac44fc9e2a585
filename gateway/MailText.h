#pragma once

#include <QByteArray>
#include <QString>

namespace vts::gate::mail {

// What a page needs from one mail: its subject, its From address and its text.
struct MailContent {
    QString subject;
    QString from;  // the address of the From header, else empty
    QString text;  // the first plain text part, else the first HTML part as text
};

// Reads a mail as received after DATA (headers, empty line, body; line
// ends CR LF or LF). Multipart mails are searched depth first for a text/plain
// part that is not an attachment, then for a text/html one; quoted-printable
// and base64 are decoded and the part's charset applied.
MailContent extract(const QByteArray& mail);

// The pieces, for tests.
QByteArray decodeQuotedPrintable(const QByteArray& in);
// RFC 2047 encoded words ("=?UTF-8?B?...?=", "=?ISO-8859-1?Q?...?=") in a
// header value; everything else is taken as UTF-8.
QString decodeHeader(const QByteArray& value);
// HTML reduced to text: scripts, styles and comments dropped, tags removed,
// breaks and block ends made line breaks, character references decoded.
QString htmlToText(const QString& html);

}  // namespace vts::gate::mail
