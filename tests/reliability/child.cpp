#include "child.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/cli/json.h"
#include "data/sql/dm.h"
#include "data/sql/sql.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "platform/errors.h"
#include "support/temp_dir.h"

extern char** environ;

namespace fs = std::filesystem;

namespace reliability {

namespace {

// The command files the program starts (FormatCli.bat ...) run detached and
// outlive it; the next step of a test waits until every process that names
// this drive C on its command line (the command file, or the program's
// child before it becomes the command file) is gone.
void waitForDetachedCommands(const fs::path& driveC) {
  const std::string mark = driveC.string();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    bool found = false;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc", ec)) {
      const std::string pid = e.path().filename().string();
      if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
      if (pid == std::to_string(getpid())) continue;
      std::string cmdline = ReadFile(e.path() / "cmdline");
      std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
      if (cmdline.find(mark) != std::string::npos) {
        found = true;
        break;
      }
    }
    if (!found) return;
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "a command file started on " << mark << " did not end within 20 s";
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

ChildResult RunProgram(const fs::path& driveC, const std::vector<std::string>& args,
                       const std::vector<std::pair<std::string, std::string>>& env, int timeoutSeconds,
                       const std::vector<std::string>& wrapper, const std::function<void()>& onHalt) {
  ChildResult result;
  const std::string binary = std::string(CG_BINARY_DIR) + "/consistgeral";
  if (!fs::exists(binary)) {
    ADD_FAILURE() << binary << " is missing: build the target consistgeral";
    return result;
  }
  testsupport::TempDir scratch;
  const fs::path out = scratch.path() / "saida.txt";

  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) {
    bool replaced = false;
    for (const auto& [k, v] : env)
      if (std::strncmp(*e, k.c_str(), k.size()) == 0 && (*e)[k.size()] == '=') replaced = true;
    // Under the address sanitizer the program runs without its leak check
    // here: these tests are about crashes, locks and data, and the leak
    // check of the same code runs in the other test programs, in process.
    if (std::strncmp(*e, "ASAN_OPTIONS=", 13) == 0) {
      envText.push_back(std::string(*e) + ":detect_leaks=0");
      continue;
    }
    if (!replaced) envText.emplace_back(*e);
  }
  for (const auto& [k, v] : env) envText.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);

  std::vector<std::string> argText = wrapper;
  for (const std::string& a : {binary, std::string("--drive-c"), driveC.string()}) argText.push_back(a);
  argText.insert(argText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argText) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&files, 1, 2);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argText[0].c_str(), &files, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&files);
  if (rc != 0) {
    ADD_FAILURE() << "could not start " << binary;
    return result;
  }
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  for (;;) {
    const pid_t got = waitpid(pid, &status, WNOHANG | WUNTRACED);
    if (got == pid && WIFSTOPPED(status)) {
      if (onHalt) onHalt();
      ::kill(pid, SIGCONT);
      continue;
    }
    if (got != 0) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "the program did not end within " << timeoutSeconds << " s";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  waitForDetachedCommands(driveC);
  result.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.output = ReadFile(out);
  return result;
}

ChildResult RunScriptHaltingAt(const fs::path& driveC, const std::string& script, long writeEvent,
                               const std::function<void()>& onHalt, bool& halted,
                               const std::vector<std::pair<std::string, std::string>>& env) {
  testsupport::TempDir scratch;
  const fs::path file = scratch.path() / "roteiro.txt";
  WriteFile(file, script);
  auto withStop = env;
  withStop.emplace_back("CG_FAULT_STOP_AFTER_WRITES", std::to_string(writeEvent));
  halted = false;
  return RunProgram(driveC, {"--script", file.string()}, withStop, 120, {}, [&] {
    halted = true;
    onHalt();
  });
}

