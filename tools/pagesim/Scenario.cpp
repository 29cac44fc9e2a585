#include "Scenario.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

namespace vts::sim {

QByteArray digitsOf(const QByteArray& number) {
    QByteArray d;
    for (char c : number) {
        if (c >= '0' && c <= '9') {
            d.append(c);
        }
    }
    return d;
}

bool Behaviour::reportFails(const QByteArray& number) const {
    return reportFailAll || reportFailNumbers.contains(digitsOf(number));
}

std::optional<Scenario> Scenario::parse(const QString& text, QString* error) {
    Scenario s;
    const QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (const qsizetype hash = line.indexOf(u'#'); hash >= 0) {
            line.truncate(hash);
        }
        const QStringList words = line.simplified().split(u' ', Qt::SkipEmptyParts);
        if (words.isEmpty()) {
            continue;
        }
        auto fail = [&](const QString& why) {
            if (error) {
                *error = QStringLiteral("line %1: %2").arg(i + 1).arg(why);
            }
            return std::nullopt;
        };
        Entry e;
        e.selector = words[0].toUpper();
        if (e.selector != u"*" && !e.selector.startsWith(u"COM") &&
            digitsOf(e.selector.toLatin1()).isEmpty()) {
            return fail(QStringLiteral("\"%1\" is not a number, COMn or *").arg(words[0]));
        }
        if (e.selector != u"*" && !e.selector.startsWith(u"COM")) {
            e.selector = QString::fromLatin1(digitsOf(e.selector.toLatin1()));
        }
        Behaviour& b = e.behaviour;
        for (int w = 1; w < words.size(); ++w) {
            const QString& word = words[w];
            const qsizetype eq = word.indexOf(u'=');
            const QString key = (eq < 0 ? word : word.left(eq)).toLower();
            const QString value = eq < 0 ? QString() : word.mid(eq + 1);
            bool ok = true;
            auto count = [&](int fallback) {
                if (value.isEmpty()) {
                    return fallback;
                }
                const int v = value.toInt(&ok);
                if (v < 0) {
                    ok = false;
                }
                return v;
            };
            if (key == u"accept") {
                b.dial = Behaviour::Dial::Connect;
            } else if (key == u"busy") {
                b.dial = Behaviour::Dial::Busy;
            } else if (key == u"noanswer" || key == u"no-answer") {
                b.dial = Behaviour::Dial::NoAnswer;
            } else if (key == u"nocarrier" || key == u"no-carrier") {
                b.dial = Behaviour::Dial::NoCarrier;
            } else if (key == u"nodialtone" || key == u"no-dialtone") {
                b.dial = Behaviour::Dial::NoDialtone;
            } else if (key == u"silent") {
                b.dial = Behaviour::Dial::Silent;
            } else if (key == u"error") {
                b.dial = Behaviour::Dial::Error;
            } else if (key == u"dead") {
                b.dead = true;
            } else if (key == u"reject-logon") {
                b.rejectLogon = true;
            } else if (key == u"password") {
                if (value.isEmpty()) {
                    return fail(QStringLiteral("password needs a value"));
                }
                b.password = value.toLatin1();
            } else if (key == u"reject-page") {
                if (value.isEmpty()) {
                    b.rejectAllPages = true;
                } else {
                    b.rejectPins.append(value.toLatin1());
                }
            } else if (key == u"nak-first") {
                b.nakFirst = true;
            } else if (key == u"withdraw") {
                b.withdraw = true;
            } else if (key == u"sim-pin") {
                if (value.isEmpty()) {
                    return fail(QStringLiteral("sim-pin needs a value"));
                }
                b.simPin = value.toLatin1();
            } else if (key == u"report-after") {
                const double v = value.toDouble(&ok);
                ok = ok && v >= 0 && v <= 600;
                b.reportAfter = v;
            } else if (key == u"no-reports") {
                b.noReports = true;
            } else if (key == u"no-cnmi") {
                b.refuseCnmi = true;
            } else if (key == u"report-before") {
                ok = value == u"prompt" || value == u"cmgs";
                b.reportBefore = value == u"prompt" ? Behaviour::ReportBefore::Prompt
                                                    : Behaviour::ReportBefore::Cmgs;
            } else if (key == u"report-trying") {
                b.reportTrying = true;
            } else if (key == u"report-fail") {
                if (value.isEmpty()) {
                    b.reportFailAll = true;
                } else {
                    b.reportFailNumbers.append(digitsOf(value.toLatin1()));
                    ok = !b.reportFailNumbers.last().isEmpty();
                }
            } else if (key == u"double-id") {
                b.doubleId = true;
            } else if (key == u"garbled") {
                b.garbled = true;
            } else if (key == u"drop-after") {
                b.dropAfter = count(0);
            } else if (key == u"hold-after") {
                b.holdAfter = count(0);
            } else if (key == u"slow") {
                b.bps = count(1200);
            } else if (key == u"max-block") {
                b.maxBlock = count(250);
                if (b.maxBlock < 2 || b.maxBlock > 250) {
                    ok = false;
                }
            } else {
                return fail(QStringLiteral("unknown behaviour \"%1\"").arg(word));
            }
            if (!ok) {
                return fail(QStringLiteral("bad value in \"%1\"").arg(word));
            }
        }
        s.m_entries.append(e);
    }
    return s;
}

std::optional<Scenario> Scenario::load(const QString& path, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error) {
            *error = QStringLiteral("cannot read %1").arg(path);
        }
        return std::nullopt;
    }
    return parse(QString::fromUtf8(f.read(qint64{1024} * 1024)), error);
}

const Behaviour* Scenario::find(const QString& selector) const {
    for (const Entry& e : m_entries) {
        if (e.selector == selector) {
            return &e.behaviour;
        }
    }
    return nullptr;
}

Behaviour Scenario::forPort(int comPort) const {
    if (const Behaviour* b = find(QStringLiteral("COM%1").arg(comPort))) {
        return *b;
    }
    if (const Behaviour* b = find(QStringLiteral("*"))) {
        return *b;
    }
    return {};
}

Behaviour Scenario::forCall(const QByteArray& number, int comPort) const {
    const QByteArray d = digitsOf(number);
    if (!d.isEmpty()) {
        if (const Behaviour* b = find(QString::fromLatin1(d))) {
            return *b;
        }
    }
    return forPort(comPort);
}

}  // namespace vts::sim
