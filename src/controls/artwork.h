#pragma once

#include <QIcon>
#include <QPixmap>

// The console's pictures, drawn by code so that their source lives in the project.
namespace artwork {

// Front view of an RV-38T display unit, 232 x 97 pixels. Its face window lies
// where the countdown fields are laid over it.
QPixmap displayUnit();

// The window icon, 32 x 32.
QIcon windowIcon();

} // namespace artwork
