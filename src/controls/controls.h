#pragma once

#include "controls/delayfield.h"
#include "controls/logarea.h"
#include "controls/shapewidget.h"
#include "controls/titlefield.h"

class QTimer;

// Positions and sizes are laid out in twips; 15 twips are one pixel at 96 dpi.
constexpr int kTwipsPerPixel = 15;
inline int twipsToPixels(int twips)
{
    // Round half away from zero so negative positions mirror positive ones.
    return twips >= 0 ? (twips + kTwipsPerPixel / 2) / kTwipsPerPixel
                      : -((-twips + kTwipsPerPixel / 2) / kTwipsPerPixel);
}
inline int pixelsToTwips(int pixels)
{
    return pixels * kTwipsPerPixel;
}

// A timer whose interval 0 means "no ticks"; setting the interval it already
// runs with leaves its schedule alone.
void setTimerInterval(QTimer *timer, int milliseconds);
