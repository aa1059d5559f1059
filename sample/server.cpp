// The server half of the sample installation: C:\VITRALON\DADOS\vitralon.bd
// with the suite's tables, filled with deterministic, messy data (names with
// accents, null and empty names, grouped and alphanumeric tax numbers, units
// in every case, zero and null discounts, orders with and without doctor or
// book code, order items with stale component codes).
//
// The database is always built by the embedded engine, whatever transport
// platform.ini names: no server is needed to make it. Rows go in through one
// prepared INSERT per table, reused, committed every few thousand rows; keys
// and indexes are added after the load, which is much faster than keeping
// them up to date row by row.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/sql/firebird.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "sample/sample.h"
#include "sample/server_schema.h"

namespace cg {

namespace {

// A small deterministic generator (the same numbers on every machine).
class Random {
 public:
  explicit Random(uint32_t seed) : state_(seed * 2654435761u + 1) {}
  uint32_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<uint32_t>(state_ >> 11);
  }
  int below(int n) { return n <= 0 ? 0 : static_cast<int>(next() % static_cast<uint32_t>(n)); }
  bool chance(int percent) { return below(100) < percent; }
  template <typename T, size_t N>
  const T& pick(const T (&items)[N]) {
    return items[below(static_cast<int>(N))];
  }

 private:
  uint64_t state_;
};

using Value = std::optional<std::string>;

// A prepared INSERT reused for every row of one table.
class Loader {
 public:
  Loader(SQLConnectionImpl& c, const std::string& table, const std::vector<std::string>& columns)
      : c_(c), table_(table), columns_(columns) {
    sql_ = "INSERT INTO " + table + " (";
    std::string marks;
    for (size_t i = 0; i < columns.size(); ++i) {
      sql_ += (i ? ", " : "") + columns[i];
      marks += i ? ", ?" : "?";
    }
    sql_ += ") VALUES (" + marks + ")";
    begin();
  }
  void add(const std::vector<Value>& row) {
    for (size_t i = 0; i < row.size(); ++i)
      stmt_->bind(static_cast<int>(i), row[i] ? std::optional<std::string_view>(*row[i]) : std::nullopt);
    stmt_->execute(*tx_);
    if (++pending_ == 20000) {
      finish();
      begin();
    }
  }
  void finish() {
    stmt_.reset();
    if (tx_) tx_->commit();
    tx_.reset();
    pending_ = 0;
  }

