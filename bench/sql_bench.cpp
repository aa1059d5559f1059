// Speed and memory of the server side on a large pharmacy:
//
//   sql_bench create FOLDER   builds the large sample database under FOLDER
//                             (standing for drive C) and prints the time
//   sql_bench open FOLDER     opens cdsPedidos on it (300,000 orders of 62
//                             columns) and prints the time and the resident
//                             memory before, after and at its peak
//   sql_bench apply FOLDER    rewrites the name of the first 5,000 orders,
//                             applying after every post, and prints the rate
//
// FOLDER's platform.ini chooses the transport; without one the embedded
// engine is written in.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "data/sql/dm.h"
#include "platform/drive.h"
#include "platform/user_interface.h"
#include "sample/sample.h"

namespace {

class QuietUI : public cg::UserInterface {
 public:
  void showMessage(const std::string& text) override { std::printf("message: %s\n", text.c_str()); }
  bool confirm(const std::string&) override { return true; }
  void showError(const cg::Exception& e) override { std::printf("error: %s\n", e.message().c_str()); }
  void repaint(const std::string&) override {}
  void processMessages() override {}
  cg::ProcessOutcome startProcess(const std::string&, std::chrono::milliseconds) override { return {}; }
};

// VmRSS or VmHWM of this process, in MiB.
double statusMiB(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::stod(line.substr(std::string(key).size() + 1)) / 1024.0;
  return 0;
}

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s create|open FOLDER\n", argv[0]);
    return 2;
  }
  std::string mode = argv[1];
  std::filesystem::path root = argv[2];
  std::filesystem::create_directories(root);
  cg::DriveC::setRoot(root);
  if (!std::filesystem::exists(root / "platform.ini"))
    std::ofstream(root / "platform.ini") << "[sql]\ntransport=embedded\n";
  try {
    auto start = std::chrono::steady_clock::now();
    if (mode == "create") {
      cg::SampleSize size{};
      size.serverOrders = 300000;
      size.serverFormulas = 20000;
      size.serverComponents = 20000;
      size.suppliers = 2000;
      size.serverOrderItems = 1500000;
      cg::CreateServerSample(size, 20261207);
      std::printf("created in %.1f s\n", seconds(start));
      return 0;
    }
    QuietUI ui;
    cg::TDM dm(ui);
    dm.sqlcon1.open();
    double before = statusMiB("VmRSS:");
    start = std::chrono::steady_clock::now();
    dm.cdsPedidos.open();
    double opened = seconds(start);
    double after = statusMiB("VmRSS:");
    long long letters = 0;
    start = std::chrono::steady_clock::now();
    for (dm.cdsPedidos.first(); !dm.cdsPedidos.eof(); dm.cdsPedidos.next())
      letters += static_cast<long long>(dm.cdsPedidos.fieldByName("NOME").asString().size());
    std::printf("rows %d, opened in %.1f s, walked in %.2f s (%lld name bytes)\n",
                dm.cdsPedidos.recordCount(), opened, seconds(start), letters);
    std::printf("resident: before %.0f MiB, after open %.0f MiB, peak %.0f MiB\n", before, after,
                statusMiB("VmHWM:"));
    if (mode == "apply") {
      start = std::chrono::steady_clock::now();
      int n = 0;
      for (dm.cdsPedidos.first(); !dm.cdsPedidos.eof() && n < 5000; dm.cdsPedidos.next(), ++n) {
        dm.cdsPedidos.edit();
        cg::Field& name = dm.cdsPedidos.fieldByName("NOME");
        name.setString(name.asString());
        dm.cdsPedidos.post();
        dm.cdsPedidos.applyUpdates(0);
      }
      double t = seconds(start);
      std::printf("%d rows applied one by one in %.2f s (%.0f rows/s)\n", n, t, n / t);
    }
    dm.cdsPedidos.close();
  } catch (const cg::Exception& e) {
    std::fprintf(stderr, "%s: %s\n", e.className(), e.message().c_str());
    return 1;
  }
  return 0;
}
