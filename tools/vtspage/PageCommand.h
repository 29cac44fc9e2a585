#pragma once

#include <QString>
#include <QStringList>

// One page written into a queue folder as a queue message file, refused
// before anything is written when the server would refuse it. vtspage is
// this command; vtsctl page runs it too, with the store's queue folder as
// the default of --queue.
namespace vts::page {

// `arguments` start with the program's name; `program` names it in
// messages. Prints the new file's name; returns the exit status (0, or 2 for
// a refused command line or page, or a file that cannot be written).
int run(const QStringList& arguments, const char* program, const QString& defaultQueue = {});

}  // namespace vts::page
