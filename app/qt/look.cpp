#include "app/qt/look.h"

#include <QFontDatabase>

#include "platform/cp1252.h"

// The icon's resource lies in a static library: registered by name, or the
// linker would leave it out. Q_INIT_RESOURCE works outside namespaces only.
static void RegisterIconResource() { Q_INIT_RESOURCE(icon); }

namespace cg::qt {

QColor colourOf(int32_t code, const QPalette& pal) {
  if (code >= 0) return QColor(code & 0xFF, (code >> 8) & 0xFF, (code >> 16) & 0xFF);
  // The system colours by their Windows index (COLOR_*).
  switch (code & 0xFF) {
    case 0:
      return pal.color(QPalette::Base);  // scroll bar
    case 1:
      return pal.color(QPalette::Dark);  // desktop
    case 2:
      return pal.color(QPalette::Highlight);  // active caption
    case 3:
      return pal.color(QPalette::Mid);  // inactive caption
    case 4:
      return pal.color(QPalette::Window);  // menu
    case 5:
      return pal.color(QPalette::Base);  // window
    case 6:
      return pal.color(QPalette::Shadow);  // window frame
    case 7:
      return pal.color(QPalette::WindowText);  // menu text
    case 8:
      return pal.color(QPalette::Text);  // window text
    case 9:
      return pal.color(QPalette::HighlightedText);  // caption text
    case 10:
    case 11:
      return pal.color(QPalette::Mid);  // borders
    case 12:
      return pal.color(QPalette::Dark);  // MDI background
    case 13:
      return pal.color(QPalette::Highlight);
    case 14:
      return pal.color(QPalette::HighlightedText);
    case 15:
      return pal.color(QPalette::Button);  // button face
    case 16:
      return pal.color(QPalette::Dark);  // button shadow
    case 17:
      return pal.color(QPalette::Disabled, QPalette::Text);  // grey text
    case 18:
      return pal.color(QPalette::ButtonText);
    case 19:
      return pal.color(QPalette::Disabled, QPalette::WindowText);  // inactive caption text
    case 20:
      return pal.color(QPalette::Light);  // button highlight
    case 21:
      return pal.color(QPalette::Shadow);  // 3D dark shadow
    case 22:
      return pal.color(QPalette::Midlight);  // 3D light
    case 23:
      return pal.color(QPalette::ToolTipText);
    case 24:
      return pal.color(QPalette::ToolTipBase);
    default:
      return pal.color(QPalette::Window);
  }
}

namespace {
QString installed(std::initializer_list<const char*> candidates, const char* fallback) {
  const QStringList families = QFontDatabase::families();
  for (const char* c : candidates)
    if (families.contains(QString::fromLatin1(c), Qt::CaseInsensitive)) return QString::fromLatin1(c);
  return QString::fromLatin1(fallback);
}
}  // namespace

QFont fontOf(const TFont& f) {
  QFont font;
  int weight = f.bold ? QFont::Bold : QFont::Normal;
  if (f.name == "Arial Black") {
    // No black face is installed: the heaviest weight of the same family.
    font.setFamily(installed({"Arial Black", "Liberation Sans", "DejaVu Sans"}, "Sans Serif"));
    weight = QFont::Black;
  } else if (f.name == "Arial Narrow") {
    font.setFamily(
        installed({"Arial Narrow", "Liberation Sans Narrow", "DejaVu Sans Condensed"}, "Sans Serif"));
  } else if (f.name == "Arial") {
    font.setFamily(installed({"Arial", "Liberation Sans"}, "Sans Serif"));
  } else {
    font.setFamily(installed({"Liberation Sans", "DejaVu Sans"}, "Sans Serif"));  // MS Sans Serif
  }
  font.setPixelSize(f.height);
  font.setWeight(static_cast<QFont::Weight>(weight));
  return font;
}

QString qtext(const std::string& cp1252) {
  QString s = QString::fromStdString(toUtf8(cp1252));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

std::string fromQ(const QString& text) { return fromUtf8(text.toStdString()); }

QIcon programIcon() {
  static const bool registered = [] {
    RegisterIconResource();
    return true;
  }();
  (void)registered;
  return QIcon(QStringLiteral(":/consistgeral/consistgeral.svg"));
}

}  // namespace cg::qt
