#include "Dialer.h"

#include "DeliveryNotes.h"

#include <QJsonObject>

#include "IniFile.h"
#include "Line.h"
#include "PortKinds.h"
#include "RunGuard.h"
#include "Tap.h"
#include "TraceLog.h"
#include "Transport.h"

#include <CauseFile.h>
#include <PortBatch.h>
#include <TextFile.h>

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>

namespace vts {

namespace {

constexpr int kStatusOffset = PortRecord::kStatusOffset;
constexpr int kIndexOffset = PortRecord::kIndexOffset;

void putStatus(QByteArray& record, std::int16_t status) {
    const auto u = static_cast<std::uint16_t>(status);
    record[kStatusOffset] = static_cast<char>(u & 0xFF);
    record[kStatusOffset + 1] = static_cast<char>(u >> 8);
}

std::int16_t statusOf(PortStatus s) { return static_cast<std::int16_t>(s); }

}  // namespace

QString DialerOptions::devicePath(int comPort) const {
    for (const auto& [n, path] : ports) {
        if (n == comPort) {
            return path;
        }
    }
    return QStringLiteral("/dev/ttyS%1").arg(comPort - 1);
}

DialerOptions DialerOptions::fromIni(const QString& path) {
    DialerOptions o;
    const IniFile ini = IniFile::load(path);
    for (int n = 1; n <= 99; ++n) {
        if (auto v = ini.value(QStringLiteral("ports"), QStringLiteral("COM%1").arg(n));
            v && !v->isEmpty()) {
            o.ports.append({n, *v});
        }
    }
    const QString tap = QStringLiteral("tap"), modem = QStringLiteral("modem");
    o.tap.t1 = std::max(0.1, ini.number(tap, QStringLiteral("t1"), o.tap.t1));
    o.tap.t3 = std::max(0.1, ini.number(tap, QStringLiteral("t3"), o.tap.t3));
    o.tap.n1 = std::clamp(static_cast<int>(ini.number(tap, QStringLiteral("n1"), o.tap.n1)), 1, 20);
    o.tap.n2 = std::clamp(static_cast<int>(ini.number(tap, QStringLiteral("n2"), o.tap.n2)), 0, 20);
    o.tap.n3 = std::clamp(static_cast<int>(ini.number(tap, QStringLiteral("n3"), o.tap.n3)), 1, 20);
    o.tap.nakResends = std::clamp(
        static_cast<int>(ini.number(tap, QStringLiteral("nak"), o.tap.nakResends)), 0, 20);
    o.escapeGuard = ini.number(modem, QStringLiteral("guard"), o.escapeGuard);
    o.deviceWait = ini.number(modem, QStringLiteral("devicewait"), o.deviceWait);
    o.hangupReply = ini.number(modem, QStringLiteral("hangupreply"), o.hangupReply);
    // [trace] limit in kilobytes: the trace file's size before it turns.
    const double kb = ini.number(QStringLiteral("trace"), QStringLiteral("limit"),
                                 static_cast<double>(o.traceLimit) / 1024);
    o.traceLimit = static_cast<qint64>(std::clamp(kb, 16.0, 1048576.0) * 1024);
    for (const PortKind& kind : portKinds()) {
        if (kind.readSettings) {
            kind.readSettings(ini, o);
        }
    }
    return o;
}

QByteArray Dialer::prepareText(const QString& text) {
    return tap::transliterate(prepareUnicode(text));
}

QString Dialer::prepareUnicode(const QString& text) {
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(u'\r', u'\n');
    qsizetype end = t.size();
    while (end > 0 && (t[end - 1] == u' ' || t[end - 1] == u'\n' || t[end - 1] == u'\t')) {
        --end;
    }
    t.truncate(end);
    return t;
}

std::optional<QByteArray> Dialer::dialableNumber(const QString& phone) {
    QByteArray out;
    for (QChar c : phone) {
        if (c == u' ' || c == u'-' || c == u'.' || c == u'(' || c == u')') {
            continue;
        }
        if (c.isDigit() && c.unicode() < 0x80) {
            out.append(static_cast<char>(c.unicode()));
        } else if (QStringLiteral("*#,WwPpTt@!").contains(c)) {
            out.append(static_cast<char>(c.toUpper().unicode()));
        } else {
            return std::nullopt;
        }
    }
    if (out.isEmpty()) {
        return std::nullopt;
    }
    return out;
}

QByteArray Dialer::numericDigits(const QString& message) {
    QByteArray out;
    for (QChar c : message) {
        if (c == u' ' || c == u'-' || c == u'.' || c == u'(' || c == u')') {
            continue;
        }
        if ((c.isDigit() && c.unicode() < 0x80) || c == u'*') {
            out.append(static_cast<char>(c.unicode()));
        } else {
            return {};
        }
    }
    return out;
}

std::optional<QString> Dialer::readTextFile(const QString& path, QString* why) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *why = QStringLiteral("cannot open %1").arg(path);
        return std::nullopt;
    }
    struct stat st {};
    QByteArray bytes;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok) {
        *why = QStringLiteral("%1 is not a regular file").arg(path);
    }
    if (ok && st.st_size > kMaxFileBytes) {
        *why = QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(kMaxFileBytes);
        ok = false;
    }
    if (ok) {
        bytes.resize(kMaxFileBytes + 1);
        qsizetype got = 0;
        while (got < bytes.size()) {
            const ssize_t n =
                ::read(fd, bytes.data() + got, static_cast<size_t>(bytes.size() - got));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            got += n;
        }
        bytes.truncate(got);
        if (got > kMaxFileBytes) {
            *why = QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(kMaxFileBytes);
            ok = false;
        }
    }
    ::close(fd);
    if (!ok) {
        return std::nullopt;
    }
    return text::fromWin1252(bytes);
}

