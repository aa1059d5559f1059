// The sample installation: a complete, deterministic (fixed seed), messy
// local installation and server database under drive C, so that every repair
// has work to do. "small" gives a few hundred rows per table; "large" a large
// pharmacy.
#pragma once

#include <cstdint>
#include <string>

namespace cg {

struct SampleSize {
  int clients, doctors, orders, formulaRows, formulaItems, components, synonyms, purchases;
  int archiveOrders, archiveFormulaRows, archiveFormulaItems;
  int serverOrders, serverFormulas, serverComponents, suppliers, serverOrderItems;
};
SampleSize SampleSizeFor(const std::string& scale);  // "small", "quarter", "large" or "huge"

// Creates everything (local tables, platform.ini, command files, server
// database) under the current drive C root. Refuses a root that already
// holds VITRALON unless `force` (then the old VITRALON is removed first).
// Raises cg::Exception with a clear message on failure.
void CreateSample(const std::string& scale, bool force, uint32_t seed = 20261207);

// Writes the installation's own files under the current drive C root: the
// command files of C:\VITRALON and, when asked, C:\platform.ini with the
// sample's aliases.
void WriteInstallationFiles(bool platformIni);

// The two halves, for tests that need only one.
void CreateLocalSample(const SampleSize& size, uint32_t seed);
void CreateServerSample(const SampleSize& size, uint32_t seed);

}  // namespace cg
