// How the suite's colours, fonts and texts look on Qt: colour codes
// 00BBGGRR (negative values name a system colour), the Windows font names
// mapped to installed families, CP1252 texts to QString; the program's icon.
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QString>
#include <string>

#include "ui/controls.h"

namespace cg::qt {

// A colour code as a QColor; a system colour is taken from the palette.
QColor colourOf(int32_t code, const QPalette& palette);
// The Qt font for a control's font: Arial as Liberation Sans, Arial Black
// and Arial Narrow as the closest installed faces, heights in pixels.
QFont fontOf(const TFont& font);
// A CP1252 text as a QString; '\r' line breaks become '\n'.
QString qtext(const std::string& cp1252);
std::string fromQ(const QString& text);  // back to CP1252
// The program's icon (dist/consistgeral.svg, built into the program as a
// resource, so that it shows wherever the program runs from). Drawn by Qt's
// SVG plugins; without them the icon is null and the window manager's own
// shows.
QIcon programIcon();

}  // namespace cg::qt
