#pragma once

#include "ConfigContext.h"

#include <QString>

#include <functional>

class QWidget;

// Every window of the configuration program, one after the other, for the
// picture program and the test that looks for clipped texts.
namespace vts::tour {

// Fills the store in `dir` (made if missing, with the queue folder) with
// sample modems and clients; `ports` modem rows COM1, COM2, ... (the
// numbers above 9 bring up the main window's note on unusable ports).
void sampleStore(const QString& dir, int ports);

// Creates each window with `context` and hands it to `visit` (already shown
// by then, for the main window once per page), then closes it. The windows'
// names are the form names ("frmMain-2-Alerts" for a page of the main
// window). False when the main window could not load.
bool visitAll(const ConfigContext& context,
              const std::function<void(QWidget& window, const QString& name)>& visit);

}  // namespace vts::tour