bool Dialer::writeStatus(int record, std::int16_t status) {
    auto bytes = portfile::readRecord(m_path, record);
    if (!bytes) {
        return false;
    }
    putStatus(*bytes, status);
    return portfile::writeRecord(m_path, record, *bytes);
}

Dialer::Dialer(QString workDir, DialerOptions options)
    : m_dir(std::move(workDir)), m_opt(std::move(options)) {}

Dialer::~Dialer() = default;

void Dialer::awaitReceipts(Page& page, const QStringList& messageIds) {
    bool ok = false;
    const qint64 id = page.rec.uniqueId.trimmed().toLongLong(&ok);
    if (!ok || id < 1) {
        return;  // an alert page has no log row
    }
    note(deliverynotes::submittedNote(id, messageIds));
}

void Dialer::receipt(const QString& messageId, bool delivered, const QString& reason) {
    note(deliverynotes::receiptNote(messageId, delivered, reason));
}

void Dialer::note(const QJsonObject& note) {
    if (!deliverynotes::append(m_dir, note)) {
        m_trace->note(QStringLiteral("delivery note not kept: %1 cannot be written")
                          .arg(deliverynotes::fileName()));
    }
}

void Dialer::setStatus(Page& job, PortStatus status, const QString& why, bool final) {
    // A run stopped because its server ended was not cancelled by anyone:
    // its unfinished pages failed this attempt and are retried.
    QString reason = why;
    if (status == PortStatus::Cancelled && RunGuard::stoppedByParentDeath()) {
        status = PortStatus::Failed;
        reason = QStringLiteral("the server that started this run has ended");
    }
    job.status = statusOf(status);
    m_trace->note(QStringLiteral("record %1 (slot %2): status %3%4")
                      .arg(job.record)
                      .arg(job.rec.index)
                      .arg(job.status)
                      .arg(reason.isEmpty() ? QString() : QStringLiteral(", ") + reason) +
                  (final && status == PortStatus::Failed ? QStringLiteral(" (final)") : QString()));
    // The cause goes beside the port file before the status is written, so
    // a control that sees the status finds its cause.
    if (status != PortStatus::Sent && !m_causePath.isEmpty()) {
        static const QString fallback[] = {QString(),
                                           QString(),
                                           QString(),
                                           QStringLiteral("not confirmed by the paging service"),
                                           QStringLiteral("cancelled"),
                                           QStringLiteral("modem error")};
        const auto s = static_cast<size_t>(status);
        const QString cause = !reason.isEmpty() ? reason : s < 6 ? fallback[s] : QString();
        causefile::append(m_causePath, job.rec.index,
                          causefile::clean(cause, {job.rec.tapPassword, m_opt.gsmPin}),
                          final && status == PortStatus::Failed);
    }
    if (!writeStatus(job.record, job.status)) {
        m_trace->note(QStringLiteral("cannot write record %1").arg(job.record));
    }
}

void Dialer::portFault(bool unusable, const QString& why) {
    m_trace->note(QStringLiteral("port %1: %2").arg(unusable ? "unusable" : "unreachable", why));
    if (!m_causePath.isEmpty()) {
        QStringList secrets{m_opt.gsmPin};
        for (const Page& j : m_jobs) {
            secrets << j.rec.tapPassword;
        }
        causefile::appendPort(
            m_causePath,
            unusable ? causefile::PortFault::Unusable : causefile::PortFault::Unreachable,
            causefile::clean(why, secrets));
    }
}

