#include "data/paradox/reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>

#include "platform/cp1252.h"
#include "platform/regional.h"

namespace cg::paradox {

namespace {

[[noreturn]] void fail(const std::string& display, const std::string& detail) {
  throw EParadoxError(cp("Tabela Paradox inválida ou danificada: "_cp) + display + " (" + detail + ")");
}

uint16_t u16le(const char* p) {
  return static_cast<uint16_t>(static_cast<unsigned char>(p[0]) | (static_cast<unsigned char>(p[1]) << 8));
}
uint32_t u32le(const char* p) {
  return static_cast<uint32_t>(u16le(p)) | (static_cast<uint32_t>(u16le(p + 2)) << 16);
}
uint64_t beBytes(const char* p, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}
bool allZero(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c == 0; });
}

// A file opened read-only, read at offsets.
class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ReadOnlyFile(const std::filesystem::path& path, const std::string& display) { open(path, display); }
  ~ReadOnlyFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  void open(const std::filesystem::path& path, const std::string& display) {
    display_ = display;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
      if (errno == ENOENT) throw EParadoxError(cp("Arquivo não encontrado: "_cp) + display);
      throw EParadoxError(cp("Não foi possível ler o arquivo "_cp) + display + ": " + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))
      throw EParadoxError(cp("Não é um arquivo comum: "_cp) + display);
    size_ = static_cast<uint64_t>(st.st_size);
  }
  uint64_t size() const { return size_; }
  bool isOpen() const { return fd_ >= 0; }
  // Reads exactly n bytes at `offset`, or raises naming `what`.
  void read(uint64_t offset, char* buf, std::size_t n, const std::string& what) const {
    if (offset > size_ || n > size_ - offset) fail(display_, cp("o arquivo termina antes "_cp) + what);
    std::size_t done = 0;
    while (done < n) {
      const ssize_t r = ::pread(fd_, buf + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) fail(display_, cp("erro de leitura "_cp) + what);
      done += static_cast<std::size_t>(r);
    }
  }

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  std::string display_;
};

char typeLetter(int code) {
  switch (code) {
    case 0x01:
      return 'A';
    case 0x02:
      return 'D';
    case 0x03:
      return 'S';
    case 0x04:
      return 'I';
    case 0x05:
      return '$';
    case 0x06:
      return 'N';
    case 0x09:
      return 'L';
    case 0x0C:
      return 'M';
    case 0x0D:
      return 'B';
    case 0x0E:
      return 'F';
    case 0x0F:
      return 'O';
    case 0x10:
      return 'G';
    case 0x14:
      return 'T';
    case 0x15:
      return '@';
    case 0x16:
      return '+';
    case 0x17:
      return '#';
    case 0x18:
      return 'Y';
    default:
      return '?';
  }
}

int typeWidth(char type, int size) {
  switch (type) {
    case 'A':
    case 'M':
    case 'B':
    case 'F':
    case 'O':
    case 'G':
    case 'Y':
      return size;
    case 'D':
    case 'I':
    case 'T':
    case '+':
      return 4;
    case 'S':
      return 2;
    case '$':
    case 'N':
    case '@':
      return 8;
    case 'L':
      return 1;
    case '#':
      return 17;
    default:
      return -1;
  }
}

