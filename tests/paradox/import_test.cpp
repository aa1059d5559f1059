// The import of a Windows installation: the sample installation exported as
// Paradox tables (in CP850 and in CP1252) and imported back gives the same
// tables; damaged sources stop the import with a message naming the table,
// leave the destination as it was, and no source file ever changes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "data/engine/engine.h"
#include "data/paradox/reader.h"
#include "paradox/paradox_writer.h"
#include "paradox/rows.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "sample/layouts.h"
#include "sample/paradox_import.h"
#include "sample/sample.h"
#include "support/sha256.h"
#include "support/table_dump.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> HashTree(const fs::path& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    out[fs::relative(e.path(), root).string()] = testsupport::Sha256Hex(bytes);
  }
  return out;
}

fs::path Relative(const std::string& win) {
  std::string s = win.substr(3);
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

using paradoxtest::Rows;

class ParadoxImport : public ::testing::Test {
 protected:
  void SetUp() override {
    cg::DriveC::setRoot(sample_.path());
    cg::CreateLocalSample(cg::SampleSizeFor("small"), 20261207);
  }
  void TearDown() override { cg::DriveC::setRoot(sample_.path()); }

  // Writes every catalogue table of the sample as Paradox files under origin_.
  void Export(int codePage) {
    paradoxtest::ParadoxWriter w(codePage);
    for (const auto& t : cg::LocalTables()) {
      const fs::path dir = origin_.path() / Relative(t.directory);
      fs::create_directories(dir);
      w.Export(sample_.path() / Relative(t.directory) / t.fileName, dir,
               fs::path(t.fileName).stem().string());
    }
  }
  cg::ParadoxImportReport Import(bool force = false) {
    cg::DriveC::setRoot(dest_.path());
    cg::ParadoxImportOptions o;
    o.origin = origin_.path();
    o.force = force;
    struct Back {
      fs::path p;
      ~Back() { cg::DriveC::setRoot(p); }
    } back{sample_.path()};
    return cg::ImportParadox(o);
  }
  // Imports, expects a refusal whose message holds `part`, and checks that
  // neither the source nor the destination changed.
  void ExpectRefused(const std::string& part) {
    const auto before = HashTree(origin_.path());
    const auto destBefore = HashTree(dest_.path());
    try {
      Import();
      ADD_FAILURE() << "the import went on; expected: " << part;
    } catch (const cg::Exception& e) {
      EXPECT_NE(e.message().find(cg::fromUtf8(part)), std::string::npos) << cg::toUtf8(e.message());
    }
    EXPECT_EQ(HashTree(origin_.path()), before);
    EXPECT_EQ(HashTree(dest_.path()), destBefore);
  }
  fs::path originFile(const std::string& rel) const { return origin_.path() / rel; }

  testsupport::TempDir sample_, origin_, dest_;
};

TEST_F(ParadoxImport, TheSampleComesBackEqualFromCp850AndCp1252AndTheSourceIsUntouched) {
  for (int codePage : {850, 1252}) {
    SCOPED_TRACE(codePage);
    fs::remove_all(origin_.path() / "VITRALON");
    fs::remove_all(dest_.path() / "VITRALON");
    fs::remove(dest_.path() / "platform.ini");
    Export(codePage);
    // A lock file left behind by a session that ended is read, not touched.
    std::ofstream(origin_.path() / "VITRALON/DADOS/PDOXUSRS.LCK") << "x";
    const auto before = HashTree(origin_.path());
    const auto report = Import();
    EXPECT_EQ(HashTree(origin_.path()), before);
    EXPECT_EQ(report.tables, 15);
    int64_t records = 0;
    for (const auto& t : cg::LocalTables()) {
      SCOPED_TRACE(t.fileName);
      const fs::path a = sample_.path() / Relative(t.directory) / t.fileName;
      const fs::path b = dest_.path() / Relative(t.directory) / t.fileName;
      ASSERT_TRUE(fs::exists(b));
      const std::string table = fs::path(t.fileName).stem().string();
      const auto ra = Rows(a, table);
      EXPECT_EQ(ra, Rows(b, table));
      EXPECT_EQ(Rows(a, "_fields").size(), Rows(b, "_fields").size());
      EXPECT_EQ(testsupport::DumpFile(a).at("_primary"), testsupport::DumpFile(b).at("_primary"));
      EXPECT_EQ(Rows(a, "_indexes"), Rows(b, "_indexes"));
      records += static_cast<int64_t>(ra.size());
    }
    EXPECT_EQ(report.records, records);
    // The engine's own checks pass on every imported table.
    cg::DriveC::setRoot(dest_.path());
    {
      cg::Session session("Sessao1");
      for (const auto& t : cg::LocalTables()) {
        cg::Table table("T");
        table.setDatabaseName(t.directory);
        table.setTableName(t.fileName);
        EXPECT_NO_THROW(table.verify()) << t.fileName;
      }
    }
    cg::DriveC::setRoot(sample_.path());
    EXPECT_TRUE(fs::exists(dest_.path() / "platform.ini"));
    EXPECT_TRUE(fs::exists(dest_.path() / "VITRALON/FormatCli.bat"));
  }
}

TEST_F(ParadoxImport, AnExistingInstallationIsKeptUnlessForcedAndThenCopiedFirst) {
  Export(850);
  Import();
  ExpectRefused("já contém VITRALON");
  const auto report = Import(true);
  EXPECT_FALSE(report.keptCopy.empty());
  int copies = 0;
  for (const auto& e : fs::directory_iterator(dest_.path()))
    copies += e.path().filename().string().rfind("VITRALON.antes-da-importacao-", 0) == 0;
  EXPECT_EQ(copies, 1);
}

TEST_F(ParadoxImport, ASuiteInUseStopsTheImport) {
  Export(850);
  const fs::path lock = originFile("VITRALON/DADOS/PDOXUSRS.LCK");
  std::ofstream(lock) << "estacao 1";
  // Another program holds the suite's lock file, as a running station does.
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(release[1]);
    ::close(ready[0]);
    const int fd = ::open(lock.c_str(), O_RDONLY);
    struct flock fl {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    const char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0) ? 'y' : 'n';
    (void)!::write(ready[1], &ok, 1);
    char c;
    (void)!::read(release[0], &c, 1);
    ::_exit(0);
  }
  ::close(release[0]);
  ::close(ready[1]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  ExpectRefused("parece estar em uso na origem: o arquivo de bloqueio C:\\VITRALON\\DADOS\\PDOXUSRS.LCK");
  ::close(release[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
  // Let go of, the same file is only reported.
  const auto report = Import();
  bool reported = false;
  for (const auto& line : report.lines)
    reported |= line.find("PDOXUSRS.LCK presente, mas livre") != std::string::npos;
  EXPECT_TRUE(reported);
}

TEST_F(ParadoxImport, ADescendingIndexIsReportedAndLeftOutAndAHeaderThatMovesIsSeen) {
  Export(1252);
  // Medicos' index Nome made descending (the direction bit of its header).
  const auto table = cg::paradox::ReadHeader(originFile("VITRALON/DADOS/Medicos.DB"), "db");
  fs::path nome;
  for (const auto& ix : cg::paradox::FindSecondaryIndexes(originFile("VITRALON/DADOS/Medicos.DB"), table))
    if (ix.name == "Nome") nome = ix.file;
  ASSERT_FALSE(nome.empty());
  {
    std::fstream f(nome, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(0x55);
    f.put(0x11);
  }
  const auto report = Import();
  bool reported = false;
  for (const auto& line : report.lines)
    reported |=
        line.find(cg::fromUtf8("  índice Nome (")) == 0 && line.find("descendente") != std::string::npos;
  EXPECT_TRUE(reported);
  const auto indexes = Rows(dest_.path() / "VITRALON/DADOS/Medicos.DB", "_indexes");
  EXPECT_EQ(std::count_if(indexes.begin(), indexes.end(),
                          [](const std::string& r) { return r.find("name=TNome|") != std::string::npos; }),
            0);
  EXPECT_EQ(std::count_if(indexes.begin(), indexes.end(),
                          [](const std::string& r) { return r.find("name=TCRM|") != std::string::npos; }),
            1);

  // A table whose header changes while it is read (the suite wrote to it).
  const fs::path copy = dest_.path() / "copia.DB";
  fs::copy_file(originFile("VITRALON/DADOS/Medicos.DB"), copy);
  cg::paradox::TableReader r(copy, "copia.DB");
  ASSERT_TRUE(r.next());
  EXPECT_FALSE(r.changedSinceOpen());
  {
    std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(0x2D);
    f.put(7);
  }
  EXPECT_TRUE(r.changedSinceOpen());
}

TEST_F(ParadoxImport, DamagedSourcesStopTheImportNamingTheTable) {
  Export(850);
  const fs::path db = originFile("VITRALON/DADOS/Pedidos.DB");
  const auto original = [&]() {
    std::ifstream in(db, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }();
  auto put = [&](const std::string& bytes) {
    fs::permissions(db, fs::perms::owner_write, fs::perm_options::add);
    std::ofstream(db, std::ios::binary | std::ios::trunc) << bytes;
  };
  const auto h = cg::paradox::ReadHeader(db, "db");
  ASSERT_GT(h.fileBlocks, 1);

  // A file cut short inside its data.
  put(original.substr(0, original.size() - static_cast<std::size_t>(h.blockSize) - 100));
  ExpectRefused("Pedidos.DB");

  // Without the primary index (a keyed table may lack it), the reader's own
  // checks of the chain and of the key order stand alone.
  const fs::path px = originFile("VITRALON/DADOS/Pedidos.PX");
  fs::rename(px, originFile("VITRALON/DADOS/guardado.px"));

  // The chain pointing past the end of the file.
  std::string broken = original;
  paradoxtest::PutLe(broken, static_cast<std::size_t>(h.headerSize), 60000, 2);
  put(broken);
  ExpectRefused("fora do arquivo");

  // A record count the chain does not hold.
  std::string count = original;
  paradoxtest::PutLe(count, 6, h.records + 1, 4);
  put(count);
  ExpectRefused("registros, mas a cadeia de blocos tem");

  // Records out of key order.
  std::string swapped = original;
  const auto pos = static_cast<std::size_t>(h.headerSize) + 6;
  const auto rs = static_cast<std::size_t>(h.recordSize);
  std::swap_ranges(swapped.begin() + static_cast<std::ptrdiff_t>(pos),
                   swapped.begin() + static_cast<std::ptrdiff_t>(pos + rs),
                   swapped.begin() + static_cast<std::ptrdiff_t>(pos + rs));
  put(swapped);
  ExpectRefused("ordem da chave");
  fs::rename(originFile("VITRALON/DADOS/guardado.px"), px);

  // A primary index whose record count for a block is wrong.
  put(original);
  std::string pxBytes;
  {
    std::ifstream in(px, std::ios::binary);
    pxBytes.assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  const auto ph = cg::paradox::ReadHeader(px, "px");
  const std::size_t stat =
      static_cast<std::size_t>(ph.headerSize) + 6 + static_cast<std::size_t>(ph.recordSize) - 4;
  pxBytes[stat + 1] = static_cast<char>(pxBytes[stat + 1] + 1);
  std::ofstream(px, std::ios::binary | std::ios::trunc) << pxBytes;
  ExpectRefused("não confere com a tabela");
  pxBytes[stat + 1] = static_cast<char>(pxBytes[stat + 1] - 1);
  std::ofstream(px, std::ios::binary | std::ios::trunc) << pxBytes;

  // Memos whose .MB is missing.
  const auto mb = cg::paradox::Sibling(originFile("VITRALON/DADOS/Clientes.DB"), "MB");
  ASSERT_TRUE(mb.has_value());
  fs::rename(*mb, originFile("VITRALON/DADOS/guardado.bin"));
  ExpectRefused("Clientes.MB não existe");
  fs::rename(originFile("VITRALON/DADOS/guardado.bin"), *mb);

  // A character that CP1252 lacks (a box-drawing one of CP850) in a name.
  {
    const fs::path clientes = originFile("VITRALON/DADOS/Clientes.DB");
    const auto ch = cg::paradox::ReadHeader(clientes, "db");
    const auto nome =
        std::find_if(ch.fields.begin(), ch.fields.end(), [](const auto& f) { return f.name == "Nome"; });
    ASSERT_NE(nome, ch.fields.end());
    std::string bytes;
    {
      std::ifstream in(clientes, std::ios::binary);
      bytes.assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    const std::string kept = bytes;
    bytes[static_cast<std::size_t>(ch.headerSize) + 6 + static_cast<std::size_t>(nome->offset)] = '\xC9';
    std::ofstream(clientes, std::ios::binary | std::ios::trunc) << bytes;
    ExpectRefused(
        "Caractere sem forma no código 1252 em campo Nome do registro 1 (byte C9 do código 850): "
        "C:\\VITRALON\\DADOS\\Clientes.DB");
    std::ofstream(clientes, std::ios::binary | std::ios::trunc) << kept;
  }

  // Nothing was left behind in the destination by the failed imports.
  put(original);
  EXPECT_TRUE(fs::is_empty(dest_.path()));
  EXPECT_NO_THROW(Import());
}

}  // namespace
