// A writer of Paradox 7 tables, for the tests only: it exports a table file
// of ours (read with SQLite itself) as NAME.DB, its primary index NAME.PX,
// the headers of its secondary indexes (NAME.Xnn / NAME.XGn, written as not
// maintained, with no entries) and its memos in NAME.MB, with text in the
// code page asked for. The key fields come first, as Paradox requires.
#pragma once

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "data/paradox/codepage.h"
#include "data/paradox/reader.h"
#include "platform/cp1252.h"

namespace paradoxtest {

namespace fs = std::filesystem;

struct WriterField {
  std::string name;
  char type = 'A';
  int size = 0;  // header size byte
  int width = 0;
  int column = 0;  // column in our table
};

inline void PutLe(std::string& b, std::size_t at, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void PutBe(std::string& b, std::size_t at, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b[at + i] = static_cast<char>((v >> (8 * (n - 1 - i))) & 0xFF);
}

class ParadoxWriter {
 public:
  ParadoxWriter(int codePage, int blockCode = 4)
      : codePage_(codePage), blockSize_(blockCode * 1024), blockCode_(blockCode) {}

  // Exports our table file `source` as `dir/stem.DB` (and its companions).
  void Export(const fs::path& source, const fs::path& dir, const std::string& stem) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(source.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
      throw std::runtime_error("cannot open " + source.string());
    auto rowsOf = [&](const std::string& sql) {
      std::vector<std::vector<std::pair<int, std::string>>> out;
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
        throw std::runtime_error(sqlite3_errmsg(db));
      while (sqlite3_step(st) == SQLITE_ROW) {
        std::vector<std::pair<int, std::string>> row;
        for (int i = 0; i < sqlite3_column_count(st); ++i) {
          const int t = sqlite3_column_type(st, i);
          if (t == SQLITE_FLOAT) {
            // The double's own bytes: its text form may round it.
            const double d = sqlite3_column_double(st, i);
            row.emplace_back(t, std::string(reinterpret_cast<const char*>(&d), sizeof d));
            continue;
          }
          const auto* p = sqlite3_column_text(st, i);
          row.emplace_back(
              t, p ? std::string(reinterpret_cast<const char*>(p), sqlite3_column_bytes(st, i)) : "");
        }
        out.push_back(std::move(row));
      }
      sqlite3_finalize(st);
      return out;
    };
    const std::string table = rowsOf("SELECT name FROM _table")[0][0].second;
    const auto fieldRows = rowsOf("SELECT name, type, size FROM _fields ORDER BY position");
    const auto keyRows = rowsOf("SELECT field FROM _primary ORDER BY position");
    const auto indexRows = rowsOf("SELECT name, field FROM _indexes ORDER BY rowid");
    std::vector<WriterField> all;
    for (std::size_t i = 0; i < fieldRows.size(); ++i) {
      WriterField f;
      f.name = fieldRows[i][0].second;
      f.type = fieldRows[i][1].second[0];
      f.size = std::stoi(fieldRows[i][2].second);
      f.column = static_cast<int>(i);
      all.push_back(f);
    }
    // Key fields first.
    std::vector<WriterField> fields;
    for (const auto& k : keyRows)
      for (const auto& f : all)
        if (f.name == k[0].second) fields.push_back(f);
    for (const auto& f : all)
      if (std::none_of(keyRows.begin(), keyRows.end(), [&](const auto& k) { return k[0].second == f.name; }))
        fields.push_back(f);
    int recordSize = 0;
    for (auto& f : fields) {
      switch (f.type) {
        case 'A':
          f.width = f.size;
          break;
        case 'M':
          f.size = 20, f.width = 20;
          break;
        case 'S':
          f.size = f.width = 2;
          break;
        case 'N':
        case '$':
        case '@':
          f.size = f.width = 8;
          break;
        case 'L':
          f.size = f.width = 1;
          break;
        default:
          f.size = f.width = 4;
          break;
      }
      recordSize += f.width;
    }
    const int keyCount = static_cast<int>(keyRows.size());
    int keyWidth = 0;
    for (int i = 0; i < keyCount; ++i) keyWidth += fields[static_cast<std::size_t>(i)].width;

    // The records, encoded, in key order.
    std::vector<std::string> records;
    std::string mb(4096, '\0');
    mb[0] = 0;
    PutLe(mb, 1, 1, 2);
    uint32_t autoInc = 0;
    for (const auto& row : rowsOf("SELECT * FROM \"" + table + "\"")) {
      std::string rec(static_cast<std::size_t>(recordSize), '\0');
      int at = 0;
      for (const auto& f : fields) {
        const auto& [type, text] = row[static_cast<std::size_t>(f.column)];
        if (type != SQLITE_NULL) encode(f, type, text, rec, at, mb, autoInc);
        at += f.width;
      }
      records.push_back(rec);
    }
    if (keyCount > 0)
      std::sort(records.begin(), records.end(), [&](const std::string& a, const std::string& b) {
        return a.compare(0, static_cast<std::size_t>(keyWidth), b, 0, static_cast<std::size_t>(keyWidth)) < 0;
      });
    sqlite3_close(db);

    // The data blocks.
    const int perBlock = (blockSize_ - 6) / recordSize;
    const int blocks = static_cast<int>((records.size() + perBlock - 1) / perBlock);
    std::string data;
    std::vector<std::pair<std::string, int>> firstKeys;  // per block: first key, records
    for (int b = 0; b < blocks; ++b) {
      std::string blk(static_cast<std::size_t>(blockSize_), '\0');
      const int from = b * perBlock;
      const int n = std::min<int>(perBlock, static_cast<int>(records.size()) - from);
      PutLe(blk, 0, b + 1 < blocks ? b + 2 : 0, 2);
      PutLe(blk, 2, b, 2);
      PutLe(blk, 4, static_cast<uint64_t>((n - 1) * recordSize), 2);
      for (int i = 0; i < n; ++i)
        std::memcpy(blk.data() + 6 + i * recordSize, records[static_cast<std::size_t>(from + i)].data(),
                    static_cast<std::size_t>(recordSize));
      firstKeys.emplace_back(
          records[static_cast<std::size_t>(from)].substr(0, static_cast<std::size_t>(keyWidth)), n);
      data += blk;
    }
    std::string header =
        tableHeader(fields, recordSize, keyCount > 0 ? 0 : 2, static_cast<uint32_t>(records.size()), blocks,
                    keyCount, autoInc, stem + ".DB", {});
    write(dir / (stem + ".DB"), header + data);
    if (mb.size() > 4096) write(dir / (stem + ".MB"), mb);
    if (keyCount > 0) writePrimaryIndex(dir / (stem + ".PX"), fields, keyCount, keyWidth, firstKeys, stem);

    // The secondary indexes' headers.
    std::map<std::string, std::vector<std::string>> indexes;
    std::vector<std::string> order;
    for (const auto& r : indexRows) {
      if (!indexes.count(r[0].second)) order.push_back(r[0].second);
      indexes[r[0].second].push_back(r[1].second);
    }
    int composite = 0;
    for (const auto& name : order) {
      const auto& ixFields = indexes[name];
      std::vector<WriterField> xf;
      std::vector<int> numbers;
      for (const auto& n : ixFields)
        for (std::size_t i = 0; i < fields.size(); ++i)
          if (fields[i].name == n) xf.push_back(fields[i]), numbers.push_back(static_cast<int>(i + 1));
      for (int i = 0; i < keyCount; ++i)
        xf.push_back(fields[static_cast<std::size_t>(i)]), numbers.push_back(i + 1);
      WriterField hint{"Blk Num", 'S', 2, 2, 0};
      xf.push_back(hint);
      numbers.push_back(0);
      int size = 0;
      for (const auto& f : xf) size += f.width;
      const bool single = ixFields.size() == 1 && ixFields[0] == name;
      char ext[16];
      if (single)
        std::snprintf(ext, sizeof ext, "X%02X", numbers[0]);
      else
        std::snprintf(ext, sizeof ext, "XG%X", composite++);
      std::string xh = tableHeader(xf, size, single ? 3 : 6, 0, 0, static_cast<int>(xf.size()) - 1, 0,
                                   stem + "." + ext, numbers, single ? "" : name);
      write(dir / (stem + "." + ext), xh);
    }
  }

 private:
  std::string toCodePage(const std::string& cp1252) {
    std::string out;
    for (unsigned char c : cp1252) {
      if (c < 0x80 || codePage_ == 1252) {
        out.push_back(static_cast<char>(c));
        continue;
      }
      const char32_t u = cg::cp1252ToUnicode(c);
      int found = -1;
      for (int b = 0x80; b < 0x100 && found < 0; ++b)
        if (cg::paradox::DecodeByte(codePage_, static_cast<unsigned char>(b)) == u) found = b;
      if (found < 0) throw std::runtime_error("no form in the code page");
      out.push_back(static_cast<char>(found));
    }
    return out;
  }

  static void putSigned(std::string& rec, int at, int64_t v, int n) {
    const uint64_t sign = uint64_t{1} << (8 * n - 1);
    PutBe(rec, static_cast<std::size_t>(at), (static_cast<uint64_t>(v) & ((sign << 1) - 1)) ^ sign, n);
  }
  static void putDouble(std::string& rec, int at, double d) {
    uint64_t u;
    std::memcpy(&u, &d, 8);
    u = (u & (uint64_t{1} << 63)) ? ~u : u ^ (uint64_t{1} << 63);
    PutBe(rec, static_cast<std::size_t>(at), u, 8);
  }
  static double Real(int type, const std::string& value) {
    if (type != SQLITE_FLOAT) return static_cast<double>(std::stoll(value));
    double d;
    std::memcpy(&d, value.data(), sizeof d);
    return d;
  }
  static int64_t dayOf(const std::string& t) {
    return cg::paradox::DayNumberFromCivil(std::stoi(t.substr(0, 4)), std::stoi(t.substr(5, 2)),
                                           std::stoi(t.substr(8, 2)));
  }
  static int64_t msOf(const std::string& t) {
    int64_t ms =
        (std::stoi(t.substr(0, 2)) * 3600 + std::stoi(t.substr(3, 2)) * 60 + std::stoi(t.substr(6, 2))) *
        int64_t{1000};
    if (t.size() > 9) ms += std::stoi(t.substr(9, 3));
    return ms;
  }

  void encode(const WriterField& f, int type, const std::string& text, std::string& rec, int at,
              std::string& mb, uint32_t& autoInc) {
    switch (f.type) {
      case 'A': {
        const std::string s = toCodePage(text);
        std::memcpy(rec.data() + at, s.data(),
                    std::min<std::size_t>(s.size(), static_cast<std::size_t>(f.width)));
        break;
      }
      case 'S':
      case 'I':
      case '+': {
        const int64_t v = std::stoll(text);
        putSigned(rec, at, v, f.width);
        if (f.type == '+') autoInc = std::max<uint32_t>(autoInc, static_cast<uint32_t>(v));
        break;
      }
      case 'L':
        rec[static_cast<std::size_t>(at)] = static_cast<char>(0x80 | (std::stoi(text) ? 1 : 0));
        break;
      case 'N':
      case '$':
        putDouble(rec, at, Real(type, text));
        break;
      case 'D':
        putSigned(rec, at, dayOf(text), 4);
        break;
      case 'T':
        putSigned(rec, at, msOf(text), 4);
        break;
      case '@':
        putDouble(rec, at, static_cast<double>(dayOf(text) * 86400000 + msOf(text.substr(11))));
        break;
      case 'M': {
        const std::string s = toCodePage(text);
        const std::size_t leader = 10;
        std::memcpy(rec.data() + at, s.data(), std::min(s.size(), leader));
        uint32_t offset = 0;
        if (s.size() > leader) {
          offset = static_cast<uint32_t>(mb.size()) | 0xFF;
          const std::size_t chunks = (9 + s.size() + 4095) / 4096;
          std::string blk(chunks * 4096, '\0');
          blk[0] = 2;
          PutLe(blk, 1, chunks, 2);
          PutLe(blk, 3, s.size(), 4);
          PutLe(blk, 7, 1, 2);
          std::memcpy(blk.data() + 9, s.data(), s.size());
          mb += blk;
        }
        PutLe(rec, static_cast<std::size_t>(at) + leader, offset, 4);
        PutLe(rec, static_cast<std::size_t>(at) + leader + 4, s.size(), 4);
        PutLe(rec, static_cast<std::size_t>(at) + leader + 8, 1, 2);
        break;
      }
      default:
        throw std::runtime_error("type");
    }
  }

  static char code(char t) {
    switch (t) {
      case 'A':
        return 0x01;
      case 'D':
        return 0x02;
      case 'S':
        return 0x03;
      case 'I':
        return 0x04;
      case '$':
        return 0x05;
      case 'N':
        return 0x06;
      case 'L':
        return 0x09;
      case 'M':
        return 0x0C;
      case 'T':
        return 0x14;
      case '@':
        return 0x15;
      default:
        return 0x16;  // '+'
    }
  }

  std::string tableHeader(const std::vector<WriterField>& fields, int recordSize, int fileType,
                          uint32_t records, int blocks, int keyFields, uint32_t autoInc,
                          const std::string& name, const std::vector<int>& numbers,
                          const std::string& indexName = "") {
    std::string h(2048, '\0');
    const auto n = fields.size();
    PutLe(h, 0x00, static_cast<uint64_t>(recordSize), 2);
    h[0x04] = static_cast<char>(fileType);
    h[0x05] = static_cast<char>(blockCode_);
    PutLe(h, 0x06, records, 4);
    PutLe(h, 0x0A, static_cast<uint64_t>(blocks), 2);
    PutLe(h, 0x0C, static_cast<uint64_t>(blocks), 2);
    PutLe(h, 0x0E, blocks > 0 ? 1 : 0, 2);
    PutLe(h, 0x10, static_cast<uint64_t>(blocks), 2);
    PutLe(h, 0x21, n, 2);
    PutLe(h, 0x23, static_cast<uint64_t>(keyFields), 2);
    PutLe(h, 0x25, 0xFF00FF00u, 4);
    h[0x39] = 12;
    PutLe(h, 0x49, autoInc, 4);
    PutLe(h, 0x58, 0x010C, 2);
    PutLe(h, 0x5A, 0x010C, 2);
    PutLe(h, 0x6A, static_cast<uint64_t>(codePage_), 2);
    std::size_t pos = 0x78;
    for (const auto& f : fields) {
      h[pos++] = code(f.type);
      h[pos++] = static_cast<char>(f.size);
    }
    pos += 4 + 4 * n;
    std::memcpy(h.data() + pos, name.data(), std::min<std::size_t>(name.size(), 260));
    pos += 261;
    std::string tail;
    for (const auto& f : fields) tail += toCodePage(f.name) + '\0';
    std::string nums(2 * n, '\0');
    for (std::size_t i = 0; i < n; ++i)
      PutLe(nums, 2 * i, numbers.empty() ? i + 1 : static_cast<uint64_t>(numbers[i]), 2);
    tail += nums + "ascii" + '\0';
    if (!indexName.empty()) tail += indexName + '\0';
    if (pos + tail.size() > h.size()) h.resize((pos + tail.size() + 2047) / 2048 * 2048, '\0');
    std::memcpy(h.data() + pos, tail.data(), tail.size());
    PutLe(h, 0x02, h.size(), 2);
    return h;
  }

  void writePrimaryIndex(const fs::path& file, const std::vector<WriterField>& fields, int keyCount,
                         int keyWidth, const std::vector<std::pair<std::string, int>>& firstKeys,
                         const std::string& stem) {
    const int entrySize = keyWidth + 6;
    const int perBlock = (blockSize_ - 6) / entrySize;
    std::string blocksData;
    int blockNo = 0;
    uint32_t total = 0;
    // Level 1 points to data blocks; each level above to the one below.
    struct Entry {
      std::string key;
      int block, count;
    };
    std::vector<Entry> level;
    for (std::size_t i = 0; i < firstKeys.size(); ++i)
      level.push_back({firstKeys[i].first, static_cast<int>(i + 1), firstKeys[i].second});
    int levels = 0, root = 1;
    while (!level.empty()) {
      ++levels;
      std::vector<Entry> up;
      const int first = blockNo + 1;
      const int count = static_cast<int>((level.size() + perBlock - 1) / perBlock);
      for (int b = 0; b < count; ++b) {
        std::string blk(static_cast<std::size_t>(blockSize_), '\0');
        const int from = b * perBlock;
        const int n = std::min<int>(perBlock, static_cast<int>(level.size()) - from);
        PutLe(blk, 0, b + 1 < count ? first + b + 1 : 0, 2);
        PutLe(blk, 2, b > 0 ? first + b - 1 : 0, 2);
        PutLe(blk, 4, static_cast<uint64_t>((n - 1) * entrySize), 2);
        int sum = 0;
        for (int i = 0; i < n; ++i) {
          const Entry& e = level[static_cast<std::size_t>(from + i)];
          std::memcpy(blk.data() + 6 + i * entrySize, e.key.data(), static_cast<std::size_t>(keyWidth));
          PutBe(blk, static_cast<std::size_t>(6 + i * entrySize + keyWidth),
                static_cast<uint64_t>(e.block) ^ 0x8000, 2);
          PutBe(blk, static_cast<std::size_t>(6 + i * entrySize + keyWidth + 2),
                static_cast<uint64_t>(std::min(e.count, 0x7FFF)) ^ 0x8000, 2);
          sum += e.count;
        }
        total += static_cast<uint32_t>(n);
        up.push_back({level[static_cast<std::size_t>(from)].key, first + b, sum});
        blocksData += blk;
      }
      blockNo += count;
      if (count == 1) {
        root = first;
        break;
      }
      level = std::move(up);
    }
    std::string h(2048, '\0');
    PutLe(h, 0x00, static_cast<uint64_t>(entrySize), 2);
    PutLe(h, 0x02, 2048, 2);
    h[0x04] = 1;
    h[0x05] = static_cast<char>(blockCode_);
    PutLe(h, 0x06, total, 4);
    PutLe(h, 0x0A, static_cast<uint64_t>(blockNo), 2);
    PutLe(h, 0x0C, static_cast<uint64_t>(blockNo), 2);
    PutLe(h, 0x0E, 1, 2);
    PutLe(h, 0x10, static_cast<uint64_t>(blockNo), 2);
    PutLe(h, 0x1E, static_cast<uint64_t>(root), 2);
    h[0x20] = static_cast<char>(firstKeys.empty() ? 0 : levels);
    PutLe(h, 0x21, static_cast<uint64_t>(keyCount), 2);
    h[0x39] = 12;
    std::size_t pos = 0x58;
    for (int i = 0; i < keyCount; ++i) {
      h[pos++] = code(fields[static_cast<std::size_t>(i)].type);
      h[pos++] = static_cast<char>(fields[static_cast<std::size_t>(i)].size);
    }
    pos += 4;
    const std::string name = stem + ".PX";
    std::memcpy(h.data() + pos, name.data(), name.size());
    write(file, h + blocksData);
  }

  static void write(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + file.string());
  }

  int codePage_;
  int blockSize_;
  int blockCode_;
};

}  // namespace paradoxtest