ChildResult RunScriptAs(const std::vector<std::string>& wrapper, const fs::path& driveC,
                        const std::string& script,
                        const std::vector<std::pair<std::string, std::string>>& env) {
  testsupport::TempDir scratch;
  const fs::path file = scratch.path() / "roteiro.txt";
  WriteFile(file, script);
  fs::permissions(scratch.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(
      file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
  return RunProgram(driveC, {"--script", file.string()}, env, 120, wrapper);
}

ChildResult RunScript(const fs::path& driveC, const std::string& script,
                      const std::vector<std::pair<std::string, std::string>>& env) {
  return RunScriptAs({}, driveC, script, env);
}

void CreateSample(const fs::path& driveC) {
  ChildResult r = RunProgram(driveC, {"--create-sample", "--scale", "small"});
  ASSERT_EQ(r.exitCode, 0) << r.output;
}

void CopyTree(const fs::path& from, const fs::path& to) {
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

namespace {

TableImage imageOf(const fs::path& file) {
  TableImage image;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return image;
  }
  auto each = [&](const std::string& sql, auto&& row) -> bool {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) return false;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) row(st);
    sqlite3_finalize(st);
    return rc == SQLITE_DONE;
  };
  auto text = [](sqlite3_stmt* st, int i) {
    const unsigned char* p = sqlite3_column_text(st, i);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(st, i)))
             : std::string("NULL");
  };
  if (!each("PRAGMA integrity_check", [&](sqlite3_stmt* st) { image.integrity += text(st, 0); })) {
    sqlite3_close(db);
    return image;
  }
  std::string table;
  each("SELECT name FROM _table", [&](sqlite3_stmt* st) { table = text(st, 0); });
  std::vector<std::string> columns;
  each("SELECT name FROM pragma_table_info('" + table + "')",
       [&](sqlite3_stmt* st) { columns.push_back(text(st, 0)); });
  std::string select = "SELECT ";
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i) select += " || '|' || ";
    select += "quote(\"" + columns[i] + "\")";
  }
  select += " FROM \"" + table + "\"";
  image.opens = !table.empty() && !columns.empty() &&
                each(select, [&](sqlite3_stmt* st) { image.rows.push_back(text(st, 0)); });
  sqlite3_close(db);
  std::sort(image.rows.begin(), image.rows.end());
  return image;
}

}  // namespace

std::map<std::string, TableImage> ImageOfTables(const fs::path& driveC) {
  std::map<std::string, TableImage> out;
  const fs::path root = driveC / "VITRALON";
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    // The journal of the runs is this program's own file, not a table of
    // the suite.
    if (fs::relative(e.path(), root).string().rfind("CONSISTGERAL/", 0) == 0) continue;
    std::string ext = e.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::toupper);
    if (ext != ".DB") continue;
    out[fs::relative(e.path(), root).string()] = imageOf(e.path());
  }
  return out;
}

std::vector<std::string> EventLines(const std::string& output, const std::string& kind) {
  std::vector<std::string> out;
  std::istringstream in(output);
  std::string line;
  const std::string tag = "{\"event\":\"" + kind + "\"";
  while (std::getline(in, line))
    if (line.rfind(tag, 0) == 0) out.push_back(line);
  return out;
}

bool EnsureTestServer(std::string& why) {
  static int status = -1;
  if (status < 0) {
    // Test binaries run side by side: the lock keeps two of them from
    // starting a server each.
    const std::string script = std::string("'") + CG_SOURCE_DIR + "/scripts/fbserver.sh'";
    const std::string lock = (fs::temp_directory_path() / "consistgeral-fbserver-start.lock").string();
    status =
        std::system(("flock '" + lock + "' bash " + script + " start >/dev/null 2>&1").c_str()) == 0 ? 1 : 0;
    if (status == 0)
      status = std::system(("bash " + script + " status >/dev/null 2>&1").c_str()) == 0 ? 1 : 0;
  }
  if (status == 0) why = "scripts/fbserver.sh start failed";
  return status == 1;
}

