// What the journal shows of its runs: the list, one run's changes field by
// field, and the report as CSV for pt-BR spreadsheets.
#include <fstream>
#include <functional>

#include "data/journal/journal.h"
#include "data/journal/store.h"
#include "platform/cp1252.h"
#include "platform/drive.h"

namespace cg {

using journal::Record;
using journal::TableInfo;

namespace {

RunInfo readRun(engine::Stmt& s) {
  RunInfo r;
  r.number = s.columnInt(0);
  r.command = std::string(s.columnText(1));
  r.caption = std::string(s.columnText(2));
  r.started = std::string(s.columnText(3));
  r.ended = std::string(s.columnText(4));
  int64_t outcome = s.columnInt(5);
  r.outcome = outcome >= 0 && outcome <= static_cast<int64_t>(RunOutcome::Died)
                  ? static_cast<RunOutcome>(outcome)
                  : RunOutcome::Running;
  r.message = std::string(s.columnText(6));
  r.driveC = std::string(s.columnText(7));
  r.transport = std::string(s.columnText(8));
  r.undoes = s.columnInt(9);
  r.undoneBy = s.columnInt(10);
  r.simulation = s.columnInt(11) != 0;
  return r;
}

std::string keyText(const RowImage& key, const TableInfo& t) {
  std::string out;
  for (const auto& [p, v] : key) {
    if (!out.empty()) out += "; ";
    out += (p >= 0 && static_cast<size_t>(p) < t.fields.size() ? t.fields[static_cast<size_t>(p)] : "?") +
           "=" + journal::valueText(v);
  }
  return out;
}

}  // namespace

std::vector<ChangeLine> Journal::Impl::lines(const Record& r, const TableInfo& t) {
  std::vector<ChangeLine> out;
  ChangeLine base;
  base.sequence = r.seq;
  base.table = t.name;
  base.key = keyText(r.key, t);
  base.op = r.op;
  auto name = [&](int p) {
    return p >= 0 && static_cast<size_t>(p) < t.fields.size() ? t.fields[static_cast<size_t>(p)]
                                                              : std::string("?");
  };
  if (r.op == 'R') {
    engine::Stmt& s = stmt("SELECT file FROM copies WHERE seq = ?");
    engine::StmtUse use(s);
    s.bindInt(1, r.seq);
    ChangeLine line = base;
    if (s.step()) {
      line.before = std::string(s.columnText(0));
      line.beforeKind = ImageValue::Text;
    }
    out.push_back(std::move(line));
    return out;
  }
  const RowImage& fields = r.op == 'D' ? r.before : r.after;
  for (const auto& [p, v] : fields) {
    ChangeLine line = base;
    line.field = name(p);
    if (r.op == 'D') {
      line.before = journal::valueText(v);
      line.beforeKind = v.kind;
    } else {
      line.after = journal::valueText(v);
      line.afterKind = v.kind;
      if (r.op == 'U')
        if (const ImageValue* old = journal::valueAt(r.before, p)) {
          line.before = journal::valueText(*old);
          line.beforeKind = old->kind;
        }
    }
    out.push_back(std::move(line));
  }
  return out;
}

std::vector<RunInfo> Journal::runs() {
  std::vector<RunInfo> out;
  std::map<int64_t, size_t> at;
  {
    engine::Stmt& s = impl_->stmt(
        "SELECT number, command, caption, started, ended, outcome, message, drive_c, "
        "transport, undoes, undone_by, simulation FROM runs ORDER BY number");
    engine::StmtUse use(s);
    while (s.step()) {
      at[s.columnInt(0)] = out.size();
      out.push_back(readRun(s));
    }
  }
  engine::Stmt& s = impl_->stmt("SELECT run, tbl, op, count(DISTINCT " CG_ROW_OF_RECORD
                                ") FROM changes WHERE 1" CG_SETTLED_RECORD " GROUP BY run, tbl, op");
  std::vector<std::tuple<int64_t, int64_t, char, int64_t>> counts;
  {
    engine::StmtUse use(s);
    while (s.step())
      counts.emplace_back(s.columnInt(0), s.columnInt(1), s.columnText(2).empty() ? 'U' : s.columnText(2)[0],
                          s.columnInt(3));
  }
  for (const auto& [number, table, op, n] : counts) {
    auto it = at.find(number);
    if (it != at.end()) out[it->second].counts[{impl_->tableById(table).name, op}] += n;
  }
  {
    engine::Stmt& kept = impl_->stmt(
        "SELECT x.run, count(DISTINCT c.tbl || ' ' || coalesce(c.row_id, hex(c.key))) "
        "FROM conflicts x JOIN changes c ON c.seq = x.seq GROUP BY x.run");
    engine::StmtUse use(kept);
    while (kept.step()) {
      auto it = at.find(kept.columnInt(0));
      if (it != at.end()) out[it->second].conflicts = kept.columnInt(1);
    }
  }
  {
    engine::Stmt& pending = impl_->stmt("SELECT run, count(DISTINCT tbl || ' ' || " CG_ROW_OF_RECORD
                                        ") FROM changes WHERE 1" CG_UNSETTLED_RECORD " GROUP BY run");
    engine::StmtUse use(pending);
    while (pending.step()) {
      auto it = at.find(pending.columnInt(0));
      if (it != at.end()) out[it->second].unsettled = pending.columnInt(1);
    }
  }
  engine::Stmt& rows = impl_->stmt("SELECT run, count(DISTINCT tbl || ' ' || " CG_ROW_OF_RECORD
                                   ") FROM changes WHERE 1" CG_SETTLED_RECORD " GROUP BY run");
  engine::StmtUse use(rows);
  while (rows.step()) {
    auto it = at.find(rows.columnInt(0));
    if (it != at.end()) out[it->second].rows = rows.columnInt(1);
  }
  return out;
}

std::optional<RunInfo> Journal::run(int64_t number) {
  std::optional<RunInfo> out;
  {
    engine::Stmt& s = impl_->stmt(
        "SELECT number, command, caption, started, ended, outcome, message, drive_c, "
        "transport, undoes, undone_by, simulation FROM runs WHERE number = ?");
    engine::StmtUse use(s);
    s.bindInt(1, number);
    if (!s.step()) return out;
    out = readRun(s);
  }
  engine::Stmt& s = impl_->stmt("SELECT tbl, op, count(DISTINCT " CG_ROW_OF_RECORD
                                ") FROM changes WHERE run = ?" CG_SETTLED_RECORD " GROUP BY tbl, op");
  std::vector<std::tuple<int64_t, char, int64_t>> counts;
  {
    engine::StmtUse use(s);
    s.bindInt(1, number);
    while (s.step())
      counts.emplace_back(s.columnInt(0), s.columnText(1).empty() ? 'U' : s.columnText(1)[0], s.columnInt(2));
  }
  for (const auto& [table, op, n] : counts) out->counts[{impl_->tableById(table).name, op}] += n;
  out->rows = rowsToRestore(number);
  {
    engine::Stmt& pending = impl_->stmt("SELECT count(DISTINCT tbl || ' ' || " CG_ROW_OF_RECORD
                                        ") FROM changes WHERE run = ?" CG_UNSETTLED_RECORD);
    engine::StmtUse use(pending);
    pending.bindInt(1, number);
    if (pending.step()) out->unsettled = pending.columnInt(0);
  }
  engine::Stmt& kept = impl_->stmt(
      "SELECT count(DISTINCT c.tbl || ' ' || coalesce(c.row_id, hex(c.key))) FROM conflicts x JOIN changes c "
      "ON "
      "c.seq = x.seq WHERE x.run = ?");
  engine::StmtUse use(kept);
  kept.bindInt(1, number);
  if (kept.step()) out->conflicts = kept.columnInt(0);
  return out;
}

std::vector<ChangeLine> Journal::changes(int64_t number, std::optional<size_t> limit) {
  std::vector<ChangeLine> out;
  auto take = [&](const Record& r, bool conflict) {
    for (ChangeLine& line : impl_->lines(r, impl_->tableById(r.table))) {
      if (limit && out.size() >= *limit) return false;
      if (conflict) line.op = 'C';
      out.push_back(std::move(line));
    }
    return true;
  };
  bool more = true;
  impl_->eachRecord(number, [&](const Record& r) { return more = take(r, false); });
  if (more) impl_->eachConflict(number, [&](const Record& r) { return take(r, true); });
  return out;
}

namespace {

std::string csvField(std::string_view cp1252) {
  std::string text = toUtf8(cp1252);
  if (text.find_first_of(";\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// A value of the report: a null as an empty bare field, an empty text as
// "" (quoted); a text a spreadsheet would evaluate (=, +, -, @ first) or
// turn into a number losing its leading zeros (01, 00001) taken as text by
// a leading apostrophe, as is a text that begins with one (read back: the
// first apostrophe off).
std::string csvValue(const std::string& cp1252, uint8_t kind) {
  if (kind == ImageValue::Null) return csvField(cp1252);
  if (kind != ImageValue::Text) return csvField(cp1252);
  if (cp1252.empty()) return "\"\"";
  const bool formula = std::string_view("=+-@'\t\r").find(cp1252[0]) != std::string_view::npos;
  const bool zeros =
      cp1252.size() > 1 && cp1252[0] == '0' && cp1252.find_first_not_of("0123456789,.") == std::string::npos;
  return csvField(formula || zeros ? "'" + cp1252 : cp1252);
}

std::string_view operationText(char op) {
  switch (op) {
    case 'I':
      return "inclusão"_cp;
    case 'D':
      return "exclusão"_cp;
    case 'R':
      return "substituição"_cp;
    case 'C':
      return "conflito"_cp;
    default:
      return "alteração"_cp;
  }
}

}  // namespace

namespace {

// Whether `file` is an SQLite database (a table file, a copy, the journal),
// or the log of one.
bool isDatabase(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  char header[16] = {};
  if (in.read(header, sizeof header) &&
      std::string_view(header, sizeof header) == std::string_view("SQLite format 3\0", 16))
    return true;
  const std::string name = file.filename().string();
  for (const char* side : {"-wal", "-shm", "-journal"}) {
    const std::string_view s(side);
    if (name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0) {
      std::filesystem::path base = file;
      base.replace_filename(name.substr(0, name.size() - s.size()));
      std::error_code ec;
      if (std::filesystem::exists(base, ec) && isDatabase(base)) return true;
    }
  }
  return false;
}

}  // namespace

std::string Journal::reportRefusal(const std::filesystem::path& file, bool replace,
                                   const std::string& named) {
  std::error_code ec;
  const auto status = std::filesystem::status(file, ec);
  const std::string name = named.empty() ? fromUtf8(file.string()) : named;
  if (!std::filesystem::exists(status)) {
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(file, ec)))
      return std::string("O arquivo "_cp) + name +
             std::string(" é um atalho para um arquivo que não existe: o relatório não foi gravado."_cp);
    return {};
  }
  if (std::filesystem::is_directory(status))
    return std::string("O caminho "_cp) + name + std::string(" é uma pasta: o relatório não foi gravado."_cp);
  if (!std::filesystem::is_regular_file(status) || isDatabase(file))
    return std::string("O arquivo "_cp) + name +
           std::string(" é uma tabela, uma cópia ou o histórico: o relatório nunca é gravado sobre ele."_cp);
  if (!replace)
    return std::string("O arquivo "_cp) + name + std::string(" já existe: o relatório não foi gravado."_cp);
  return {};
}

void Journal::writeReport(int64_t number, const std::filesystem::path& file, bool replace) {
  if (!run(number))
    throw EJournalError(std::string("Execução "_cp) + std::to_string(number) +
                        std::string(" não encontrada no histórico."_cp));
  if (std::string refusal = reportRefusal(file, replace); !refusal.empty()) throw EJournalError(refusal);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out)
    throw EJournalError(std::string("Não foi possível criar o arquivo "_cp) + fromUtf8(file.string()) + ".");
  out << "\xEF\xBB\xBF" << toUtf8("Tabela;Chave;Operação;Campo;Antes;Depois"_cp) << "\r\n";
  auto write = [&](const Record& r, bool conflict) {
    for (ChangeLine line : impl_->lines(r, impl_->tableById(r.table))) {
      if (conflict) line.op = 'C';
      out << csvField(line.table) << ';' << csvValue(line.key, ImageValue::Text) << ';'
          << csvField(operationText(line.op)) << ';' << csvField(line.field) << ';'
          << csvValue(line.before, line.beforeKind) << ';' << csvValue(line.after, line.afterKind) << "\r\n";
    }
    return static_cast<bool>(out);
  };
  impl_->eachRecord(number, [&](const Record& r) { return write(r, false); });
  impl_->eachConflict(number, [&](const Record& r) { return write(r, true); });
  out.flush();
  if (!out)
    throw EJournalError(std::string("Não foi possível gravar o arquivo "_cp) + fromUtf8(file.string()) + ".");
}

int64_t Journal::rowsToRestore(int64_t number) {
  engine::Stmt& s = impl_->stmt("SELECT count(DISTINCT tbl || ' ' || " CG_ROW_OF_RECORD
                                ") FROM changes WHERE run = ?" CG_SETTLED_RECORD);
  engine::StmtUse use(s);
  s.bindInt(1, number);
  return s.step() ? s.columnInt(0) : 0;
}

}  // namespace cg
