#pragma once
// The offer to build the demo databases and its progress dialog. The work
// itself is DemoDatabaseBuilder's (core/demo_databases.h).
#include "host_settings.h"

class QWidget;

// Asks whether to build the demo databases into the data directory, then
// builds them with a cancellable progress dialog. When the Debian data
// packages are missing it names them. atStart: the first-start offer, which
// the user can turn off; otherwise the user asked for it from the menu.
// Returns true when databases were built.
bool offerDemoDatabases(QWidget* parent, const HostOptions& options, bool atStart);