namespace {

std::vector<std::string> rowsOf(cg::SQLConnection& con, const std::string& sql) {
  std::vector<std::string> out;
  cg::SQLDataSet source("consulta", con);
  source.setCommandText(sql);
  cg::ClientDataSet rows("cdsConsulta", source, {});
  rows.open();
  for (rows.first(); !rows.eof(); rows.next()) {
    std::string row;
    for (int i = 0; i < rows.fieldCount(); ++i) {
      if (i) row += '|';
      cg::Field& f = rows.field(i);
      row += f.isNull() ? std::string("NULL") : f.asString();
    }
    out.push_back(std::move(row));
  }
  rows.close();
  return out;
}

}  // namespace

std::vector<std::string> ServerQuery(const fs::path& driveC, const std::string& sql) {
  std::vector<std::string> out;
  cg::DriveC::setRoot(driveC);
  cg::SQLConnection con("conexaoTeste");
  con.params() = cg::TDM::connectionParams();
  try {
    out = rowsOf(con, sql);
  } catch (const cg::Exception& e) {
    ADD_FAILURE() << sql << ": " << cg::toUtf8(e.message());
  }
  con.close();
  return out;
}

void ServerExec(const fs::path& driveC, const std::vector<std::string>& statements) {
  cg::DriveC::setRoot(driveC);
  cg::SQLConnection con("conexaoTeste");
  con.params() = cg::TDM::connectionParams();
  for (const std::string& sql : statements) {
    try {
      con.executeDirect(sql);
    } catch (const cg::Exception& e) {
      ADD_FAILURE() << sql << ": " << cg::toUtf8(e.message());
    }
  }
  con.close();
}

std::map<std::string, std::vector<std::string>> ServerImage(const fs::path& driveC) {
  std::map<std::string, std::vector<std::string>> out;
  cg::DriveC::setRoot(driveC);
  cg::SQLConnection con("conexaoTeste");
  con.params() = cg::TDM::connectionParams();
  try {
    for (const char* table : {"PEDIDOS", "CONFIG", "FORMULAS", "COMPONEN", "FORNECED", "COMPEDID"}) {
      auto rows = rowsOf(con, std::string("select * from ") + table);
      std::sort(rows.begin(), rows.end());
      out[table] = std::move(rows);
    }
  } catch (const cg::Exception& e) {
    ADD_FAILURE() << "server database of " << driveC << ": " << cg::toUtf8(e.message());
  }
  con.close();
  return out;
}

// The one CONFIG row: the book code (its last column) between the value
// before the run and after it, and at least the highest code an order
// carries; every other column as before.
void ExpectBookCodeConfig(const std::vector<std::string>& rows, const std::vector<std::string>& was,
                          const std::vector<std::string>& will, const fs::path& driveC) {
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_EQ(was.size(), 1u);
  ASSERT_EQ(will.size(), 1u);
  auto split = [](const std::string& row) {
    const size_t bar = row.rfind('|');
    return std::make_pair(row.substr(0, bar), row.substr(bar + 1));
  };
  const auto [rest, code] = split(rows[0]);
  const auto [restBefore, codeBefore] = split(was[0]);
  const auto [restAfter, codeAfter] = split(will[0]);
  EXPECT_EQ(rest, restBefore);
  EXPECT_EQ(restAfter, restBefore);
  const long n = std::atol(code.c_str()), from = std::atol(codeBefore.c_str()),
             to = std::atol(codeAfter.c_str());
  EXPECT_GE(n, from);
  EXPECT_LE(n, to);
  const auto highest = ServerQuery(driveC, "select max(CODLIVRO) from PEDIDOS");
  ASSERT_EQ(highest.size(), 1u);
  if (highest[0] != "NULL") {
    EXPECT_GE(n, std::atol(highest[0].c_str())) << "a code above the stored last one";
  }
}

