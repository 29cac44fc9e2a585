#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

// The cause of each page a dialer run did not deliver, handed from the
// dialer to the pager control beside the port file, whose layout stays as
// it is: "mordax<N>.why" in the working directory, UTF-8, one line per
// record, "<slot>\t<cause>", with a third field "final" when the paging
// service refused the page for itself (an unknown recipient, a refused
// message) so that no retry can deliver it. A line with slot 0 says what
// made the port itself fail: "0\t<fault>\tport" when it could not reach its
// carrier (cannot connect, TLS, modem error, no log-on), "0\t<fault>\tunusable"
// when it must not be used again until its settings change (the SIM refused
// its PIN). The dialer empties the file when its run begins and appends a
// line with each status other than sent; the control reads it when it
// collects the batch and removes it. The last line for a slot holds its
// cause.
namespace vts::causefile {

// Causes are one line of at most this many characters.
inline constexpr int kMaxCause = 300;
// The control reads no more of the file than this.
inline constexpr qint64 kMaxFileBytes = qint64{256} * 1024;

QString fileName(int portIndex);  // "mordax<N>.why"

// `text` made fit to travel and be shown: control characters and line
// breaks as blanks, blanks collapsed, every non-empty `secrets` entry
// replaced by "***", cut to kMaxCause.
QString clean(const QString& text, const QStringList& secrets = {});

// How a port failed as a whole, beside its pages' causes.
enum class PortFault { None, Unreachable, Unusable };

// Appends slot `slot`'s cause to the file at `path`, marked final when the
// service refused the page for good; false when it cannot.
bool append(const QString& path, int slot, const QString& cause, bool final = false);
// Appends the port's own fault (not None); false when it cannot.
bool appendPort(const QString& path, PortFault fault, const QString& why);

// What a run's file says.
struct Causes {
    QHash<int, QString> pages;  // by slot
    QSet<int> final;            // slots refused for good
    PortFault port = PortFault::None;
    QString portWhy;  // the port's fault in words
};
// The file at `path`; empty when there is none.
Causes read(const QString& path);

}  // namespace vts::causefile
