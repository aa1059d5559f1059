// A small installation for the scenario tests of the server repairs: drive C
// in a temporary folder with the suite's local tables (empty but for the one
// Config row) and a fresh server database with the suite's server tables
// and no rows, reached through the embedded engine or through the test
// server on 127.0.0.1 (scripts/fbserver.sh). Scripts run through the
// headless runner in this process; the transcript comes back parsed.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace cg {
class SQLConnection;
}

namespace testsupport {

enum class Transport { Embedded, Server };
inline void PrintTo(Transport t, std::ostream* os) {
  *os << (t == Transport::Embedded ? "embedded" : "server");
}

// One line of the runner's transcript.
struct Event {
  std::string kind;  // "message", "error", "state", "closed", "ignored", ...
  std::string text;  // message and error text, CP1252
  std::string cls;   // error class
  std::string raw;   // the JSON line as written
};

struct Transcript {
  std::vector<Event> events;
  int exitCode = 0;
  std::string errors;  // what the runner wrote to its error stream
  // The texts of the message boxes, in order (CP1252).
  std::vector<std::string> messages() const;
  // The error reports, as "Class: text".
  std::vector<std::string> errorReports() const;
  // The n-th "state" line (0-based).
  const Event& state(size_t n) const;
  std::string dump() const;  // every raw line, for failure output
};

// Facts of a "state" line.
bool ButtonEnabled(const Event& state, const std::string& button);
bool PanelVisible(const Event& state, const std::string& panel);
struct Gauge {
  int min = 0, max = 0, position = 0;
};
Gauge GaugeOf(const Event& state);

// A row of a query: one text per column, nullopt for NULL.
using Row = std::vector<std::optional<std::string>>;

class Installation {
 public:
  explicit Installation(Transport transport = Transport::Embedded);
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  const std::filesystem::path& root() const { return dir_.path(); }

  // Runs statements on the server database, each in its own transaction.
  void exec(const std::string& sql);
  void exec(const std::vector<std::string>& statements);
  // The rows of a select, the named columns as text (decimals as the driver
  // gives them), in the statement's order.
  std::vector<Row> query(const std::string& sql, const std::vector<std::string>& columns);
  // One column of one row ("select X from T where ...").
  std::optional<std::string> scalar(const std::string& sql);

  // Appends rows to the local purchases table (COMPRAS.DB): names only.
  void addCompras(const std::vector<std::string>& componentNames);
  std::vector<std::string> comprasNames();

  // Runs a script (one action per line) through the headless runner.
  Transcript run(const std::string& script);

 private:
  TempDir dir_;
  std::unique_ptr<cg::SQLConnection> con_;
};

// Starts the test server (scripts/fbserver.sh) unless it runs already;
// false, with the reason, when it cannot be started. It is left running.
bool EnsureTestServer(std::string& why);

// Scenario tests that run once through the embedded engine and once through
// the test server on 127.0.0.1.
class BothTransports : public ::testing::TestWithParam<Transport> {
 protected:
  void SetUp() override {
    if (GetParam() == Transport::Server) {
      std::string why;
      ASSERT_TRUE(EnsureTestServer(why)) << why;
    }
  }
};
std::string TransportName(const ::testing::TestParamInfo<Transport>& info);
#define CG_BOTH_TRANSPORTS(Suite)                                                              \
  INSTANTIATE_TEST_SUITE_P(                                                                    \
      Transportes, Suite,                                                                      \
      ::testing::Values(::testsupport::Transport::Embedded, ::testsupport::Transport::Server), \
      ::testsupport::TransportName)

}  // namespace testsupport