namespace {

const char* const kGated[] = {"BotFormulaOrfan",
                              "BotCorrecaoComp",
                              "BotAjusta",
                              "BotSair",
                              "BotCorrigeCadMed",
                              "BotAbreviaNomeCli",
                              "BotAbreviaNomeMed",
                              "BotAcertaGrupoSinon",
                              "BitBtn5",
                              "BitBtn1",
                              "btn1"};
const char* const kPanels[] = {"PainelCG",
                               "PainelAguarde",
                               "PainelFormatCliAntigo",
                               "PainelFormatCliNovo",
                               "PainelFormatMedAntigo",
                               "PainelFormatMedNovo",
                               "PainelCorrigComponentes"};

// `"name":` followed by a tail, built by appending (GCC 12 warns wrongly about
// operator+ on a literal and a string here).
std::string member(const char* name, const char* tail) {
  std::string out = "\"";
  out += name;
  out += "\":";
  out += tail;
  return out;
}

std::string buttonsOf(const std::string& state) {
  const size_t from = state.find("\"buttons\":"), to = state.find("\"panels\":");
  return from == std::string::npos || to == std::string::npos ? std::string() : state.substr(from, to - from);
}

}  // namespace

void ExpectWindowInOrder(const std::string& output, bool gated) {
  const auto states = EventLines(output, "state");
  ASSERT_GE(states.size(), 2u) << output;
  const std::string& s = states.back();
  for (const char* p : kPanels)
    EXPECT_NE(s.find(member(p, "false")), std::string::npos) << p << " is shown:\n" << s;
  if (gated) {
    for (const char* b : kGated)
      EXPECT_NE(s.find(member(b, "{\"enabled\":true")), std::string::npos) << b << " is disabled:\n" << s;
  } else {
    EXPECT_EQ(buttonsOf(s), buttonsOf(states.front()));
  }
  EXPECT_NE(s.find("\"current\":{}"), std::string::npos) << "tables left open:\n" << s;
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
}

void execOn(const std::filesystem::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  char* error = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  std::string why = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << why << "\n" << sql;
}

std::string errorEvent(const std::string& cls, const std::string& textUtf8) {
  return "{\"event\":\"error\",\"class\":\"" + cls + "\",\"text\":" + cg::json::quote(textUtf8) + "}";
}

std::string messageEvent(const std::string& textUtf8) {
  return "{\"event\":\"message\",\"text\":" + cg::json::quote(textUtf8) + "}";
}

WriteLock::WriteLock(const std::filesystem::path& file) {
  if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
    ADD_FAILURE() << "could not lock " << file << ": " << sqlite3_errmsg(db_);
}

WriteLock::~WriteLock() {
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db_);
}

void PrintTo(Via v, std::ostream* os) { *os << (v == Via::Server ? "servidor" : "embarcado"); }

void UseTransport(const fs::path& driveC, Via via) {
  const char* p = std::getenv("CG_FB_PORT");
  const std::string port = p && *p ? p : "3057";
  std::string ini = ReadFile(driveC / "platform.ini");
  const size_t at = ini.find("[sql]");
  ASSERT_NE(at, std::string::npos) << ini;
  ini = ini.substr(0, at) + "[sql]\n" +
        (via == Via::Embedded ? std::string("transport = embedded\n")
                              : "transport = server\nport = " + port + "\n");
  WriteFile(driveC / "platform.ini", ini);
}

void RemoveMarker(const fs::path& driveC) {
  std::error_code ec;
  fs::remove(driveC / "VITRALON" / "Em_Uso.txt", ec);
}