 private:
  void begin() {
    tx_ = std::make_unique<SQLConnectionImpl::Transaction>(c_);
    stmt_ = std::make_unique<SQLConnectionImpl::Prepared>(c_, *tx_, sql_);
  }
  SQLConnectionImpl& c_;
  std::string table_, sql_;
  std::vector<std::string> columns_;
  std::unique_ptr<SQLConnectionImpl::Transaction> tx_;
  std::unique_ptr<SQLConnectionImpl::Prepared> stmt_;
  int pending_ = 0;
};

void run(SQLConnectionImpl& c, const std::string& sql) { c.executeDirect(sql); }

std::string num(long long v) { return std::to_string(v); }

std::string pad(long long v, int width) {
  std::string s = std::to_string(v);
  return s.size() < static_cast<size_t>(width) ? std::string(width - s.size(), '0') + s : s;
}

std::string date(Random& r) {
  char b[16];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d", 2015 + r.below(10), 1 + r.below(12), 1 + r.below(28));
  return b;
}

std::string time(Random& r) {
  char b[16];
  std::snprintf(b, sizeof b, "%02d:%02d:%02d", 8 + r.below(11), r.below(60), r.below(60));
  return b;
}

std::string money(Random& r, int maxReais) { return num(r.below(maxReais)) + "." + pad(r.below(100), 2); }

// Names in the suite's upper case, accents included (CP1252).
constexpr std::string_view kFirst[] = {"JOSÉ"_cp,      "MARIA"_cp,  "JOÃO"_cp,   "ANTÔNIO"_cp,
                                       "FRANCISCO"_cp, "ANA"_cp,    "LUÍZA"_cp,  "CONCEIÇÃO"_cp,
                                       "PAULO"_cp,     "MÁRCIA"_cp, "INÊS"_cp,   "SEBASTIÃO"_cp,
                                       "LÚCIA"_cp,     "JOSEFA"_cp, "CARLOS"_cp, "RAIMUNDO"_cp};
constexpr std::string_view kMiddle[] = {"DE"_cp, "DA"_cp, "DOS"_cp, "E"_cp, "DAS"_cp, "DO"_cp};
constexpr std::string_view kLast[] = {
    "SILVA"_cp,    "SOUZA"_cp, "OLIVEIRA"_cp, "ARAÚJO"_cp,    "GONÇALVES"_cp, "PEREIRA"_cp, "CONCEIÇÃO"_cp,
    "ASSUNÇÃO"_cp, "LIMA"_cp,  "FALCÃO"_cp,   "MAGALHÃES"_cp, "BRANDÃO"_cp,   "RIBEIRO"_cp, "ALVES"_cp};

std::string personName(Random& r) {
  std::string n(r.pick(kFirst));
  if (r.chance(40)) n += " " + std::string(r.pick(kFirst));
  if (r.chance(50)) n += " " + std::string(r.pick(kMiddle));
  n += " " + std::string(r.pick(kLast));
  if (r.chance(60)) n += " " + std::string(r.pick(kLast));
  if (r.chance(5)) n = "  " + n + " ";  // stray blanks typed at the counter
  return n.size() > 40 ? n.substr(0, 40) : n;
}

constexpr std::string_view kSubstances[] = {"ÁCIDO ASCÓRBICO"_cp,
                                            "ácido hialurônico"_cp,
                                            "VITAMINA C"_cp,
                                            "Cafeína"_cp,
                                            "MINOXIDIL"_cp,
                                            "ÓLEO DE AMÊNDOAS"_cp,
                                            "UREIA"_cp,
                                            "Lanolina"_cp,
                                            "CÂNFORA"_cp,
                                            "MENTOL"_cp,
                                            "glicerina"_cp,
                                            "ÁLCOOL CETOESTEARÍLICO"_cp,
                                            "D-PANTENOL"_cp,
                                            "Colágeno Hidrolisado"_cp,
                                            "ZINCO QUELATO"_cp,
                                            "MELATONINA"_cp,
                                            "CREATINA"_cp,
                                            "BASE CREME NÃO IÔNICO"_cp,
                                            "CÁPSULA GELATINOSA"_cp,
                                            "FRASCO ÂMBAR"_cp};
constexpr std::string_view kForms[] = {"CREME"_cp,   "Loção"_cp, "GEL"_cp,    "CÁPSULAS"_cp,
                                       "shampoo"_cp, "SÉRUM"_cp, "POMADA"_cp, "Xarope"_cp};
constexpr std::string_view kUnits[] = {"GR"_cp, "Gr"_cp, "gr"_cp, "g"_cp,  "Lt"_cp,  "LT"_cp,
                                       "ML"_cp, "ml"_cp, "Kg"_cp, "UN"_cp, "gr "_cp, "MG"_cp};
constexpr std::string_view kCities[] = {"SÃO PAULO"_cp, "GOIÂNIA"_cp,       "BELÉM"_cp,
                                        "MACEIÓ"_cp,    "FLORIANÓPOLIS"_cp, "CUIABÁ"_cp};
constexpr std::string_view kStates[] = {"SP", "GO", "PA", "AL", "SC", "MT"};

// Check digits of a CNPJ's first twelve characters (digits or capitals,
// each worth its code minus 48).
std::string cnpjWithDigits(const std::string& base) {
  auto dv = [](const std::string& s, int firstWeight) {
    int sum = 0, w = firstWeight;
    for (char ch : s) {
      sum += (ch - '0') * w;
      w = w == 2 ? 9 : w - 1;
    }
    int rest = sum % 11;
    return rest < 2 ? 0 : 11 - rest;
  };
  std::string with = base + static_cast<char>('0' + dv(base, 5));
  return with + static_cast<char>('0' + dv(with, 6));
}

std::string grouped(const std::string& c) {
  return c.substr(0, 2) + "." + c.substr(2, 3) + "." + c.substr(5, 3) + "/" + c.substr(8, 4) + "-" +
         c.substr(12, 2);
}

Value cnpj(Random& r, int i) {
  std::string base;
  if (i % 97 == 5) {  // the new alphanumeric form
    const char* letters = "ABCDEFGHJKLMNPQRSTUVWXYZ";
    for (int k = 0; k < 12; ++k)
      base += (k >= 2 && k < 5) || (k >= 10) ? letters[r.below(24)] : static_cast<char>('0' + r.below(10));
    return grouped(cnpjWithDigits(base));
  }
  for (int k = 0; k < 8; ++k) base += static_cast<char>('0' + r.below(10));
  base += "0001";
  std::string full = cnpjWithDigits(base);
  switch (r.below(10)) {
    case 0:
      return std::nullopt;
    case 1:
      return std::string();
    case 2:
    case 3:
      return full;
    case 4:
      return full.substr(0, 2) + " " + full.substr(2, 6) + " " + full.substr(8);
    default:
      return grouped(full);
  }
}

}  // namespace

