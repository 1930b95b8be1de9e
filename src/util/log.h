// Diagnostics through Qt's logging categories, never the window. Warnings (a load that
// failed, an episode that cannot play) are on by default; the debug lines (each request
// with its timing and size, the network time, the merge's counts) are turned on with
// QT_LOGGING_RULES, e.g. QT_LOGGING_RULES="newsbar.*.debug=true".
#pragma once

#include <QLoggingCategory>

namespace newsbar {

Q_DECLARE_LOGGING_CATEGORY(lcNet)        // "newsbar.net": HTTP exchanges
Q_DECLARE_LOGGING_CATEGORY(lcCatalogue)  // "newsbar.catalogue": requests, time, merge
Q_DECLARE_LOGGING_CATEGORY(lcMedia)      // "newsbar.media": audio that cannot be opened
Q_DECLARE_LOGGING_CATEGORY(lcDesktop)    // "newsbar.desktop": the session bus, one player

}  // namespace newsbar