Header parseHeader(const std::string& h, uint64_t fileSize, const std::string& display) {
  if (h.size() < 0x58) fail(display, cp("cabeçalho curto demais"_cp));
  const char* p = h.data();
  Header hd;
  hd.recordSize = u16le(p);
  hd.headerSize = u16le(p + 2);
  hd.fileType = static_cast<unsigned char>(p[4]);
  const int blockCode = static_cast<unsigned char>(p[5]);
  hd.blockSize = blockCode * 1024;
  hd.records = u32le(p + 6);
  hd.usedBlocks = u16le(p + 0x0A);
  hd.fileBlocks = u16le(p + 0x0C);
  hd.firstBlock = u16le(p + 0x0E);
  hd.lastBlock = u16le(p + 0x10);
  hd.indexRoot = u16le(p + 0x1E);
  hd.indexLevels = static_cast<unsigned char>(p[0x20]);
  hd.fieldCount = u16le(p + 0x21);
  hd.keyFields = u16le(p + 0x23);
  hd.versionId = static_cast<unsigned char>(p[0x39]);
  hd.autoIncrement = u32le(p + 0x49);
  hd.firstFreeBlock = u16le(p + 0x4D);
  hd.directionByte = static_cast<unsigned char>(p[0x55]);

  if (hd.fileType > 8) fail(display, "tipo de arquivo " + std::to_string(hd.fileType) + " desconhecido");
  if (blockCode < 1 || blockCode > 32)
    fail(display, "tamanho de bloco " + std::to_string(blockCode) + " desconhecido");
  if (hd.versionId < 3 || hd.versionId > 12)
    fail(display, cp("versão "_cp) + std::to_string(hd.versionId) + " desconhecida");
  if (hd.headerSize < 0x58 || static_cast<uint64_t>(hd.headerSize) > fileSize)
    fail(display, cp("tamanho de cabeçalho inválido"_cp));
  if (hd.recordSize < 1 || hd.recordSize > hd.blockSize - 6)
    fail(display, "tamanho de registro " + std::to_string(hd.recordSize) + " fora dos limites");
  if (hd.fieldCount < 1 || hd.fieldCount > 255)
    fail(display, "número de campos " + std::to_string(hd.fieldCount) + " fora dos limites");
  if (hd.keyFields > hd.fieldCount) fail(display, cp("mais campos de chave que campos"_cp));

  const bool v4 = hd.versionId >= 5;
  const bool indexFile = hd.isIndexFile();
  // The longer header of the later versions (encryption, code page) must be
  // there before it is read.
  if (v4 && !indexFile && h.size() < 0x78) fail(display, cp("cabeçalho curto demais"_cp));
  if (indexFile)
    hd.encrypted = u32le(p + 0x25) != 0 && u32le(p + 0x25) != 0xFF00FF00u;
  else
    hd.encrypted = v4 ? u32le(p + 0x5C) != 0 : u32le(p + 0x25) != 0;
  if (v4 && !indexFile) hd.codePage = u16le(p + 0x6A);

  std::size_t pos = (v4 && !indexFile) ? 0x78 : 0x58;
  auto need = [&](std::size_t n) {
    if (pos + n > h.size()) fail(display, cp("o cabeçalho termina antes da descrição dos campos"_cp));
  };
  need(2 * static_cast<std::size_t>(hd.fieldCount));
  int offset = 0;
  for (int i = 0; i < hd.fieldCount; ++i) {
    Field f;
    f.code = static_cast<unsigned char>(p[pos + 2 * i]);
    f.size = static_cast<unsigned char>(p[pos + 2 * i + 1]);
    f.type = typeLetter(f.code);
    if (f.type == '?')
      fail(display,
           "campo " + std::to_string(i + 1) + " de tipo " + std::to_string(f.code) + " desconhecido");
    f.width = typeWidth(f.type, f.size);
    if (f.width < 1 && f.type != 'B') fail(display, "campo " + std::to_string(i + 1) + " de largura 0");
    if (f.isBlob() && f.width < 10)
      fail(display, "campo " + std::to_string(i + 1) + " de largura menor que 10");
    f.offset = offset;
    offset += f.width;
    hd.fields.push_back(f);
  }
  const int expected = indexFile ? offset + 6 : offset;
  if (expected != hd.recordSize)
    fail(display, "os campos somam " + std::to_string(expected) + " bytes, mas o registro tem " +
                      std::to_string(hd.recordSize));
  pos += 2 * static_cast<std::size_t>(hd.fieldCount) + 4;
  if (!indexFile) pos += 4 * static_cast<std::size_t>(hd.fieldCount);
  const std::size_t nameLen = hd.versionId >= 12 ? 261 : 79;
  need(nameLen);
  hd.tableName.assign(p + pos, strnlen(p + pos, nameLen));
  pos += nameLen;
  if (indexFile) return hd;

  auto cstring = [&]() {
    const std::size_t end = h.find('\0', pos);
    if (end == std::string::npos) fail(display, cp("o cabeçalho termina dentro de um nome"_cp));
    std::string s = h.substr(pos, end - pos);
    pos = end + 1;
    return s;
  };
  for (auto& f : hd.fields) f.name = cstring();
  if (!v4) return hd;
  if (hd.encrypted) return hd;
  need(2 * static_cast<std::size_t>(hd.fieldCount));
  for (int i = 0; i < hd.fieldCount; ++i) hd.fieldNumbers.push_back(u16le(p + pos + 2 * i));
  pos += 2 * static_cast<std::size_t>(hd.fieldCount);
  hd.sortOrder = cstring();
  if (hd.fileType == 6 || hd.fileType == 8) hd.indexName = cstring();
  return hd;
}

