// The sample installation: sizes, and the whole tree under drive C.
#include "sample/sample.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/cp1252.h"
#include "platform/drive.h"
#include "platform/errors.h"

namespace cg {
namespace fs = std::filesystem;

namespace {

// Every count times `times`, divided by `parts`.
SampleSize Scaled(SampleSize s, int times, int parts) {
  for (int* n : {&s.clients, &s.doctors, &s.orders, &s.formulaRows, &s.formulaItems, &s.components,
                 &s.synonyms, &s.purchases, &s.archiveOrders, &s.archiveFormulaRows, &s.archiveFormulaItems,
                 &s.serverOrders, &s.serverFormulas, &s.serverComponents, &s.suppliers, &s.serverOrderItems})
    *n = *n * times / parts;
  return s;
}

}  // namespace

SampleSize SampleSizeFor(const std::string& scale) {
  if (scale == "small" || scale.empty()) {
    SampleSize s{};
    s.clients = 300;
    s.doctors = 150;
    s.orders = 400;
    s.formulaRows = 600;
    s.formulaItems = 1500;
    s.components = 200;
    s.synonyms = 300;
    s.purchases = 200;
    s.archiveOrders = 150;
    s.archiveFormulaRows = 240;
    s.archiveFormulaItems = 600;
    s.serverOrders = 300;
    s.serverFormulas = 120;
    s.serverComponents = 150;
    s.suppliers = 40;
    s.serverOrderItems = 900;
    return s;
  }
  if (scale == "quarter") {
    // A quarter of the large installation, for checking how the repairs'
    // time grows with the data.
    return Scaled(SampleSizeFor("large"), 1, 4);
  }
  if (scale == "large") {
    SampleSize s{};
    s.clients = 200000;
    s.doctors = 20000;
    s.orders = 300000;
    s.formulaRows = 450000;
    s.formulaItems = 1500000;
    s.components = 20000;
    s.synonyms = 40000;
    s.purchases = 100000;
    s.archiveOrders = 100000;
    s.archiveFormulaRows = 150000;
    s.archiveFormulaItems = 500000;
    s.serverOrders = 300000;
    s.serverFormulas = 20000;
    s.serverComponents = 20000;
    s.suppliers = 2000;
    s.serverOrderItems = 1500000;
    return s;
  }
  if (scale == "huge") {
    // Ten times the large installation: a chain after a decade or two.
    SampleSize s = Scaled(SampleSizeFor("large"), 10, 1);
    // Supplier codes have four digits on the server.
    s.suppliers = std::min(s.suppliers, 9999);
    return s;
  }
  throw Exception(std::string("Escala desconhecida: "_cp) + scale + " (use small, quarter, large ou huge).");
}

void CreateSample(const std::string& scale, bool force, uint32_t seed) {
  SampleSize size = SampleSizeFor(scale);
  const fs::path root = DriveC::root();
  std::error_code ec;
  fs::create_directories(root, ec);
  if (ec)
    throw Exception(std::string("Não foi possível criar a pasta da unidade C: "_cp) + toUtf8(root.string()) +
                    " (" + ec.message() + ")");
  fs::path existing = DriveC::findEntry(root, "VITRALON");
  if (fs::exists(existing, ec)) {
    if (!force)
      throw Exception(std::string("A unidade C ("_cp) + fromUtf8(root.string()) +
                      std::string(") já contém VITRALON; use --force para recriar a instalação."_cp));
    fs::remove_all(existing, ec);
    if (ec)
      throw Exception(std::string("Não foi possível remover a instalação anterior: "_cp) +
                      fromUtf8(existing.string()) + " (" + ec.message() + ")");
  }
  CreateLocalSample(size, seed);
  CreateServerSample(size, seed);
}

}  // namespace cg