int CommandsIn(const std::string& script) {
  int n = 0;
  for (size_t at = 0; at < script.size();) {
    const size_t end = script.find('\n', at);
    const std::string line = script.substr(at, end - at);
    // The component options' panel opening or closing is no run.
    const bool panel =
        line.find(" BotCorrecaoComp") != std::string::npos || line.find(" BitBtn4") != std::string::npos;
    if ((line.rfind("invoke ", 0) == 0 || line.rfind("click ", 0) == 0) && !panel) ++n;
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return n;
}

const std::vector<RepairScript> kEveryRepair = {
    {"OrfasAtivas", "invoke BotFormulaOrfan\n", false},
    {"OrfasArquivoMorto", "invoke BotFormulaOrfanArqQM\n", false},
    {"GrupoSinonimos", "invoke BotAcertaGrupoSinon\n", false},
    {"ParametrosTecnicos", "invoke BotAjusta\n", false},
    {"CustoFixo", "invoke BitBtn6\n", false},
    {"CRM", "invoke BotCorrigeCadMed\n", false},
    {"AbreviaClientes", "invoke BotAbreviaNomeCli\nanswer yes\nclick BotConfirmaFormatCli\n", false},
    {"AbreviaMedicos", "invoke BotAbreviaNomeMed\nanswer yes\nclick BotConfirmaFormatMed\n", false},
    {"CNPJ", "answer yes\ninvoke BitBtn7\n", true},
    {"Unidades", "invoke BotCorrecaoComp\ncheck RadioButton4\nclick BitBtn3\n", true},
    {"Desconto", "invoke BotCorrecaoComp\ncheck RadioButton1\ntype Edit1 7,5\nclick BitBtn3\n", true},
    {"NomesComponentes", "invoke BotCorrecaoComp\ncheck RadioButton3\nclick BitBtn3\n", true},
    {"CodigoComponente", "invoke BitBtn2\n", true},
    {"CodLivro", "answer yes\ninvoke BitBtn5\n", true},
    {"Formulas", "answer yes\ninvoke BitBtn1\n", true},
    {"NomesPedidos", "answer yes\ninvoke btn1\n", true},
};

std::vector<RepairVia> EveryRepairThroughEachTransport() {
  std::vector<RepairVia> out;
  for (const RepairScript& r : kEveryRepair) {
    out.push_back({r, Via::Embedded});
    if (r.server) out.push_back({r, Via::Server});
  }
  return out;
}

std::string NameOf(const RepairVia& p) {
  return std::string(p.repair.name) + (p.via == Via::Server ? "_Servidor" : "_Embarcado");
}

void PrintTo(const RepairVia& p, std::ostream* os) { *os << NameOf(p); }

ChildResult RunUndo(const fs::path& driveC, int run) {
  return RunProgram(driveC, {"--desfazer", std::to_string(run), "--confirmar"});
}

void UndoEveryRun(const fs::path& driveC) {
  std::error_code ec;
  fs::remove(driveC / "VITRALON" / "Em_Uso.txt", ec);
  ChildResult list = RunProgram(driveC, {"--historico"});
  ASSERT_EQ(list.exitCode, 0) << list.output;
  std::vector<int> runs;
  const std::string head = "Execução ";
  // A run that changed nothing has nothing to undo (its undo is refused).
  for (size_t at = 0; (at = list.output.find(head, at)) != std::string::npos; at += head.size())
    if (at == 0 || list.output[at - 1] == '\n') {
      const size_t end = list.output.find("\n\n" + head, at);
      const std::string block =
          list.output.substr(at, end == std::string::npos ? std::string::npos : end - at);
      if (block.find("  nenhum registro alterado\n") == std::string::npos)
        runs.push_back(std::atoi(list.output.c_str() + at + head.size()));
    }
  ASSERT_EQ(list.output.rfind(head, 0), 0u) << list.output;
  std::sort(runs.rbegin(), runs.rend());
  for (int n : runs) {
    fs::remove(driveC / "VITRALON" / "Em_Uso.txt", ec);
    ChildResult r = RunUndo(driveC, n);
    ASSERT_EQ(r.exitCode, 0) << "undo of run " << n << ":\n" << r.output;
  }
}

}  // namespace reliability