// The blocks a file holds after its header; the engine does not always write
// the unused end of the last block, so a last block cut short counts.
uint64_t blockCount(const ReadOnlyFile& f, const Header& h) {
  const uint64_t data = f.size() - static_cast<uint64_t>(h.headerSize);
  return (data + static_cast<uint64_t>(h.blockSize) - 1) / static_cast<uint64_t>(h.blockSize);
}

// Reads block `n` (1-based) into `buf` (one block long); the part past the end
// of a last block cut short reads as zeros. Returns the bytes present.
std::size_t readBlock(const ReadOnlyFile& f, const Header& h, int n, std::vector<char>& buf) {
  const uint64_t off = static_cast<uint64_t>(h.headerSize) + static_cast<uint64_t>(n - 1) * h.blockSize;
  const std::size_t present = static_cast<std::size_t>(std::min<uint64_t>(buf.size(), f.size() - off));
  f.read(off, buf.data(), present, "do bloco " + std::to_string(n));
  std::fill(buf.begin() + static_cast<std::ptrdiff_t>(present), buf.end(), '\0');
  return present;
}

// The records a block holds, from its header; raises when they do not fit in
// the bytes present.
int recordsIn(const std::vector<char>& buf, std::size_t present, const Header& h, int n,
              const std::string& display) {
  if (present < 6) fail(display, "o arquivo termina dentro do bloco " + std::to_string(n));
  const int addSize = static_cast<int16_t>(u16le(buf.data() + 4));
  if (addSize < 0) return 0;
  if (addSize % h.recordSize != 0)
    fail(display, "o bloco " + std::to_string(n) + cp(" tem um tamanho de dados inválido"_cp));
  const int count = addSize / h.recordSize + 1;
  if (6 + static_cast<int64_t>(count) * h.recordSize > h.blockSize)
    fail(display, "o bloco " + std::to_string(n) + " diz ter mais registros do que cabem nele");
  if (6 + static_cast<uint64_t>(count) * h.recordSize > present)
    fail(display, "o arquivo termina dentro do bloco " + std::to_string(n));
  return count;
}

std::string readHeaderBytes(const ReadOnlyFile& f, const std::string& display) {
  char fixed[16] = {};
  f.read(0, fixed, std::min<uint64_t>(16, f.size()), cp("do fim do cabeçalho"_cp));
  if (std::memcmp(fixed, "SQLite format 3", 16) == 0)
    fail(display,
         cp("não é uma tabela Paradox: é uma tabela deste sistema (SQLite), talvez já importada"_cp));
  if (f.size() < 4) fail(display, cp("o arquivo termina antes do fim do cabeçalho"_cp));
  const std::size_t size = u16le(fixed + 2);
  if (size < 0x58) fail(display, cp("tamanho de cabeçalho inválido"_cp));
  std::string h(size, '\0');
  f.read(0, h.data(), size, cp("do fim do cabeçalho"_cp));
  return h;
}

}  // namespace

std::string Header::version() const {
  if (versionId <= 3) return "3.0";
  if (versionId == 4) return "3.5";
  if (versionId <= 9) return "4.x";
  if (versionId <= 11) return "5.x";
  return "7.x";
}

