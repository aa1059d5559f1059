// The window's components as plain state: what the Qt window draws and what
// the script runner reports. Every component has a name (the system's own),
// a parent, bounds in pixels relative to the parent, visibility, enabled
// state, a caption and a font; kinds add what is theirs. Colours are the
// suite's colour codes (00BBGGRR; negative values name a system colour by
// the index in their lowest byte).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace cg {

class Table;

// Colour codes.
inline constexpr int32_t clBlack = 0x000000;
inline constexpr int32_t clMaroon = 0x000080;
inline constexpr int32_t clGreen = 0x008000;
inline constexpr int32_t clNavy = 0x800000;
inline constexpr int32_t clRed = 0x0000FF;
inline constexpr int32_t clWhite = 0xFFFFFF;
inline constexpr int32_t clGray = 0x808080;
inline constexpr int32_t clBtnFace = static_cast<int32_t>(0xFF00000F);     // system colour 15
inline constexpr int32_t clWindowText = static_cast<int32_t>(0xFF000008);  // system colour 8
inline constexpr int32_t clWindow = static_cast<int32_t>(0xFF000005);      // system colour 5

// A place in pixels relative to the parent.
struct Bounds {
  int left = 0, top = 0, width = 0, height = 0;
};

struct TFont {
  std::string name = "MS Sans Serif";
  int height = 11;  // pixels
  bool bold = false;
  int32_t color = clWindowText;
};

enum class ControlKind { Panel, Button, Label, Gauge, Grid, RadioButton, Edit, GroupBox, ListBox, CheckBox };

enum class Align { None, Top, Client };

class TControl {
 public:
  TControl(ControlKind kind, std::string name, TControl* parent);
  virtual ~TControl() = default;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  ControlKind kind;
  std::string name;
  TControl* parent;
  int left = 0, top = 0, width = 0, height = 0;
  bool visible = true;
  bool enabled = true;
  bool tabStop = true;
  Align align = Align::None;
  std::string caption;  // CP1252
  TFont font;
  int32_t color = clBtnFace;
  bool loweredBevel = false;  // panels: lowered inner bevel
  bool centered = false;      // labels and panels: caption centred

  void setBounds(const Bounds& b) { setBounds(b.left, b.top, b.width, b.height); }
  void setBounds(int l, int t, int w, int h) {
    left = l;
    top = t;
    width = w;
    height = h;
  }
  // Visible on screen: itself and every parent visible.
  bool showing() const;
};

// Every kind of component has a class constructed from its name and parent
// (the form declares its components through one table, app/form/form.h).
class TPanel : public TControl {
 public:
  TPanel(std::string componentName, TControl* parentControl)
      : TControl(ControlKind::Panel, std::move(componentName), parentControl) {}
};

class TLabel : public TControl {
 public:
  TLabel(std::string componentName, TControl* parentControl)
      : TControl(ControlKind::Label, std::move(componentName), parentControl) {}
};

class TGroupBox : public TControl {
 public:
  TGroupBox(std::string componentName, TControl* parentControl)
      : TControl(ControlKind::GroupBox, std::move(componentName), parentControl) {}
};

class TButton : public TControl {
 public:
  TButton(std::string componentName, TControl* parentControl)
      : TControl(ControlKind::Button, std::move(componentName), parentControl) {}
  std::string hint;        // tooltip
  bool isDefault = false;  // answers Enter
  bool isCancel = false;   // answers Escape
  bool glyph = true;       // shows a two-state glyph beside the caption
  std::function<void()> onClick;
};

class TRadioButton : public TControl {
 public:
  TRadioButton(std::string componentName, TControl* parentControl)
      : TControl(ControlKind::RadioButton, std::move(componentName), parentControl) {}
  bool checked = false;
  bool handCursor = false;
};

class TCheckBox : public TControl {
 public:
  TCheckBox(std::string componentName, TControl* parentControl)
      : TControl(ControlKind::CheckBox, std::move(componentName), parentControl) {}
  bool checked = false;
};

class TEdit : public TControl {
 public:
  TEdit(std::string componentName, TControl* parentControl)
      : TControl(ControlKind::Edit, std::move(componentName), parentControl) {}
  std::string text;               // CP1252
  std::function<void()> onEnter;  // receives the focus
};

class TGrid : public TControl {
 public:
  TGrid(std::string componentName, TControl* parentControl)
      : TControl(ControlKind::Grid, std::move(componentName), parentControl) {}
  Table* dataSet = nullptr;  // through its data source
  std::string dataSourceName;
  std::string column = "Nome";
  bool readOnly = true;
  bool rowSelect = true;
};

// A read-only list of text lines, one of which may be selected
// (itemIndex, 0-based; -1 for none). Choosing a line runs onSelect.
class TListBox : public TControl {
 public:
  TListBox(std::string componentName, TControl* parentControl)
      : TControl(ControlKind::ListBox, std::move(componentName), parentControl) {}
  std::vector<std::string> items;  // CP1252
  int itemIndex = -1;
  std::function<void()> onSelect;
};

// The percentage gauge. Setting the position clamps it into [min, max];
// lowering the maximum below the position lowers the position, raising the
// minimum above it raises it. The gauge repaints (onRepaint) when its
// minimum or maximum changes, and when a position change changes the shown
// percentage.
class TGauge : public TControl {
 public:
  TGauge(std::string componentName, TControl* parentControl)
      : TControl(ControlKind::Gauge, std::move(componentName), parentControl) {}
  int minValue() const { return min_; }
  int maxValue() const { return max_; }
  int progress() const { return progress_; }
  void setMinValue(int v);
  void setMaxValue(int v);
  void setProgress(int v);
  // (position - min) * 100 / (max - min), truncated; 0 when max == min.
  int percentDone() const;
  std::string text() const;  // "%d%%"
  std::function<void()> onRepaint;
  // Every position change, whether it repaints or not (the marker's
  // heartbeat during long walks hangs here).
  std::function<void()> onStep;
  int32_t foreColor = clGreen;
  int32_t backColor = clWhite;

 private:
  int min_ = 0, max_ = 100, progress_ = 0;
};

// A periodic timer on the window thread, on the program's clock.
class TTimer {
 public:
  std::string name;
  int interval = 30000;  // milliseconds
  bool enabled() const { return enabled_; }
  void setEnabled(bool e);  // enabling schedules the next tick interval ms from now
  int64_t dueMs() const { return dueMs_; }
  std::function<void()> onTimer;

 private:
  bool enabled_ = false;
  int64_t dueMs_ = 0;
};

}  // namespace cg
