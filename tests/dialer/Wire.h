#pragma once

#include <QByteArray>
#include <QString>

// Protocol bytes written the way the trace shows them: "<STX>123<CR>ABC<CR><ETX>17;<CR>".
// Control bytes by name, others as "<0xNN>"; everything else as is.
namespace vts::test {

inline QByteArray wire(const char* text) {
    static const char* const names[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                          "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                          "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                          "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    const QByteArray in(text);
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        const qsizetype close = in[i] == '<' ? in.indexOf('>', i) : -1;
        if (close > i) {
            const QByteArray name = in.mid(i + 1, close - i - 1);
            bool found = false;
            for (int c = 0; c < 32 && !found; ++c) {
                if (name == names[c]) {
                    out.append(static_cast<char>(c));
                    found = true;
                }
            }
            if (!found && name.startsWith("0x")) {
                out.append(static_cast<char>(name.mid(2).toInt(&found, 16)));
            }
            if (found) {
                i = close;
                continue;
            }
        }
        out.append(in[i]);
    }
    return out;
}

}  // namespace vts::test