Header ReadHeader(const std::filesystem::path& file, const std::string& display) {
  ReadOnlyFile f(file, display);
  return parseHeader(readHeaderBytes(f, display), f.size(), display);
}

// Paradox day numbers count from 0001-01-01 as day 1.
constexpr int64_t kDayOneTo1970 = 719163;

int64_t DayNumberFromCivil(int y, int m, int d) { return DaysFromCivil(y, m, d) + kDayOneTo1970; }

void CivilFromDayNumber(int64_t day, int& y, int& m, int& d) { CivilFromDays(day - kDayOneTo1970, y, m, d); }

struct TableReader::Files {
  ReadOnlyFile db;
  ReadOnlyFile mb;
};

TableReader::TableReader(const std::filesystem::path& dbFile, std::string display)
    : dbFile_(dbFile), display_(std::move(display)) {
  files_ = std::make_unique<Files>();
  files_->db.open(dbFile, display_);
  fileSize_ = files_->db.size();
  headerBytes_ = readHeaderBytes(files_->db, display_);
  header_ = parseHeader(headerBytes_, fileSize_, display_);
  if (header_.isIndexFile()) fail(display_, cp("é um arquivo de índice, não de dados"_cp));
  if (header_.encrypted) fail(display_, cp("tabela cifrada com senha: não pode ser lida"_cp));
  blocksInFile_ = blockCount(files_->db, header_);
  visited_.assign(blocksInFile_ + 1, 0);
  block_buf_.resize(static_cast<std::size_t>(header_.blockSize));
  const int keyCount = header_.fileType == 0 ? header_.keyFields : 0;
  for (int i = 0; i < keyCount; ++i) keyWidth_ += header_.fields[i].width;
}

TableReader::~TableReader() = default;

void TableReader::loadBlock(int number) {
  if (number < 1 || static_cast<uint64_t>(number) > blocksInFile_)
    fail(display_, "a cadeia de blocos aponta para o bloco " + std::to_string(number) + ", fora do arquivo");
  if (visited_[number])
    fail(display_, "a cadeia de blocos passa duas vezes pelo bloco " + std::to_string(number));
  visited_[number] = 1;
  const std::size_t present = readBlock(files_->db, header_, number, block_buf_);
  const int count = recordsIn(block_buf_, present, header_, number, display_);
  block_ = number;
  nextBlock_ = u16le(block_buf_.data());
  inBlock_ = count;
  posInBlock_ = -1;
  ++blocksSeen_;
}

bool TableReader::next() {
  if (done_) return false;
  if (!started_) {
    started_ = true;
    nextBlock_ = header_.fileBlocks == 0 && header_.records == 0 ? 0 : header_.firstBlock;
    inBlock_ = 0;
  }
  std::string previousKey;
  const bool checkKey = keyWidth_ > 0 && recordNumber_ > 0;
  if (checkKey) previousKey.assign(keyBytes());
  while (posInBlock_ + 1 >= inBlock_) {
    if (nextBlock_ == 0) {
      done_ = true;
      if (static_cast<uint64_t>(recordNumber_) != header_.records)
        fail(display_, cp("o cabeçalho dá "_cp) + std::to_string(header_.records) +
                           " registros, mas a cadeia de blocos tem " + std::to_string(recordNumber_));
      return false;
    }
    loadBlock(nextBlock_);
  }
  ++posInBlock_;
  ++recordNumber_;
  if (static_cast<uint64_t>(recordNumber_) > header_.records)
    fail(display_, cp("o cabeçalho dá "_cp) + std::to_string(header_.records) +
                       cp(" registros, mas a cadeia de blocos tem mais"_cp));
  if (checkKey) {
    const std::string_view key = keyBytes();
    // Alpha keys of a sort order other than "ascii" follow a collation of the
    // suite's engine; there only a repeated key is sure to be wrong.
    bool byteOrder = header_.sortOrder.empty() || header_.sortOrder == "ascii";
    for (int i = 0; i < header_.keyFields && byteOrder; ++i)
      if (header_.fields[i].type == 'A' && !header_.sortOrder.empty() && header_.sortOrder != "ascii")
        byteOrder = false;
    if (key == previousKey) fail(display_, "chave repetida no registro " + std::to_string(recordNumber_));
    bool ascending = true;
    if (byteOrder) {
      ascending = key > std::string_view(previousKey);
    } else {
      // Compare field by field, skipping alpha fields: the order of what can
      // be compared must still hold where the alpha fields before are equal.
      for (int i = 0; i < header_.keyFields; ++i) {
        const Field& f = header_.fields[i];
        const std::string_view a = std::string_view(previousKey).substr(f.offset, f.width);
        const std::string_view b = key.substr(f.offset, f.width);
        if (a == b) continue;
        if (f.type != 'A') ascending = b > a;
        break;
      }
    }
    if (!ascending)
      fail(display_, cp("os registros não estão na ordem da chave primária (registro "_cp) +
                         std::to_string(recordNumber_) + ")");
  }
  return true;
}

