#include "QueueScanner.h"

#include "ConfigStore.h"
#include "Conversions.h"
#include "Database.h"
#include "EventLoop.h"
#include "FilePages.h"
#include "LogStore.h"
#include "PagerOCX.h"
#include "PortRecord.h"
#include "QueueEntries.h"
#include "QueueFile.h"
#include "RowEdit.h"
#include "StatusConditions.h"
#include "Statuses.h"
#include "TextFile.h"

#include <QFileInfo>

namespace vts {

namespace {

const QString kPending = QStringLiteral("\\PENDING\\");
const QString kFailed = QStringLiteral("\\FAILED\\");
const QString kQueueGroup = QStringLiteral("queue:");
// The pager control holds at most this many messages.
constexpr int kPagerSlots = portfile::kQueueSlots;
// Queue files larger than this are refused as format errors.
constexpr qint64 kMaxQueueFileBytes = qint64{1024} * 1024;

int fieldWidth(const db::TableDef& table, const QString& field) {
    for (const auto& f : table.fields) {
        if (f.name.compare(field, Qt::CaseInsensitive) == 0) {
            return f.size;
        }
    }
    return 0;
}

// A value cut to its field's width when the field has one.
QString fitField(const db::TableDef& table, const QString& field, const QString& value) {
    const int w = fieldWidth(table, field);
    return w > 0 ? queuefile::fit(value, w) : value;
}

bool moveFile(const QString& from, const QString& to) { return queueentries::move(from, to); }

// The block size as the pager control takes it; a parsed file's value fits.
std::int16_t blockSize(const QueueMessage& msg) { return static_cast<std::int16_t>(msg.blockSize); }

}  // namespace

QueueScanner::QueueScanner(EventLoop& loop, StatusConditions& conditions, Host& host,
                           QString workingDir)
    : m_loop(loop), m_conditions(conditions), m_host(host), m_workingDir(std::move(workingDir)) {}

void QueueScanner::attach(db::Recordset* clients, db::Recordset* log, PagerOCX* pager) {
    m_clients = clients;
    m_log = log;
    m_pager = pager;
}

bool QueueScanner::scan(const QSet<QString>& leave) {
    m_stoppedFull = false;
    const QString queue = m_host.queuePath(QStringLiteral("\\"));
    const auto entries = queueentries::list(queue, QStringLiteral("A*.PMF"));
    if (!entries) {
        m_conditions.raise(QStringLiteral("queue-folder"),
                           QStringLiteral("The folder specified for the message queue is invalid"),
                           QStringLiteral("The message queue folder can be read again"));
    } else {
        m_conditions.clear(QStringLiteral("queue-folder"));
    }
    if (entries && !entries->empty() && !m_host.LoadConfig()) {
        return false;
    }
    m_conditions.beginRound(kQueueGroup);
    bool whole = true;
    for (const auto& e : entries ? *entries : std::vector<queueentries::Entry>{}) {
        m_loop.yield();
        if (m_host.stopRequested()) {
            return false;
        }
        // A full pager queue takes nothing more: the rest wait in the
        // queue folder for a later check.
        if (m_pager && m_pager->QueueCount() >= kPagerSlots) {
            whole = false;
            m_stoppedFull = true;
            break;
        }
        using Kind = queueentries::Entry::Kind;
        switch (e.kind) {
            case Kind::File:
                if (leave.contains(e.name)) {
                    // Still being written: its writer's close brings it back.
                } else if (m_logRefused && EventLoop::secondsBetween(*m_logRefused, m_loop.now()) <
                                               kLogRetrySeconds) {
                    whole = false;  // the log took no rows a moment ago
                } else if (!takeFile(e.name)) {
                    m_logRefused = m_loop.now();
                    // The log takes no new rows (held by another program,
                    // the disk full): every later file would fail the same
                    // way, so intake waits for the next check.
                    whole = false;
                }
                break;
            case Kind::Special:
            case Kind::Dangling:
                // Never opened: opening a FIFO or a device could wait for good.
                m_conditions.raise(
                    kQueueGroup + QStringLiteral("odd:") + e.name,
                    QStringLiteral("Error: ") + e.name +
                        QStringLiteral(" in the queue folder is ") +
                        (e.kind == Kind::Dangling
                             ? QStringLiteral("a link that leads nowhere")
                             : QStringLiteral("a ") + e.what + QStringLiteral(", not a file")) +
                        QStringLiteral("; it is left alone"),
                    e.name + QStringLiteral(" is no longer in the queue folder"));
                break;
            case Kind::Undecodable:
                if (queueentries::moveRaw(queue, e.rawName, m_host.queuePath(kFailed))) {
                    m_host.addStatus(
                        QStringLiteral("Error: the name of a queue file cannot be read (") +
                        e.name + QStringLiteral("); it was moved to the failed folder"));
                } else {
                    m_conditions.raise(
                        kQueueGroup + QStringLiteral("name:") +
                            QString::fromLatin1(e.rawName.toHex()),
                        QStringLiteral("Error: the name of a queue file cannot be read (") +
                            e.name +
                            QStringLiteral(") and it cannot be moved to the failed folder"));
                }
                break;
        }
        if (m_host.abandoned()) {
            return false;
        }
        if (!whole) {
            break;
        }
    }
    if (whole) {
        m_conditions.endRound(kQueueGroup);
    }
    return true;
}

bool QueueScanner::registerClient(const QueueMessage& msg) {
    const QString& computer = msg.computer;
    if (m_clients->findFirst(QStringLiteral("ComputerName"), computer.toUpper())) {
        return true;
    }
    const db::TableDef t = configstore::clientsTable();
    db::RowEdit row(*m_clients, db::RowEdit::Mode::Add);
    row.set(QStringLiteral("ComputerName"), fitField(t, QStringLiteral("ComputerName"), computer));
    row.set(QStringLiteral("Name"), fitField(t, QStringLiteral("Name"), msg.sender));
    row.set(QStringLiteral("Path"), fitField(t, QStringLiteral("Path"), msg.clientPath));
    row.commit();
    m_host.addStatus(QStringLiteral("New client added - Computer:") + computer);
    return true;
}

bool QueueScanner::takeFile(const QString& f) {
    const QString source = m_host.queuePath(QStringLiteral("\\"), f);
    // Opened without waiting and read no further than the bound; a line ends
    // at a carriage return only.
    text::ReadError readError = text::ReadError::None;
    const auto bytes = text::readBounded(source, kMaxQueueFileBytes, &readError);
    if (!bytes && readError != text::ReadError::TooLarge) {
        return true;  // cannot be opened now (or changed since the listing); tried again later
    }

    std::optional<QueueMessage> msg;
    if (bytes) {
        msg = queuefile::parse(text::splitLines(text::fromWin1252(*bytes), text::LineEnds::CrOnly));
    }
    if (!msg) {
        if (!moveFile(source, m_host.queuePath(kFailed, f))) {
            m_conditions.raise(kQueueGroup + QStringLiteral("format:") + f,
                               QStringLiteral("Error: PMF file format error: ") + f +
                                   QStringLiteral("; it cannot be moved to the failed folder"),
                               f + QStringLiteral(" is no longer in the queue folder"));
            return true;
        }
        m_host.addStatus(QStringLiteral("Error: PMF file format error: ") + f);
        return true;
    }
    // A name already in the pending folder would be overwritten: the file
    // waits until that one has left.
    if (QFileInfo::exists(m_host.queuePath(kPending, f)) ||
        QFileInfo(m_host.queuePath(kPending, f)).isSymLink()) {
        m_conditions.raise(kQueueGroup + QStringLiteral("pending:") + f,
                           QStringLiteral("Error: a file named ") + f +
                               QStringLiteral(" is already in the pending folder"),
                           QStringLiteral("The file named ") + f +
                               QStringLiteral(" no longer waits for the pending folder"));
        return true;
    }

    // From its log row to its hand-over, the file is not the operator's to move.
    m_inHand = f;
    struct Release {
        QString& name;
        ~Release() { name.clear(); }
    } release{m_inHand};
    qint64 id = 0;
    try {
        registerClient(*msg);
        m_loop.yield();
        if (m_host.abandoned()) {
            return true;
        }

        using namespace logstore;
        db::RowEdit row(*m_log, db::RowEdit::Mode::Add);
        id = m_log->value(QStringLiteral("ID")).toLongLong();
        auto set = [&row](const char* field, const QVariant& v) {
            row.set(QString::fromLatin1(field), v);
        };
        auto fit = [](const QString& v, int w) { return queuefile::fit(conv::trim(v), w); };
        set("Type", fit(msg->method, kTypeWidth));
        set("Sender", fit(msg->sender, kSenderWidth));
        set("Department", fit(msg->department, kDepartmentWidth));
        set("Recipient", fit(msg->recipient, kRecipientWidth));
        set("Status", toInt(LogStatus::Waiting));
        set("StatusDescription", QStringLiteral("PENDING"));
        set("UniqueID", fit(f, kUniqueIdWidth));
        set("Message", msg->message);
        set("TAPPhoneNumber", msg->phoneNumber());
        set("TAPPIN", msg->pin());
        set("TAPPassword", fit(msg->password, kPasswordWidth));
        set("MaximumCharacters", static_cast<qint32>(msg->blockSize));
        set("SentTime", msg->sentTime);
        set("COMPortSetting", fit(msg->serialSettings, kComPortSettingWidth));
        set("ModemInitString", fit(msg->modemInit, kModemStringWidth));
        set("ModemDialString", fit(msg->modemDial, kModemStringWidth));
        set("EMailAddress", fit(msg->email, kEMailWidth));
        set("SMTPServer", fit(msg->smtpServer, kSmtpWidth));
        set("ReverseOrder", msg->reverseOrder);
        row.commit();
    } catch (const db::DbError& e) {
        // Nothing was sent; the file stays in the queue folder for a later check.
        m_logRefused = m_loop.now();
        m_conditions.raise(kQueueGroup + QStringLiteral("log"),
                           QStringLiteral("Error: ") + f + QStringLiteral(" cannot be logged: ") +
                               e.message() +
                               QStringLiteral("; queue files wait in the queue folder until the "
                                              "log takes new entries"),
                           QStringLiteral("The log takes new entries again"));
        return false;
    }

    if (!moveFile(source, m_host.queuePath(kPending, f))) {
        m_host.addStatus(QStringLiteral("Error: ") + f +
                         QStringLiteral(" cannot be moved to the pending folder; it was not sent"));
        return true;
    }
    if (!m_pager) {
        return true;
    }
    m_host.applyPagerSettings();
    const QString uid = QString::number(id);
    if (msg->method == QLatin1String("UCP")) {
        m_host.addStatus(QStringLiteral("Error: UCP not implemented yet"));
        return true;
    }
    if (!submitFilePage(f, *msg, id)) {
        return true;
    }
    const qint32 n = m_pager->SubmitStatus();
    if (n > 0) {
        m_host.addStatus(QStringLiteral("Error ") + QString::number(n));
    } else {
        m_host.addStatus(QStringLiteral("Submitted to queue: Ph#=") + msg->tapPhoneNumber +
                         QStringLiteral(" PIN=") + msg->tapPin + QStringLiteral(" ID=") + uid);
        m_host.messageSubmitted(uid);
    }
    return true;
}

// A file page, or a message longer than a port record's message field:
// the text goes to the dialer through a file of the server's own, so it is
// sent whole. Other pages are submitted as they are. False when the
// message ended without a submission.
bool QueueScanner::submitFilePage(const QString& f, const QueueMessage& msg, qint64 id) {
    const QString uid = QString::number(id);
    const QString& method = msg.method;
    const bool filePage = msg.kind() == PageKind::TextFile;
    QByteArray textBytes;
    if (filePage) {
        QString why;
        const auto content = filepages::readAllowed(
            method, m_workingDir,
            filepages::allowedFolders(m_workingDir, m_host.queuePath(QString())), &why);
        if (!content) {
            failMessage(msg, id,
                        QStringLiteral("Error: the text file ") + conv::trim(method) +
                            QStringLiteral(" named by ") + f + QStringLiteral(" is refused: ") +
                            why);
            return false;
        }
        textBytes = *content;
    } else if (msg.message.size() > PortRecord::kMessageWidth) {
        textBytes = text::toWin1252(msg.message);
        if (textBytes.size() > filepages::kMaxBytes) {
            failMessage(msg, id,
                        QStringLiteral("Error: the message of ") + f +
                            QStringLiteral(" is longer than %1 characters; it was not sent")
                                .arg(filepages::kMaxBytes));
            return false;
        }
    } else {
        m_pager->SendMessage(msg.message, msg.phoneNumber(), msg.pin(), blockSize(msg), uid,
                             msg.serialSettings, msg.modemInit, msg.modemDial);
        return true;
    }
    const auto stored = filepages::store(m_workingDir, id, textBytes);
    if (!stored) {
        failMessage(msg, id,
                    QStringLiteral("Error: the text of ") + f +
                        QStringLiteral(" cannot be written into the folder ") +
                        QLatin1String(filepages::kFolder) + QStringLiteral("; it was not sent"));
        return false;
    }
    m_pager->SendAscii(msg.message, msg.phoneNumber(), msg.pin(), *stored, blockSize(msg), uid,
                       msg.serialSettings, msg.modemInit, msg.modemDial);
    return true;
}

void QueueScanner::failMessage(const QueueMessage& msg, qint64 id, const QString& why) {
    m_host.addStatus(why);
    m_host.messageCause(QString::number(id), why);
    m_host.messageFailed(QString::number(id), msg);
}

}  // namespace vts
