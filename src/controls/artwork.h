#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

class QPainter;

// The console's pictures, drawn by code so that their source lives in the project.
namespace artwork {

// Front view of an RV-38T display unit, 232 x 97 pixels. Its face window lies
// where the countdown fields are laid over it. Painted at devicePixelRatio
// (2 gives 464 x 194 device pixels) so that a scaled screen shows it sharp.
QPixmap displayUnit(qreal devicePixelRatio = 1.0);

// The window icon: hard pixels on a 32 x 32 grid, painted at each size it
// offers (16 to 256 pixels), never scaled from one bitmap.
QIcon windowIcon();

// The sizes windowIcon() offers, which are also the installed icon sizes.
inline constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};

// Paints the icon's 32 x 32 grid; scale the painter for any other size. The
// icon files (bitmaps and the scalable one) are painted through this too.
void paintIcon(QPainter &p);

// The icon painted at size x size pixels.
QImage iconImage(int size);

} // namespace artwork
