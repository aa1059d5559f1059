// What the window owes the desktop it runs on: a place inside the available
// screen, message boxes wide enough for their title, and names for the
// controls that have no caption of their own (screen readers).
#pragma once

#include <QSize>

class QMessageBox;
class QWidget;

namespace cg {
class TFormConsistGeral;
}

namespace cg::qt {

class MainWindow;

// Gives a top-level window its outer size (frame included), no larger than
// the available area of its screen, and centres it there.
void PlaceCentred(QWidget& window, QSize outer);

// Widens a message box so that the window manager can show its whole title.
void FitTitle(QMessageBox& box);

// Accessible names for the controls without a caption: the percentage box of
// the option panel, the four review grids and the gauge, whose value screen
// readers can read as well.
void NameControls(MainWindow& window, const TFormConsistGeral& form);

}  // namespace cg::qt
