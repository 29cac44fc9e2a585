#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// The cause of each page a dialer run did not deliver, handed from the
// dialer to the pager control beside the port file, whose layout stays as
// it is: "mordax<N>.why" in the working directory, UTF-8, one line per
// record, "<slot>\t<cause>". The dialer empties it when its run begins and
// appends a line with each status other than sent; the control reads it
// when it collects the batch and removes it. The last line for a slot
// holds its cause.
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

// Appends slot `slot`'s cause to the file at `path`; false when it cannot.
bool append(const QString& path, int slot, const QString& cause);
// The causes in the file at `path` by slot; empty when there is none.
QHash<int, QString> read(const QString& path);

}  // namespace vts::causefile