std::string_view TableReader::raw(int field) const {
  const Field& f = header_.fields.at(static_cast<std::size_t>(field));
  return std::string_view(
      block_buf_.data() + 6 + static_cast<std::size_t>(posInBlock_) * header_.recordSize + f.offset,
      static_cast<std::size_t>(f.width));
}

std::string_view TableReader::keyBytes() const {
  return std::string_view(block_buf_.data() + 6 + static_cast<std::size_t>(posInBlock_) * header_.recordSize,
                          static_cast<std::size_t>(keyWidth_));
}

bool TableReader::changedSinceOpen() const {
  ReadOnlyFile again(dbFile_, display_);
  if (again.size() != fileSize_) return true;
  return readHeaderBytes(again, display_) != headerBytes_;
}

Value TableReader::value(int field) {
  const Field& f = header_.fields.at(static_cast<std::size_t>(field));
  const std::string_view r = raw(field);
  Value v;
  if (f.type == 'A') {
    const std::size_t end = r.find('\0');
    const std::string_view s = r.substr(0, end);
    if (s.empty()) return v;
    v.kind = Value::Kind::Text;
    v.bytes.assign(s);
    return v;
  }
  if (f.isBlob()) return blob(f, r);
  if (allZero(r)) return v;
  auto signedValue = [&](int n) {
    const uint64_t u = beBytes(r.data(), n) ^ (uint64_t{1} << (8 * n - 1));
    const uint64_t sign = uint64_t{1} << (8 * n - 1);
    return (u & sign) ? static_cast<int64_t>(u) - static_cast<int64_t>(sign << 1) : static_cast<int64_t>(u);
  };
  auto doubleValue = [&]() {
    uint64_t u = beBytes(r.data(), 8);
    if (u & (uint64_t{1} << 63))
      u ^= uint64_t{1} << 63;
    else
      u = ~u;
    double d;
    std::memcpy(&d, &u, 8);
    return d;
  };
  switch (f.type) {
    case 'S':
    case 'I':
    case '+':
      v.kind = Value::Kind::Integer;
      v.integer = signedValue(f.width);
      break;
    case 'D':
      v.kind = Value::Kind::Date;
      v.integer = signedValue(4);
      break;
    case 'T':
      v.kind = Value::Kind::Time;
      v.integer = signedValue(4);
      break;
    case 'N':
    case '$':
      v.kind = Value::Kind::Real;
      v.real = doubleValue();
      break;
    case '@':
      v.kind = Value::Kind::Timestamp;
      v.real = doubleValue();
      break;
    case 'L':
      v.kind = Value::Kind::Logical;
      v.integer = (static_cast<unsigned char>(r[0]) & 0x7F) != 0;
      break;
    case 'Y':
      v.kind = Value::Kind::Bytes;
      v.bytes.assign(r);
      break;
    case '#': {
      const auto b0 = static_cast<unsigned char>(r[0]);
      const bool positive = b0 & 0x80;
      const int scale = b0 & 0x3F;
      if (scale > 32) fail(display_, "campo " + f.name + cp(" com casas decimais além de 32"_cp));
      std::string digits;
      for (int i = 1; i < 17; ++i) {
        unsigned char b = static_cast<unsigned char>(r[static_cast<std::size_t>(i)]);
        if (!positive) b = static_cast<unsigned char>(~b);
        digits.push_back(static_cast<char>(b >> 4));
        digits.push_back(static_cast<char>(b & 0x0F));
      }
      // A nibble above 9 is no digit: reading stops there.
      bool bad = false;
      for (char& d : digits) {
        if (bad || d > 9) {
          bad = true;
          d = '0';
        } else {
          d = static_cast<char>('0' + d);
        }
      }
      std::string whole = digits.substr(0, static_cast<std::size_t>(32 - scale));
      const std::size_t nz = whole.find_first_not_of('0');
      whole = nz == std::string::npos ? "0" : whole.substr(nz);
      v.kind = Value::Kind::Decimal;
      v.bytes = (positive ? "" : "-") + whole;
      if (scale > 0) v.bytes += "." + digits.substr(static_cast<std::size_t>(32 - scale));
      if (bad) v.integer = 1;  // marks digits that could not be read
      break;
    }
    default:
      break;
  }
  return v;
}

