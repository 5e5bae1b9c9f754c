#pragma once

#include "app/options.h"

#include <QString>

// Where the console keeps LST_IP.CFG and TITLE.CFG. Settled before the window
// is built, because every file is read and written relative to the current
// directory.
namespace workdir {

// The user's own data directory, where the menu entry starts the console:
// $XDG_DATA_HOME/rv38t, by default ~/.local/share/rv38t.
QString userDataDir();

// Makes the directory the options choose (--dir DIR or --data-dir) when it is
// missing and makes it current. With neither option nothing changes. Returns
// an empty string on success, otherwise what went wrong, ready to print.
QString enter(const Options &options);

} // namespace workdir
