// What a repair works with, and all it may use of the window: the window's
// components and table objects, the unit-level state the repairs share, the
// progress panel and the gating of the commands, the user-interface port,
// the data module, the journal, whether the run is a simulation, and the few
// things the window does for a repair (a repaint, the focus, a radio button
// checked). The form is a repair context; a repair is a free function of
// one (ops/registry.h finds it by its handler's name).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/user_interface.h"
#include "ui/window.h"

namespace cg {

class Journal;
class TDM;

class RepairContext : public WindowComponents, public WindowTables {
 public:
  // ---- Unit-level state ------------------------------------------------------
  int ContadorProgresso = 0;  // shared per-record counter behind the gauge
  // A review shown after a complete copy in this run, until it is kept,
  // confirmed or an error puts the window back: only such a review is put
  // in place of the live register.
  bool RevisaoCliPronta = false;
  bool RevisaoMedPronta = false;

  // ---- What the window does for a repair ------------------------------------
  virtual UserInterface& ui() = 0;
  virtual TDM& DM() = 0;
  // Places PainelCG, shows it and repaints it.
  virtual void MostraPainelCG(int left, int top, int width, int height) = 0;
  void MostraPainelCG(const Bounds& b) { MostraPainelCG(b.left, b.top, b.width, b.height); }
  // Writes the caption line and repaints it.
  virtual void SetNomeConsist(const std::string& text) = 0;
  virtual void AvancaProgresso() = 0;
  virtual void DesabilitaComandos() = 0;
  virtual void HabilitaComandos() = 0;
  virtual void repaint(TControl& control) = 0;
  // The focus moves to a control; a radio button is selected.
  virtual void focus(TControl& control) = 0;
  virtual void check(TRadioButton& radio) = 0;
  // The user asked the running command to stop after the current record.
  virtual bool stopRequested() const = 0;

  // ---- The journal and the simulation ---------------------------------------
  virtual Journal* journal() const = 0;
  // The data layers simulate now.
  virtual bool simulationOpen() const = 0;
  // Where a file the repair writes goes (in a simulation, the simulation's
  // folder).
  virtual std::filesystem::path writtenFile(const std::string& windowsPath) = 0;
  // A command file that a simulation does not start: the user is told.
  virtual void commandFileNotStarted(const std::string& commandFile) = 0;

 protected:
  RepairContext() = default;
  ~RepairContext() = default;
};

}  // namespace cg
