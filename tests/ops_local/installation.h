// A small installation of the suite for one scenario: a temporary drive C
// with the suite's folders, platform.ini with the three aliases, Config.DB,
// and the local tables the case asks for, made from the installation's table
// layouts with real table files. Rows go in and come out through the table
// engine under a session of its own; the repairs run through the headless
// script runner in this process.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/engine/engine.h"
#include "support/temp_dir.h"

namespace opslocal {

inline constexpr const char* kRoot = "C:\\VITRALON";
inline constexpr const char* kDados = "C:\\VITRALON\\DADOS";
inline constexpr const char* kInter = "C:\\VITRALON\\INTER";
inline constexpr const char* kArquivo = "C:\\VITRALON\\ARQMORTO";

// One record to insert: (field, value as text in UTF-8). Fields left out
// stay blank.
using Row = std::vector<std::pair<std::string, std::string>>;

class Installation {
 public:
  // The folders, platform.ini and Config.DB (DiretorioPrincipal
  // "C:\VITRALON\"); drive C points at the temporary folder.
  Installation();
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  const std::filesystem::path& root() const { return dir_.path(); }
  // The host path of a Windows path under this drive C.
  std::filesystem::path host(std::string_view winPath) const;

  // Creates an empty table with the installation's layout for that file.
  void create(const std::string& directory, const std::string& file);
  // Creates an empty table with a layout of the test's own.
  void create(const std::string& directory, const std::string& file, const cg::TableDef& def);
  // Creates every local table of an installation.
  void createAll();
  void insert(const std::string& directory, const std::string& file, const std::vector<Row>& rows);
  // Replaces DiretorioPrincipal in Config.DB.
  void setMainDirectory(const std::string& directoryUtf8);

  // The records in the order of `index` (empty: primary), each as its
  // fields' texts joined by '|', in UTF-8. A blank field gives "".
  std::vector<std::string> dump(const std::string& directory, const std::string& file,
                                const std::vector<std::string>& fields, const std::string& index = "");

  // Runs a script; returns the transcript lines. The runner must accept it.
  std::vector<std::string> run(const std::string& script);

  // A file of the installation as bytes ("" when it does not exist).
  std::string readFile(std::string_view winPath) const;

 private:
  testsupport::TempDir dir_;
  cg::Session session_{"TesteInstalacao"};
};

// The transcript lines of one kind ("message", "error", "confirm", "exec").
std::vector<std::string> Events(const std::vector<std::string>& transcript, const std::string& kind);
// The last state record of a transcript ("" when none).
std::string LastState(const std::vector<std::string>& transcript);
// Whether the state record shows the button enabled / the panel visible.
bool ButtonEnabled(const std::string& state, const std::string& button);
bool PanelVisible(const std::string& state, const std::string& panel);

// The JSON lines of the transcript events, built as the runner writes them.
std::string Message(const std::string& textUtf8);
std::string ErrorEvent(const std::string& className, const std::string& textUtf8);

}  // namespace opslocal