void Dialer::failAll(const QList<Page*>& jobs, PortStatus status, const QString& why) {
    for (Page* j : jobs) {
        if (j->status == 1) {
            setStatus(*j, status, why);
        }
    }
}

void Dialer::finishHeader(std::int16_t status) {
    auto bytes = portfile::readRecord(m_path, 1);
    if (!bytes) {
        // A header cut short: complete it so the control can read a final
        // status; a count that was cut off reads as no messages.
        QFile f(m_path);
        QByteArray have;
        if (f.open(QIODevice::ReadOnly)) {
            have = f.read(PortRecord::kSize);
        }
        const qsizetype had = have.size();
        have.append(QByteArray(PortRecord::kSize - had, ' '));
        if (had < kIndexOffset + 4) {
            have.replace(kIndexOffset, 4, QByteArray(4, '\0'));
        }
        bytes = have;
    }
    putStatus(*bytes, status);
    if (m_trace) {
        m_trace->note(QStringLiteral("header: final status %1").arg(status));
    }
    portfile::writeRecord(m_path, 1, *bytes);
}

int Dialer::run(int portIndex) {
    m_path = m_dir + u'/' + portfile::fileName(portIndex);
    m_opt.stateDir = m_dir;
    TraceLog trace;
    m_trace = &trace;
    if (!QFileInfo(m_path).isFile()) {
        return 2;
    }
    PortBatch batch(m_path);
    if (!batch.headerRead()) {
        finishHeader(statusOf(PortStatus::Failed));
        return 1;
    }
    const PortRecord& header = batch.header();
    if (!batch.is(PortStatus::Busy)) {
        return 2;
    }
    heartbeat::setFile(m_path);
    // Causes of an earlier run on this port are not this run's.
    m_causePath = m_dir + u'/' + causefile::fileName(portIndex);
    QFile::remove(m_causePath);
    if (header.debugMode == 1) {
        trace.setLimit(m_opt.traceLimit);
        trace.open(m_dir + QStringLiteral("/KRX%1.log").arg(portIndex));
    }
    if (!m_opt.gsmPin.isEmpty()) {
        trace.addMask(QStringLiteral("AT+CPIN=\"%1\"").arg(m_opt.gsmPin),
                      QStringLiteral("AT+CPIN=\"***\""));
    }
    // The carriers' log-in passwords never travel in a traced line; masked
    // all the same, should a server echo one back.
    for (const QString& secret : {m_opt.smtp.password, m_opt.smpp.password}) {
        if (secret.size() >= 4) {
            trace.addMask(secret, QStringLiteral("***"));
        }
    }
    trace.note(QStringLiteral("dialer run for %1").arg(portfile::fileName(portIndex)));

    batch.readRecords();
    for (const PortBatch::Entry& entry : batch.records()) {
        // As each kind carries it: the TAP log-on, SNPP's PAGE, WCTP's
        // securityCode attribute.
        const QString password = entry.record.tapPassword.trimmed();
        if (password.isEmpty()) {
            continue;
        }
        const QString latin = QString::fromLatin1(tap::transliterate(password));
        QString xml = password;
        xml.replace(u'&', QStringLiteral("&amp;"))
            .replace(u'<', QStringLiteral("&lt;"))
            .replace(u'"', QStringLiteral("&quot;"));
        trace.addMask(QStringLiteral("PG1") + latin + QStringLiteral("<CR>"),
                      QStringLiteral("PG1***<CR>"));
        trace.addMask(u' ' + latin + QStringLiteral("<CR><LF>"), QStringLiteral(" ***<CR><LF>"));
        trace.addMask(QStringLiteral("securityCode=\"%1\"").arg(xml),
                      QStringLiteral("securityCode=\"***\""));
    }
    if (!batch.intact()) {
        trace.note(QStringLiteral("damaged port file: count %1, %2 whole records")
                       .arg(batch.declaredCount())
                       .arg(portfile::recordCount(m_path)));
        finishHeader(statusOf(PortStatus::Failed));
        return 1;
    }
    if (const auto r = batch.firstUnreadable()) {
        trace.note(QStringLiteral("cannot read record %1").arg(*r));
        finishHeader(statusOf(PortStatus::Failed));
        return 1;
    }
    for (const PortBatch::Entry& entry : batch.records()) {
        Page job;
        job.record = entry.number;
        job.rec = entry.record;
        if (job.rec.status != statusOf(PortStatus::Busy)) {
            trace.note(QStringLiteral("record %1 is not waiting (status %2); left alone")
                           .arg(entry.number)
                           .arg(job.rec.status));
            continue;
        }
        // The log row's ID, by which a failure's call is found in the trace.
        trace.note(QStringLiteral("record %1 (slot %2): ID=%3")
                       .arg(entry.number)
                       .arg(job.rec.index)
                       .arg(job.rec.uniqueId.trimmed()));
        m_jobs.append(job);
    }

    QList<Page*> todo;
    const QString callNumber =
        m_jobs.isEmpty() ? QString() : m_jobs.first().rec.phoneNumber.trimmed();
    for (Page& job : m_jobs) {
        const PortRecord& rec = job.rec;
        job.pin = rec.pin.trimmed();
        if (rec.phoneNumber.trimmed() != callNumber) {
            // One run makes one call; a page for another service must not go to this one.
            setStatus(job, PortStatus::Failed,
                      QStringLiteral("phone number differs from the batch's"));
            continue;
        }
        if (rec.kind == PageKind::Numeric) {
            job.digits = numericDigits(rec.message.trimmed());
            if (job.digits.isEmpty()) {
                setStatus(job, PortStatus::Failed, QStringLiteral("no digits to send"));
            } else {
                job.text = QString::fromLatin1(job.digits);
                todo.append(&job);
            }
            continue;
        }
        if (rec.kind != PageKind::Alphanumeric && rec.kind != PageKind::TextFile) {
            setStatus(job, PortStatus::Failed,
                      QStringLiteral("unknown kind %1").arg(toInt(rec.kind)));
            continue;
        }
        const QByteArray pin = tap::transliterate(job.pin);
        if (pin.isEmpty()) {
            setStatus(job, PortStatus::Failed, QStringLiteral("no PIN"));
            continue;
        }
        QString text = rec.message;
        if (rec.kind == PageKind::TextFile) {
            QString name = rec.asciiFilename.trimmed();
            name.replace(u'\\', u'/');
            if (name.isEmpty()) {
                setStatus(job, PortStatus::Failed, QStringLiteral("no text file named"));
                continue;
            }
            if (!name.startsWith(u'/')) {
                name = m_dir + u'/' + name;
            }
            QString why;
            const auto content = readTextFile(name, &why);
            if (!content || content->trimmed().isEmpty()) {
                setStatus(job, PortStatus::Failed,
                          content ? QStringLiteral("empty text file") : why);
                continue;
            }
            text = *content;
        }
        job.text = prepareUnicode(text);
        job.blocks =
            tap::buildBlocks({pin, tap::transliterate(job.text)}, rec.maxCharactersPerBlock);
        todo.append(&job);
    }

    if (!todo.isEmpty()) {
        deliver(todo);
    }

    std::int16_t final =
        m_jobs.isEmpty() ? statusOf(PortStatus::Failed) : statusOf(PortStatus::Sent);
    for (const Page& j : m_jobs) {
        final = std::max(final, j.status == 1 ? statusOf(PortStatus::Failed) : j.status);
    }
    finishHeader(final);
    return final == statusOf(PortStatus::Sent) ? 0 : 1;
}

void Dialer::deliver(const QList<Page*>& pages) {
    // The batch's settings come from its first text page (the call), else
    // its first numeric page.
    const Page* first = pages.first();
    for (const Page* p : pages) {
        if (!p->numeric()) {
            first = p;
            break;
        }
    }
    const PortRecord& call = first->rec;
    if (Cancellation::requested()) {
        return failAll(pages, PortStatus::Cancelled, QStringLiteral("stopped"));
    }
    if (call.comPort < 1) {
        return failAll(pages, PortStatus::ModemError, QStringLiteral("no COM port"));
    }
    QString error;
    const auto target = PortTarget::parse(m_opt.devicePath(call.comPort), &error);
    if (!target) {
        return failAll(pages, PortStatus::ModemError,
                       QStringLiteral("COM%1 in calvex.ini: %2").arg(call.comPort).arg(error));
    }
    if (target->kind != PortTarget::Kind::Modem) {
        m_trace->note(QStringLiteral("COM%1 is the %2").arg(call.comPort).arg(target->describe()));
    }
    portKind(target->kind).create(*target, m_opt)->deliver(pages, call, *this);
}

}  // namespace vts
