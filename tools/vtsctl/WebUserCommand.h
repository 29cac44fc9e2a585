#pragma once

#include "VtsCtl.h"

namespace vts::ctl {

// vtsctl web-user add NAME --role ROLE | list | remove NAME: the web
// console's accounts in vtsweb.db of the working directory. The password
// comes on standard input (one line), never on the command line.
int webUser(const QStringList& args, const QString& workDir, const Streams& io);

}  // namespace vts::ctl