Value TableReader::blob(const Field& f, std::string_view r) {
  Value v;
  const std::size_t leader = static_cast<std::size_t>(f.width) - 10;
  const char* d = r.data() + leader;
  const uint32_t offset = u32le(d);
  const uint32_t length = u32le(d + 4);
  if (length == 0) return v;
  v.kind = f.type == 'M' ? Value::Kind::Text : Value::Kind::Bytes;
  const std::string where = "o campo " + f.name + " do registro " + std::to_string(recordNumber_);
  if (offset == 0) {
    if (length > leader) fail(display_, where + cp(" diz ter mais bytes do que o seu início no registro"_cp));
    v.bytes.assign(r.substr(0, length));
    v.store = Value::Store::Leader;
    return v;
  }
  auto& files = files_;
  const std::string mbDisplay = display_.substr(0, display_.size() >= 3 ? display_.size() - 3 : 0) + ".MB";
  if (!files->mb.isOpen()) {
    const auto mb = Sibling(dbFile_, "MB");
    if (!mb) fail(display_, cp("o arquivo de memos "_cp) + mbDisplay + cp(" não existe"_cp));
    files->mb.open(*mb, mbDisplay);
  }
  const ReadOnlyFile& mbf = files->mb;
  const uint32_t index = offset & 0xFF;
  const uint64_t base = offset & 0xFFFFFF00u;
  if (length > mbf.size()) fail(mbDisplay, where + cp(" diz ter mais bytes do que o arquivo de memos"_cp));
  if (index == 0xFF) {
    char h[9];
    mbf.read(base, h, 9, cp("do bloco de "_cp) + where);
    if (h[0] != 2 || u32le(h + 3) != length)
      fail(mbDisplay, where + cp(" aponta para um bloco que não é o seu"_cp));
    v.bytes.resize(length);
    mbf.read(base + 9, v.bytes.data(), length, cp("dos dados de "_cp) + where);
    v.store = Value::Store::SingleBlock;
    return v;
  }
  char h[12 + 64 * 5];
  mbf.read(base, h, sizeof h, cp("do bloco de "_cp) + where);
  if (h[0] != 3 || index >= 64) fail(mbDisplay, where + cp(" aponta para um bloco que não é o seu"_cp));
  const char* e = h + 12 + 5 * index;
  const uint32_t start = static_cast<unsigned char>(e[0]) * 16u;
  const uint32_t chunks = static_cast<unsigned char>(e[1]);
  const uint32_t rest = static_cast<unsigned char>(e[4]);
  if (start == 0 || chunks == 0 || rest == 0 || rest > 16 || (chunks - 1) * 16 + rest != length ||
      start + length > 4096u * std::max<uint32_t>(1, u16le(h + 1)))
    fail(mbDisplay, where + cp(" aponta para uma entrada que não é a sua"_cp));
  v.bytes.resize(length);
  mbf.read(base + start, v.bytes.data(), length, cp("dos dados de "_cp) + where);
  v.store = Value::Store::SubAllocated;
  return v;
}

