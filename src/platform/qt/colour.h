#pragma once
// The face's one conversion of the model's colour words (0x00BBGGRR, or a
// system colour reference 0x800000nn) into Qt colours.
#include <QColor>

#include "platform/canvas.h"

namespace quorrel::qt {

// System colours come from the application's palette (a desktop's dark theme
// included); plain colours pass as they are.
QColor ToQColor(Colour colour);
// A colour the model fixes, in its own hue but toned where it would stand out
// from `background` by less than `minRatio`; system colours as ToQColor.
QColor ToQColorOn(Colour colour, const QColor& background, double minRatio);

}  // namespace quorrel::qt
