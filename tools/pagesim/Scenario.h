#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// What the simulated modem and paging terminal do, chosen per dialled
// number. A scenario file has one line per selector: a phone number (its
// digits are compared), "COMn" for everything on that port, or "*" for
// anything else, followed by behaviour words (see docs/dialer.md).
namespace vts::sim {

struct Behaviour {
    enum class Dial { Connect, Busy, NoAnswer, NoCarrier, NoDialtone, Silent, Error };
    Dial dial = Dial::Connect;
    bool dead = false;  // the modem answers nothing at all
    bool rejectLogon = false;
    std::optional<QByteArray> password;  // required log-on password
    bool rejectAllPages = false;
    QList<QByteArray> rejectPins;
    bool nakFirst = false;             // NAK the call's first block once
    bool garbled = false;              // line noise before every reply
    int dropAfter = -1;                // drop the call after this many pages
    int holdAfter = -1;                // stop answering after this many pages
    int bps = 0;                       // 0: no line delay; else the line's bit rate
    int maxBlock = 250;                // information characters per block
    bool withdraw = false;             // answer the log-off with RS (rejects the call's pages)
    bool doubleId = false;             // answer the first probe with "ID=" twice
    std::optional<QByteArray> simPin;  // GSM: the SIM asks for this PIN
    // GSM status reports, for parts that ask (TP-SRR) once AT+CNMI routes them:
    double reportAfter = 0.2;   // seconds after the part is taken
    bool noReports = false;     // never sent
    bool refuseCnmi = false;    // AT+CNMI answered ERROR
    bool reportTrying = false;  // a "still trying" report (SME busy) first
    // Where a report due goes: whenever the line is free, or held for the
    // next "> " prompt or the next "+CMGS:" answer and sent just before it.
    enum class ReportBefore { Any, Prompt, Cmgs };
    ReportBefore reportBefore = ReportBefore::Any;
    bool reportFailAll = false;           // TP-ST 0x41 (incompatible destination) for all
    QList<QByteArray> reportFailNumbers;  // ... or for these numbers' digits

    bool rejects(const QByteArray& pin) const { return rejectAllPages || rejectPins.contains(pin); }
    bool reportFails(const QByteArray& number) const;
};

class Scenario {
public:
    // Parses scenario text; nullopt with a message naming the line on error.
    static std::optional<Scenario> parse(const QString& text, QString* error);
    static std::optional<Scenario> load(const QString& path, QString* error);

    // Behaviour for a call to `number` on COM port `comPort`.
    Behaviour forCall(const QByteArray& number, int comPort) const;
    // Behaviour of the port before anything is dialled.
    Behaviour forPort(int comPort) const;

private:
    struct Entry {
        QString selector;  // digits, "COMn" or "*"
        Behaviour behaviour;
    };
    const Behaviour* find(const QString& selector) const;
    QList<Entry> m_entries;
};

QByteArray digitsOf(const QByteArray& number);

}  // namespace vts::sim