std::optional<std::filesystem::path> Sibling(const std::filesystem::path& file, std::string_view ext) {
  const std::filesystem::path dir = file.parent_path().empty() ? "." : file.parent_path();
  const std::string want = file.stem().string() + "." + std::string(ext);
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() == want.size() && std::equal(name.begin(), name.end(), want.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        }))
      return entry.path();
  }
  return std::nullopt;
}

void CheckPrimaryIndex(const std::filesystem::path& pxFile, const std::string& pxDisplay,
                       const std::filesystem::path& dbFile, const std::string& dbDisplay) {
  ReadOnlyFile px(pxFile, pxDisplay);
  const Header ph = parseHeader(readHeaderBytes(px, pxDisplay), px.size(), pxDisplay);
  ReadOnlyFile db(dbFile, dbDisplay);
  const Header dh = parseHeader(readHeaderBytes(db, dbDisplay), db.size(), dbDisplay);
  if (ph.fileType != 1) fail(pxDisplay, cp("não é um índice primário"_cp));
  int keyWidth = 0;
  for (int i = 0; i < dh.keyFields; ++i) keyWidth += dh.fields[i].width;
  if (ph.recordSize != keyWidth + 6)
    fail(pxDisplay, cp("o índice primário não tem os campos da chave da tabela "_cp) + dbDisplay);
  if (ph.indexLevels > 16) fail(pxDisplay, cp("número de níveis inválido"_cp));
  const uint64_t pxBlocks = blockCount(px, ph);
  const uint64_t dbBlocks = blockCount(db, dh);
  std::vector<uint8_t> seen(pxBlocks + 1, 0);
  int chain = dh.fileBlocks == 0 && dh.records == 0 ? 0 : dh.firstBlock;
  int64_t entries = 0;
  std::vector<char> dbBlock(static_cast<std::size_t>(dh.blockSize));
  auto disagree = [&](const std::string& what) {
    throw EParadoxError(cp("O índice primário "_cp) + pxDisplay + cp(" não confere com a tabela: "_cp) +
                        what);
  };
  std::function<void(int, int)> walk = [&](int block, int level) {
    if (block < 1 || static_cast<uint64_t>(block) > pxBlocks || seen[block])
      fail(pxDisplay, "bloco " + std::to_string(block) + cp(" do índice inválido ou repetido"_cp));
    seen[block] = 1;
    std::vector<char> buf(static_cast<std::size_t>(ph.blockSize));
    const int count = recordsIn(buf, readBlock(px, ph, block, buf), ph, block, pxDisplay);
    for (int i = 0; i < count; ++i) {
      const char* e = buf.data() + 6 + i * ph.recordSize;
      const int child = static_cast<int>(beBytes(e + keyWidth, 2) ^ 0x8000);
      const int stat = static_cast<int>(beBytes(e + keyWidth + 2, 2) ^ 0x8000);
      if (level > 1) {
        walk(child, level - 1);
        continue;
      }
      ++entries;
      if (child != chain)
        disagree("a entrada " + std::to_string(entries) + " aponta para o bloco " + std::to_string(child) +
                 ", mas o bloco seguinte da cadeia " +
                 (chain == 0 ? std::string("terminou") : "é o " + std::to_string(chain)));
      if (static_cast<uint64_t>(child) > dbBlocks)
        fail(dbDisplay, "bloco " + std::to_string(child) + " fora do arquivo");
      if (child < 1) fail(dbDisplay, "bloco " + std::to_string(child) + " fora do arquivo");
      const std::size_t present = readBlock(db, dh, child, dbBlock);
      const int dCount = recordsIn(dbBlock, present, dh, child, dbDisplay);
      const char* dbHeadData = dbBlock.data();
      if (dCount != stat)
        disagree("o bloco " + std::to_string(child) + " tem " + std::to_string(dCount) +
                 cp(" registros, o índice diz "_cp) + std::to_string(stat));
      if (dCount > 0 && std::memcmp(dbHeadData + 6, e, static_cast<std::size_t>(keyWidth)) != 0)
        disagree("a chave da entrada " + std::to_string(entries) +
                 cp(" não é a do primeiro registro do bloco "_cp) + std::to_string(child));
      chain = u16le(dbHeadData);
    }
  };
  if (ph.indexLevels > 0 && ph.records > 0) walk(ph.indexRoot, ph.indexLevels);
  if (chain != 0) disagree(cp("o índice não chega ao bloco "_cp) + std::to_string(chain) + " da cadeia");
}

