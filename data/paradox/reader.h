// A reader of the suite's Paradox tables (versions 3.0 to 7), written from the
// public notes on the format (docs/paradox.md): the table file NAME.DB, its
// primary index NAME.PX, its secondary indexes NAME.Xnn/.XGn (with their
// .Ynn/.YGn), and its memos and blobs in NAME.MB.
//
// Every file is opened read-only and read block by block: a table of any
// size is walked in the memory of one block. Nothing is ever written, no lock
// file is made. A damaged file raises EParadoxError with a Portuguese message
// that names the file and what is wrong; it never crashes or hangs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace cg::paradox {

CG_DECLARE_ERROR(EParadoxError, Exception);

// One field as the header describes it.
struct Field {
  std::string name;  // as stored (bytes of the table's code page)
  int code = 0;      // the type code byte (01 = A, 02 = D, ...)
  char type = '?';   // the type letter: A D S I $ N L M B F O G T @ + # Y
  int size = 0;      // the header's size byte (for #: the decimal places)
  int width = 0;     // bytes the field takes in a record
  int offset = 0;    // its offset in the record
  bool isBlob() const { return type == 'M' || type == 'B' || type == 'F' || type == 'O' || type == 'G'; }
};

// The header of any of the files (table, primary index, secondary index).
struct Header {
  int recordSize = 0;
  int headerSize = 0;
  int fileType = 0;  // 0 keyed table, 2 unkeyed, 1 .PX, 3/5 .Xnn, 6/8 .XGn, 4 .Ynn, 7 .YGn
  int blockSize = 0;
  uint32_t records = 0;
  int usedBlocks = 0, fileBlocks = 0, firstBlock = 0, lastBlock = 0;
  int indexRoot = 0, indexLevels = 0;  // .PX and .Ynn
  int fieldCount = 0;
  int keyFields = 0;
  int versionId = 0;  // 3 (3.0), 4 (3.5), 5..9 (4.x), 10..11 (5.x), 12 (7.x)
  int codePage = -1;  // -1 when the header has none (3.x)
  std::string sortOrder;
  uint32_t autoIncrement = 0;  // the last value handed out
  int firstFreeBlock = 0;
  bool encrypted = false;
  int directionByte = 0;  // offset 55; bit 10 set on a descending secondary index
  std::vector<Field> fields;
  std::vector<int> fieldNumbers;  // data and secondary index files of 4.x and later
  std::string tableName;
  std::string indexName;  // a named composite secondary index (.XGn)

  // "3.0", "3.5", "4.x", "5.x" or "7.x".
  std::string version() const;
  bool isIndexFile() const { return fileType == 1 || fileType == 4 || fileType == 7; }
};

// Reads a file's header. `display` names the file in messages (CP1252).
Header ReadHeader(const std::filesystem::path& file, const std::string& display);

// A field's value. Blank fields (all bytes zero, an empty alpha) are Null.
struct Value {
  enum class Kind { Null, Text, Integer, Real, Logical, Date, Time, Timestamp, Decimal, Bytes };
  Kind kind = Kind::Null;
  std::string bytes;    // Text: the table's code page; Bytes: raw (blobs, Y); Decimal: "-12.30"
  int64_t integer = 0;  // Integer; Logical 0/1; Date: day number (1 = 0001-01-01); Time: ms
  double real = 0;      // Real; Timestamp: ms since day 0
  // Blobs: where the bytes were found.
  enum class Store { None, Leader, SingleBlock, SubAllocated };
  Store store = Store::None;
  bool isNull() const { return kind == Kind::Null; }
};

// The date of a day number: year, month, day.
void CivilFromDayNumber(int64_t day, int& y, int& m, int& d);
int64_t DayNumberFromCivil(int y, int m, int d);

// Walks a table file's records in the order of its block chain, skipping
// free blocks and the unused space of each block.
class TableReader {
 public:
  // `display` names the table in messages (its Windows path, CP1252).
  TableReader(const std::filesystem::path& dbFile, std::string display);
  ~TableReader();
  TableReader(const TableReader&) = delete;
  TableReader& operator=(const TableReader&) = delete;

  const Header& header() const { return header_; }
  const std::string& display() const { return display_; }

  // Moves to the next record; false after the last one. Checks the chain on
  // the way (a block outside the file, a block met twice, a record count
  // that does not fit the block) and, at its end, that the header's record
  // count equals the records found.
  bool next();
  // The current record's number (1-based) and its data block.
  int64_t recordNumber() const { return recordNumber_; }
  int currentBlock() const { return block_; }
  int blocksInChain() const { return blocksSeen_; }

  std::string_view raw(int field) const;
  Value value(int field);  // blobs are read from the .MB (EParadoxError when it is missing)

  // The bytes of the primary key fields of the current record.
  std::string_view keyBytes() const;

  // Reads the header again and tells whether it changed since the table was
  // opened (the suite wrote to the table meanwhile).
  bool changedSinceOpen() const;

 private:
  void loadBlock(int number);
  Value blob(const Field& f, std::string_view raw);
  std::filesystem::path dbFile_;
  std::string display_;
  Header header_;
  std::string headerBytes_;
  struct Files;  // the table file and its .MB, opened read-only
  std::unique_ptr<Files> files_;
  uint64_t fileSize_ = 0;
  uint64_t blocksInFile_ = 0;
  std::vector<char> block_buf_;
  std::vector<uint8_t> visited_;
  int block_ = 0, nextBlock_ = 0;
  int inBlock_ = 0, posInBlock_ = -1;
  int blocksSeen_ = 0;
  int64_t recordNumber_ = 0;
  bool started_ = false, done_ = false;
  int keyWidth_ = 0;
};

// Checks that a primary index (.PX) agrees with its table: one level-1 entry
// per data block, in chain order, naming that block, its record count and the
// key of its first record. Raises EParadoxError naming what disagrees.
void CheckPrimaryIndex(const std::filesystem::path& pxFile, const std::string& pxDisplay,
                       const std::filesystem::path& dbFile, const std::string& dbDisplay);

// One entry of an index block (.PX or .Ynn): the key bytes, the block it
// points to (a data block at level 1, else an index block) and its record
// count.
struct IndexEntry {
  std::string key;
  int block = 0;
  int count = 0;
};
std::vector<IndexEntry> ReadIndexBlock(const std::filesystem::path& pxFile, const std::string& display,
                                       int block);

// A secondary index of a table, as its .Xnn/.XGn file describes it.
struct SecondaryIndex {
  std::filesystem::path file;
  std::string suffix;               // "X06", "XG0" (upper case)
  std::vector<std::string> fields;  // the table's field names, in order
  std::vector<int> fieldNumbers;    // 1-based field numbers in the table
  std::string name;                 // the composite index's name, or the field's name
  bool descending = false;
  bool maintained = false;  // kept up to date on every change (file type 5 or 8)
  uint32_t entries = 0;
  Header header;
};

// The secondary indexes found beside a table (file names without regard to
// case), in order of their suffix.
std::vector<SecondaryIndex> FindSecondaryIndexes(const std::filesystem::path& dbFile, const Header& table);

// The file beside `file` with its base name and the extension `ext`, found
// without regard to case; nullopt when there is none.
std::optional<std::filesystem::path> Sibling(const std::filesystem::path& file, std::string_view ext);

}  // namespace cg::paradox
