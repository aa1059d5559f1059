// The program run as its own process on a test's drive C, and what the fault
// tests read back from the table files it leaves: every table as SQLite sees
// it, without going through the table engine.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;

namespace reliability {

struct ChildResult {
  bool killed = false;  // ended by SIGKILL
  int exitCode = -1;    // when it exited
  std::string output;   // standard output and error together
};

// Runs `consistgeral --drive-c driveC ARGS...` with extra environment
// variables and waits for it (at most `timeoutSeconds`, then SIGKILL).
// Under the address sanitizer it runs without the leak check (see there).
ChildResult RunProgram(const std::filesystem::path& driveC, const std::vector<std::string>& args,
                       const std::vector<std::pair<std::string, std::string>>& env = {},
                       int timeoutSeconds = 120, const std::vector<std::string>& wrapper = {},
                       const std::function<void()>& onHalt = {});
// Runs a script (its text) through the headless runner.
ChildResult RunScript(const std::filesystem::path& driveC, const std::string& script,
                      const std::vector<std::pair<std::string, std::string>>& env = {});
// Runs a script with CG_FAULT_STOP_AFTER_WRITES=N: when the program halts
// itself after its N-th write event, `onHalt` runs, then the program goes on.
// `halted` tells whether it got there.
ChildResult RunScriptHaltingAt(const std::filesystem::path& driveC, const std::string& script,
                               long writeEvent, const std::function<void()>& onHalt, bool& halted,
                               const std::vector<std::pair<std::string, std::string>>& env = {});
// The same through a program that starts it (`setpriv ... --` to run it as
// another user); the script file is readable by every user.
ChildResult RunScriptAs(const std::vector<std::string>& wrapper, const std::filesystem::path& driveC,
                        const std::string& script,
                        const std::vector<std::pair<std::string, std::string>>& env = {});

// The transport a test runs an installation's server database through:
// the embedded engine, or the test server on CG_FB_PORT (3057 by default).
enum class Via { Embedded, Server };
void PrintTo(Via v, std::ostream* os);
// Rewrites the [sql] section of drive C's platform.ini for `via`.
void UseTransport(const std::filesystem::path& driveC, Via via);
// Removes the in-use marker (Em_Uso.txt) a program left behind.
void RemoveMarker(const std::filesystem::path& driveC);
// The runs a runner script makes: its `invoke` and `click` lines, but for
// the component options' panel opening or closing (no run).
int CommandsIn(const std::string& script);

// Every repair as the runner starts it on the sample; `server`: it writes
// to the server, so it is run through both transports.
struct RepairScript {
  const char* name;
  const char* script;
  bool server;
};
extern const std::vector<RepairScript> kEveryRepair;
// A repair with a transport: every repair embedded, those that write to
// the server also through the test server; named "CRM_Embarcado", ...
struct RepairVia {
  RepairScript repair;
  Via via;
};
std::vector<RepairVia> EveryRepairThroughEachTransport();
std::string NameOf(const RepairVia& p);
void PrintTo(const RepairVia& p, std::ostream* os);

// `consistgeral --desfazer N --confirmar` on `driveC`.
ChildResult RunUndo(const std::filesystem::path& driveC, int run);
// Undoes, newest first, every run the journal of `driveC` holds (through
// `--desfazer N --confirmar`), failing the test when an undo fails.
void UndoEveryRun(const std::filesystem::path& driveC);

// A sample installation (small) in `driveC`, made by the program itself.
void CreateSample(const std::filesystem::path& driveC);
// Copies a whole drive C folder.
void CopyTree(const std::filesystem::path& from, const std::filesystem::path& to);

// One table file: whether SQLite opens it and finds it sound, and its
// records (every column quoted as SQL text, joined by '|'), sorted.
struct TableImage {
  bool opens = false;
  std::string integrity;  // "ok" when sound
  std::vector<std::string> rows;
};
// Every *.DB file under drive C's VITRALON folder, by path relative to it,
// but the journal's (CONSISTGERAL).
std::map<std::string, TableImage> ImageOfTables(const std::filesystem::path& driveC);

// The transcript lines of one event kind ("message", "error", ...).
std::vector<std::string> EventLines(const std::string& output, const std::string& kind);

// Starts the shared test server (scripts/fbserver.sh, port CG_FB_PORT)
// unless it runs already; false, with the reason, when it cannot.
bool EnsureTestServer(std::string& why);

// Every row of every table of the server database of drive C (through the
// transport its platform.ini names), each as its columns' texts joined by
// '|', sorted; by table name. The connection is closed on return, so that
// the program can open an embedded database next.
std::map<std::string, std::vector<std::string>> ServerImage(const std::filesystem::path& driveC);
// The rows of one select on that database, each as its columns' texts (the
// driver's pt-BR text; "NULL" for null) joined by '|', in the given order.
std::vector<std::string> ServerQuery(const std::filesystem::path& driveC, const std::string& sql);
// Runs statements on that database, each in its own committed transaction.
void ServerExec(const std::filesystem::path& driveC, const std::vector<std::string>& statements);

// The book code fill stores the last code handed out in CONFIG after every
// order, so an interrupted run leaves it anywhere between the value before
// and after a whole run, never below a code an order carries; the other
// columns of the one CONFIG row stay as they were.
void ExpectBookCodeConfig(const std::vector<std::string>& rows, const std::vector<std::string>& was,
                          const std::vector<std::string>& will, const std::filesystem::path& driveC);

// The window after an operation, from the first and last "state" lines of
// the transcript: no panel shown, no table open, and the commands enabled
// when the operation had switched them off (else as they were before it).
void ExpectWindowInOrder(const std::string& output, bool gated);

// Runs SQL on a table file with SQLite itself (as another program would),
// failing the test when SQLite refuses it.
void execOn(const std::filesystem::path& file, const std::string& sql);

// Transcript lines as the runner writes them, for a text given in UTF-8.
std::string errorEvent(const std::string& cls, const std::string& textUtf8);
std::string messageEvent(const std::string& textUtf8);

// The write lock of a table file, held by this process (another program to
// the one under test) until destroyed.
class WriteLock {
 public:
  explicit WriteLock(const std::filesystem::path& file);
  ~WriteLock();
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

 private:
  sqlite3* db_ = nullptr;
};

// A whole file as bytes ("" when it cannot be read), and its replacement.
std::string ReadFile(const std::filesystem::path& file);
void WriteFile(const std::filesystem::path& file, const std::string& bytes);

}  // namespace reliability