std::vector<IndexEntry> ReadIndexBlock(const std::filesystem::path& pxFile, const std::string& display,
                                       int block) {
  ReadOnlyFile px(pxFile, display);
  const Header ph = parseHeader(readHeaderBytes(px, display), px.size(), display);
  if (!ph.isIndexFile()) fail(display, cp("não é um arquivo de índice"_cp));
  if (block < 1 || static_cast<uint64_t>(block) > blockCount(px, ph))
    fail(display, "bloco " + std::to_string(block) + " fora do arquivo");
  std::vector<char> buf(static_cast<std::size_t>(ph.blockSize));
  const int count = recordsIn(buf, readBlock(px, ph, block, buf), ph, block, display);
  const int keyWidth = ph.recordSize - 6;
  std::vector<IndexEntry> out;
  for (int i = 0; i < count; ++i) {
    const char* e = buf.data() + 6 + i * ph.recordSize;
    IndexEntry entry;
    entry.key.assign(e, static_cast<std::size_t>(keyWidth));
    entry.block = static_cast<int>(beBytes(e + keyWidth, 2) ^ 0x8000);
    entry.count = static_cast<int>(beBytes(e + keyWidth + 2, 2) ^ 0x8000);
    out.push_back(std::move(entry));
  }
  return out;
}

std::vector<SecondaryIndex> FindSecondaryIndexes(const std::filesystem::path& dbFile, const Header& table) {
  std::vector<SecondaryIndex> out;
  const std::filesystem::path dir = dbFile.parent_path().empty() ? "." : dbFile.parent_path();
  const std::string stem = dbFile.stem().string();
  auto upper = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  };
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const auto& p = entry.path();
    if (upper(p.stem().string()) != upper(stem)) continue;
    const std::string ext = upper(p.extension().string());
    const bool single = ext.size() == 4 && ext[1] == 'X' &&
                        std::isxdigit(static_cast<unsigned char>(ext[2])) &&
                        std::isxdigit(static_cast<unsigned char>(ext[3]));
    const bool composite = ext.size() == 4 && ext[1] == 'X' && ext[2] == 'G' &&
                           std::isxdigit(static_cast<unsigned char>(ext[3]));
    if (!single && !composite) continue;
    SecondaryIndex ix;
    ix.file = p;
    ix.suffix = ext.substr(1);
    ix.header = ReadHeader(p, p.filename().string());
    const Header& xh = ix.header;
    const int trailing = table.fileType == 0 ? table.keyFields + 1 : 3;
    const int m = xh.fieldCount - trailing;
    if (m < 1 || static_cast<int>(xh.fieldNumbers.size()) < m)
      fail(p.filename().string(), cp("o índice secundário não descreve os seus campos"_cp));
    for (int i = 0; i < m; ++i) {
      const int n = xh.fieldNumbers[static_cast<std::size_t>(i)];
      if (n & 0x8000) ix.descending = true;
      const int number = n & 0x7FFF;
      if (number < 1 || number > table.fieldCount)
        fail(p.filename().string(),
             "o campo " + std::to_string(number) + cp(" do índice não existe na tabela"_cp));
      ix.fieldNumbers.push_back(number);
      ix.fields.push_back(table.fields[static_cast<std::size_t>(number - 1)].name);
    }
    if (xh.directionByte & 0x10) ix.descending = true;
    ix.maintained = xh.fileType == 5 || xh.fileType == 8;
    ix.entries = xh.records;
    ix.name = composite ? xh.indexName : ix.fields.front();
    out.push_back(std::move(ix));
  }
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.suffix < b.suffix; });
  return out;
}

}  // namespace cg::paradox