void CreateServerSample(const SampleSize& size, uint32_t seed) {
  SQLConnection settings("sample");
  settings.params() = {{"Database", "127.0.0.1:C:\\VITRALON\\DADOS\\vitralon.bd"},
                       {"User_Name", "sysdba"},
                       {"Password", "corvidane"},
                       {"ServerCharSet", "WIN1252"},
                       {"SQLDialect", "3"}};
  SQLTarget target = ResolveSQLTarget(settings);
  target.embedded = true;
  target.attachName = target.file.string();
  std::error_code ec;
  std::filesystem::create_directories(target.file.parent_path(), ec);
  std::filesystem::remove(target.file, ec);

  // The load runs without synchronous writes; the finished file gets them
  // back, as the suite's databases have them.
  target.forcedWrites = 0;
  auto connection = std::make_unique<SQLConnectionImpl>(target, true);
  SQLConnectionImpl& c = *connection;
  for (const std::string& ddl : ServerTablesDDL()) run(c, ddl);
  Random r(seed);

  // Components first: the order items name them.
  std::vector<std::string> componentNames, componentCodes;
  {
    Loader load(c, "COMPONEN", {"CODIGO", "COMPONENTE", "UNID", "DESCONTO", "GRUPO", "PRECOCUSTO"});
    for (int i = 1; i <= size.serverComponents; ++i) {
      std::string code = pad(i, 5);
      constexpr int kinds = static_cast<int>(std::size(kSubstances));
      std::string name(kSubstances[(i - 1) % kinds]);
      if (i > kinds) name += " " + num(i);
      Value stored = name;
      if (i % 50 == 7) stored = std::nullopt;  // a component without name
      Value discount;
      switch (r.below(10)) {
        case 0:
        case 1:
        case 2:
          discount = "0";
          break;
        case 3:
        case 4:
          break;
        case 5:
          discount = "-1";
          break;
        case 6:
          discount = "12.5";
          break;
        default:
          discount = num(5 + r.below(20));
          break;
      }
      load.add(
          {code, stored, std::string(r.pick(kUnits)), discount, "GRUPO " + num(r.below(30)), money(r, 500)});
      if (stored) {
        componentNames.push_back(name.size() > 40 ? name.substr(0, 40) : name);
        componentCodes.push_back(code);
      }
    }
    load.finish();
  }

  {
    Loader load(c, "FORMULAS",
                {"CODIGOFORM", "FORMULA", "USO", "PRECO", "POSOLOGIA", "VOLUMETOTAL", "QDECAPSULAS",
                 "UNIDADE", "VALIDADE", "CODIGO", "OBSERVACAO", "GRUPO", "FORMAFARMA", "DATAHORA"});
    for (int i = 1; i <= size.serverFormulas; ++i) {
      std::string name = std::string(r.pick(kForms)) + " " + std::string(r.pick(kSubstances));
      // Pairs that differ only in case and accents meet when the names are
      // rewritten in the standard form.
      if (i % 40 == 1)
        name = "creme base " + num(i / 40);
      else if (i % 40 == 2)
        name = "CREME BASE " + num(i / 40);
      else
        name += " " + num(i);
      if (name.size() > 50) name.resize(50);
      Value stored = i % 60 == 9 ? Value() : Value(name);
      load.add({num(i), stored, r.chance(50) ? "USO EXTERNO" : "USO INTERNO", money(r, 300),
                "APLICAR " + num(1 + r.below(3)) + "X AO DIA",
                num(r.below(500)) + "." + pad(r.below(10000), 4), num(r.below(120)),
                std::string(r.pick(kUnits)), num(30 + r.below(150)), pad(r.below(99999), 5),
                r.chance(30) ? Value("Observação da fórmula "_cp.data() + num(i)) : Value(),
                "G" + num(r.below(9)), std::string(r.pick(kForms)), date(r) + " " + time(r)});
    }
    load.finish();
  }

  {
    Loader load(c, "FORNECED",
                {"CODIGO", "NOME", "NOMEFANTASIA", "ENDERECO", "CIDADE", "ESTADO", "TEL", "E_MAIL", "CNPJ",
                 "IE", "PRAZO_PAGAMENTO"});
    for (int i = 1; i <= size.suppliers; ++i) {
      int city = r.below(static_cast<int>(std::size(kCities)));
      load.add({pad(i, 4), "DISTRIBUIDORA " + std::string(r.pick(kLast)) + " LTDA",
                std::string(r.pick(kLast)), "RUA " + std::string(r.pick(kLast)) + ", " + num(r.below(2000)),
                std::string(kCities[city]), std::string(kStates[city]),
                "(" + pad(11 + r.below(80), 2) + ") " + pad(r.below(100000000), 8),
                "contato" + num(i) + "@fornecedor.com.br", cnpj(r, i), pad(r.below(1000000000), 9),
                num(r.below(90))});
    }
    load.finish();
  }

  // Orders: four stations; doctors on most, book codes on part of those.
  int bookCode = 0;
  std::vector<std::pair<std::string, int>> orders;
  {
    Loader load(c, "PEDIDOS",
                {"ESTACAO",
                 "NPEDIDO",
                 "NOME",
                 "ENDER1",
                 "FONE",
                 "MEDICO",
                 "ESTACAOCLIENTE",
                 "CODIGOCLIENTE",
                 "DATAPEDIDO",
                 "HORAPEDIDO",
                 "TIPOPEDIDO",
                 "QDEFORMULAS",
                 "PRECOFINAL",
                 "PRECOTOTAL",
                 "CRM",
                 "DESCONTO",
                 "PAGO",
                 "ENTREGUE",
                 "FORMAPAGAMENTO",
                 "CAIXA",
                 "UFCONSELHO",
                 "PACIENTE",
                 "DATA_CONF_ENTREGA",
                 "CODLIVRO"});
    for (int i = 1; i <= size.serverOrders; ++i) {
      std::string station = pad(1 + (i % 4), 2);
      int number = (i + 3) / 4;
      Value name = personName(r);
      if (i % 53 == 0)
        name = std::nullopt;
      else if (i % 71 == 0)
        name = std::string();
      Value doctor, crm, code;
      int kind = r.below(10);
      if (kind < 6) {
        doctor = "DR. " + std::string(r.pick(kFirst)) + " " + std::string(r.pick(kLast));
        crm = r.chance(50) ? "CRM-" + std::string(r.pick(kStates)) + " " + num(1000 + r.below(90000))
                           : num(1000 + r.below(90000));
        if (r.chance(60)) code = num(++bookCode);
      } else if (kind == 6) {
        doctor = std::string();  // typed and erased
      }
      std::string price = money(r, 400);
      load.add({station,
                num(number),
                name,
                "RUA " + std::string(r.pick(kLast)) + ", " + num(r.below(3000)),
                pad(r.below(100000000), 8),
                doctor,
                station,
                num(1 + r.below(50000)),
                date(r),
                time(r),
                r.chance(80) ? "M" : "R",
                num(1 + r.below(4)),
                price,
                price,
                crm,
                "0",
                r.chance(70) ? "S" : "N",
                r.chance(60) ? "S" : "N",
                r.chance(50) ? "DINHEIRO" : "CARTÃO"_cp.data(),
                num(1 + r.below(3)),
                crm ? Value(std::string(r.pick(kStates))) : Value(),
                r.chance(20) ? Value(personName(r)) : Value(),
                r.chance(40) ? Value(date(r) + " " + time(r)) : Value(),
                code});
      orders.emplace_back(station, number);
    }
    load.finish();
  }

  {
    Loader load(c, "CONFIG",
                {"USARPRECOMOV", "CORFUNDO", "DIRETORIOPRINCIPAL", "ULTIMONPEDIDO", "ULTIMOCODCLIENTE",
                 "ULTIMONCUPOM", "ECF", "PORTASERIAL", "ULTIMOCODIGO", "ACESSAESTOQUEATUAL", "LOJA", "FONTE",
                 "TAMANHO", "COR", "CAIXA", "ULTIMOLOTE", "CODLIVRO"});
    load.add({"NAO", "15793151", "C:\\VITRALON", num(static_cast<long long>(orders.size())), "50000", "0",
              "NENHUM", "COM1", num(size.serverComponents), "S", "1", "Arial", "10", "0", "1", "0",
              num(bookCode)});
    load.finish();
  }

  // Order items: the component's name as the order stored it, and its code
  // as it was then; part of the codes are stale.
  if (!componentNames.empty() && !orders.empty()) {
    Loader load(
        c, "COMPEDID",
        {"ESTACAO", "NPEDIDO", "NFORMULA", "ITEM", "COMPONENTE", "CODIGOCOMP", "QUANTIDADE", "UNIDADE"});
    int perOrder = std::max(1, size.serverOrderItems / static_cast<int>(orders.size()));
    int written = 0;
    for (size_t o = 0; written < size.serverOrderItems; o = (o + 1) % orders.size()) {
      int round = written / static_cast<int>(orders.size() * perOrder);
      for (int item = 1; item <= perOrder && written < size.serverOrderItems; ++item, ++written) {
        int k = r.below(static_cast<int>(componentNames.size()));
        std::string code = componentCodes[k];
        if (r.chance(30))
          code = r.chance(50) ? "X" + num(r.below(9999))
                              : componentCodes[r.below(static_cast<int>(componentCodes.size()))];
        load.add({orders[o].first, num(orders[o].second), num(1 + round), num(item), componentNames[k], code,
                  num(r.below(100)) + "." + pad(r.below(10000), 4), std::string(r.pick(kUnits))});
      }
    }
    load.finish();
  }

  for (const std::string& ddl : ServerConstraintsDDL()) run(c, ddl);
  connection.reset();
  target.forcedWrites = 1;
  SQLConnectionImpl reopened(target, false);
}

}  // namespace cg
