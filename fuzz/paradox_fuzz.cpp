// The Paradox reader over damaged files: the input is split into a table
// file, its primary index and its memo file (two little-endian lengths
// first), which are written to a folder of their own and read as an import
// reads them: the header, every value of every record in the chain, the
// secondary indexes beside it and the primary index against the data. The
// only errors allowed are the reader's own messages; nothing may crash or
// hang.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "data/paradox/reader.h"

namespace fs = std::filesystem;

namespace {

const fs::path& Folder() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("paradox_fuzz-" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

void Put(const fs::path& file, const uint8_t* p, size_t n) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(p), static_cast<std::streamsize>(n));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  size_t dbLen = data[0] | (data[1] << 8);
  size_t pxLen = data[2] | (data[3] << 8);
  data += 4;
  size -= 4;
  if (dbLen > size) dbLen = size;
  if (pxLen > size - dbLen) pxLen = size - dbLen;
  const fs::path db = Folder() / "T.DB", px = Folder() / "T.PX", mb = Folder() / "T.MB";
  Put(db, data, dbLen);
  std::error_code ec;
  fs::remove(px, ec);
  fs::remove(mb, ec);
  if (pxLen > 0) Put(px, data + dbLen, pxLen);
  if (size > dbLen + pxLen) Put(mb, data + dbLen + pxLen, size - dbLen - pxLen);
  try {
    cg::paradox::TableReader r(db, "T.DB");
    while (r.next())
      for (int i = 0; i < r.header().fieldCount; ++i) (void)r.value(i);
    (void)cg::paradox::FindSecondaryIndexes(db, r.header());
    if (pxLen > 0) cg::paradox::CheckPrimaryIndex(px, "T.PX", db, "T.DB");
  } catch (const cg::Exception&) {
  }
  return 0;
}
