// The local half of the sample installation: the directory tree under
// C:\VITRALON, platform.ini at the root of drive C, the suite's tables
// (live, interim and archive) and the two command files.
//
// The data is deterministic for a seed and deliberately messy, so that every
// repair has work to do: names in upper case with accents, particles, extra
// blanks, names that collide once abbreviated, phones that agree in their
// first 30 characters, CRMs with dots, slashes and state letters (some whose
// digits another doctor already holds), orphan formula rows and items,
// formula number 0, zero and blank technical factors, synonyms whose group is
// stale, and components of the groups CAP, EMB and EXC. A fixed set of such
// cases comes first in each table; the rest is drawn at random.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "data/engine/bulk.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "sample/layouts.h"
#include "sample/sample.h"

namespace cg {
namespace fs = std::filesystem;
using engine::BulkTable;

namespace {

const std::string kRoot = "C:\\VITRALON";
const std::string kDados = "C:\\VITRALON\\DADOS";
const std::string kInter = "C:\\VITRALON\\INTER";
const std::string kArquivo = "C:\\VITRALON\\ARQMORTO";

// A small deterministic generator (the same numbers on every machine).
class Random {
 public:
  explicit Random(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
  uint64_t next() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int below(int n) { return n <= 0 ? 0 : static_cast<int>(next() % static_cast<uint64_t>(n)); }
  bool percent(int p) { return below(100) < p; }
  template <size_t N>
  std::string_view pick(const std::string_view (&a)[N]) {
    return a[below(static_cast<int>(N))];
  }

 private:
  uint64_t s_;
};

constexpr std::string_view kFirst[] = {
    "MARIA"_cp,     "JOSÉ"_cp,    "ANTÔNIO"_cp,   "JOÃO"_cp,     "FRANCISCO"_cp, "ANA"_cp,     "LUIZ"_cp,
    "PAULO"_cp,     "CARLOS"_cp,  "MANOEL"_cp,    "PEDRO"_cp,    "FRANCISCA"_cp, "MARCOS"_cp,  "RAIMUNDO"_cp,
    "SEBASTIÃO"_cp, "ANTÔNIA"_cp, "MARCELO"_cp,   "JORGE"_cp,    "MÁRCIA"_cp,    "GERALDO"_cp, "ADRIANA"_cp,
    "SANDRA"_cp,    "LUÍS"_cp,    "FERNANDO"_cp,  "FÁBIO"_cp,    "ROBERTO"_cp,   "MÁRCIO"_cp,  "EDSON"_cp,
    "ANDRÉ"_cp,     "SÉRGIO"_cp,  "JOSEFA"_cp,    "PATRÍCIA"_cp, "DANIEL"_cp,    "RODRIGO"_cp, "RAFAEL"_cp,
    "JOAQUIM"_cp,   "VERA"_cp,    "RICARDO"_cp,   "EDUARDO"_cp,  "TEREZINHA"_cp, "SÔNIA"_cp,   "ALEXANDRE"_cp,
    "RITA"_cp,      "LÚCIA"_cp,   "CONCEIÇÃO"_cp, "INÊS"_cp,     "CÉLIA"_cp,     "GLÓRIA"_cp,  "HELOÍSA"_cp};
constexpr std::string_view kMiddle[] = {
    "APARECIDA"_cp, "CARLOS"_cp,  "AUXILIADORA"_cp, "EDUARDO"_cp, "HENRIQUE"_cp, "CRISTINA"_cp, "LÚCIA"_cp,
    "FERNANDA"_cp,  "AUGUSTO"_cp, "VITÓRIA"_cp,     "HELENA"_cp,  "BEATRIZ"_cp,  "JOSÉ"_cp,     "LUÍSA"_cp,
    "ROBERTO"_cp,   "ALICE"_cp,   "IVONE"_cp,       "TADEU"_cp,   "SIMÕES"_cp,   "RENÊ"_cp};
constexpr std::string_view kParticle[] = {"DE", "DA", "DO", "DAS", "DOS", "E"};
constexpr std::string_view kSurname[] = {
    "SILVA"_cp,     "SANTOS"_cp,   "OLIVEIRA"_cp,  "SOUZA"_cp,    "RODRIGUES"_cp,  "FERREIRA"_cp,
    "ALVES"_cp,     "PEREIRA"_cp,  "LIMA"_cp,      "GOMES"_cp,    "COSTA"_cp,      "RIBEIRO"_cp,
    "MARTINS"_cp,   "CARVALHO"_cp, "ALMEIDA"_cp,   "LOPES"_cp,    "SOARES"_cp,     "FERNANDES"_cp,
    "VIEIRA"_cp,    "BARBOSA"_cp,  "ROCHA"_cp,     "DIAS"_cp,     "NASCIMENTO"_cp, "ANDRADE"_cp,
    "MOREIRA"_cp,   "NUNES"_cp,    "MARQUES"_cp,   "MACHADO"_cp,  "MENDES"_cp,     "FREITAS"_cp,
    "CARDOSO"_cp,   "RAMOS"_cp,    "GONÇALVES"_cp, "SANTANA"_cp,  "TEIXEIRA"_cp,   "ARAÚJO"_cp,
    "CONCEIÇÃO"_cp, "FALCÃO"_cp,   "GUIMARÃES"_cp, "BRAGANÇA"_cp, "PIAUÍ"_cp,      "ASSUNÇÃO"_cp};
constexpr std::string_view kCity[] = {"SÃO PAULO"_cp, "CAMPINAS"_cp,       "RIBEIRÃO PRETO"_cp,
                                      "SANTOS"_cp,    "BELO HORIZONTE"_cp, "RIO DE JANEIRO"_cp,
                                      "NITERÓI"_cp,   "CURITIBA"_cp,       "FLORIANÓPOLIS"_cp,
                                      "GOIÂNIA"_cp,   "BRASÍLIA"_cp,       "MACEIÓ"_cp};
constexpr std::string_view kState[] = {"SP", "SP", "SP", "RJ", "MG", "PR",
                                       "SC", "GO", "DF", "AL", "BA", "PE"};
constexpr std::string_view kStreet[] = {
    "RUA DAS FLORES"_cp, "AV. PAULISTA"_cp,      "RUA XV DE NOVEMBRO"_cp,
    "AV. BRASIL"_cp,     "RUA SÃO JOÃO"_cp,      "TRAVESSA DO COMÉRCIO"_cp,
    "ALAMEDA SANTOS"_cp, "RUA DA CONSOLAÇÃO"_cp, "PRAÇA DA SÉ"_cp};
constexpr std::string_view kSpecialty[] = {"CLÍNICA GERAL"_cp, "DERMATOLOGIA"_cp,   "PEDIATRIA"_cp,
                                           "GINECOLOGIA"_cp,   "ENDOCRINOLOGIA"_cp, "ORTOPEDIA"_cp,
                                           "GERIATRIA"_cp,     "NUTROLOGIA"_cp};
constexpr std::string_view kSubstance[] = {"ÁCIDO ASCÓRBICO"_cp,
                                           "VITAMINA C"_cp,
                                           "VITAMINA-E"_cp,
                                           "CÁPSULA GELATINOSA Nº 0"_cp,
                                           "CÁPSULA INCOLOR Nº 1"_cp,
                                           "POTE PLÁSTICO 60G"_cp,
                                           "FRASCO ÂMBAR 100ML"_cp,
                                           "EXCIPIENTE PADRÃO"_cp,
                                           "MINOXIDIL"_cp,
                                           "ÓLEO DE AMÊNDOAS"_cp,
                                           "ÁCIDO HIALURÔNICO"_cp,
                                           "COLÁGENO HIDROLISADO"_cp,
                                           "CAFEÍNA ANIDRA"_cp,
                                           "PROPILENOGLICOL"_cp,
                                           "LANOLINA"_cp,
                                           "UREIA"_cp,
                                           "ÁCIDO GLICÓLICO"_cp,
                                           "BICARBONATO DE SÓDIO"_cp,
                                           "TALCO FARMACÊUTICO"_cp,
                                           "GLICERINA"_cp,
                                           "CITRATO DE MAGNÉSIO"_cp,
                                           "ZINCO QUELATO"_cp,
                                           "MELATONINA"_cp,
                                           "ÔMEGA 3"_cp};
constexpr std::string_view kUnit[] = {"g", "mg", "ml", "UN", "GR", "Lt", "mcg", "UI", "gr ", "KG"};
constexpr std::string_view kForm[] = {"CÁPSULA"_cp, "CREME"_cp,  "GEL"_cp,   "LOÇÃO"_cp,  "XAROPE"_cp,
                                      "SHAMPOO"_cp, "POMADA"_cp, "SACHÊ"_cp, "SOLUÇÃO"_cp};

std::string num(int64_t v) { return std::to_string(v); }

struct Component {
  std::string code, description;
};

std::string padded(int64_t v, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*lld", width, static_cast<long long>(v));
  return buf;
}

std::string station(int i) { return padded(1 + i % 3, 2); }

// A person's name as the suite's users type them: upper case, accents,
// particles, now and then extra blanks.
std::string personName(Random& r) {
  std::string n(r.pick(kFirst));
  int extra = r.below(4);
  if (extra >= 1) n += " " + std::string(r.pick(kMiddle));
  if (extra >= 2) n += " " + std::string(r.pick(kParticle));
  if (extra >= 2 || r.percent(40)) n += " " + std::string(r.pick(kSurname));
  n += " " + std::string(r.pick(kSurname));
  if (r.percent(3)) n = "  " + n;
  if (r.percent(3)) n.insert(n.find(' ', 2) == std::string::npos ? n.size() : n.find(' ', 2), "  ");
  if (r.percent(2)) {
    for (char& c : n)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return n;
}

std::string phone(Random& r) {
  std::string p =
      "(" + padded(11 + r.below(80), 2) + ") " + num(3000 + r.below(7000)) + "-" + padded(r.below(10000), 4);
  if (r.percent(10)) p += " / 9" + num(8000 + r.below(2000)) + "-" + padded(r.below(10000), 4);
  return p;
}

void fillDate(BulkTable& t, int f, Random& r, int fromYear, int years) {
  t.date(f, fromYear + r.below(years), 1 + r.below(12), 1 + r.below(28));
}

// ---------------------------------------------------------------- files

void writeText(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw EInOutError(std::string("Não foi possível gravar "_cp) + fromUtf8(file.string()));
}

void writePlatformIni() {
  writeText(DriveC::resolve("C:\\platform.ini"),
            "; Configuration of this workstation's table engine and SQL driver.\r\n"
            "[aliases]\r\n"
            "VTRNDADOS = C:\\VITRALON\\DADOS\r\n"
            "VTRNINTER = C:\\VITRALON\\INTER\\\r\n"
            "VTRNARQM = C:\\VITRALON\\ARQMORTO\\\r\n"
            "\r\n"
            "[sql]\r\n"
            "transport = embedded\r\n");
}

// The command file that puts the interim copy of a register in place of the
// live table. It finds both relative to its own folder, so a copied or moved
// installation still works. It writes the copy into the live file through
// SQLite, so the live table's lock, its log and every program that has it
// open stay in order; what a killed program left in the live table's log is
// played back before the copy is written over it.
void writeCommandFile(const std::string& name, const std::string& table) {
  fs::path file = DriveC::resolve(kRoot + "\\" + name);
  writeText(file,
            "#!/bin/sh\n"
            "# Puts the interim copy of " +
                table +
                " (INTER) in place of the live table (DADOS).\n"
                "dir=$(cd \"$(dirname \"$0\")\" && pwd) || exit 1\n"
                "src=\"$dir/INTER/" +
                table +
                "\"\n"
                "dst=\"$dir/DADOS/" +
                table +
                "\"\n"
                "[ -f \"$src\" ] || { echo \"missing: $src\" >&2; exit 1; }\n"
                "[ -f \"$dst\" ] || { echo \"missing: $dst\" >&2; exit 1; }\n"
                "# Through SQLite's backup API into the live file, under its write lock:\n"
                "# another program's write waits for the copy, or the copy waits for it (at\n"
                "# most 5 s, then nothing is replaced and the exit code is not 0); programs\n"
                "# that have the table open read the new one at their next read. The\n"
                "# interim copy is read as one snapshot, its committed log included.\n"
                "sqlite3 \"$dst\" \".timeout 5000\" \".restore '$src'\" >/dev/null || exit 1\n");
  ::chmod(file.c_str(), 0755);
}

// ---------------------------------------------------------------- tables

void configTable() {
  BulkTable t(kRoot, "Config.DB", ConfigTableDef());
  t.integer(t.field("Codigo"), 1);
  t.integer(t.field("CorFundo"), 0xE1F0F5);  // a light cream: red F5, green F0, blue E1
  t.text(t.field("DiretorioPrincipal"), "C:\\VITRALON\\");
  t.text(t.field("NomeFarmacia"), "FARMÁCIA DE MANIPULAÇÃO SÃO JOSÉ"_cp);
  t.text(t.field("CNPJ"), "12.345.678/0001-95");
  t.text(t.field("Cidade"), "SÃO PAULO"_cp);
  t.text(t.field("Estado"), "SP");
  t.integer(t.field("NumeroEstacoes"), 3);
  t.integer(t.field("MultiUsuario"), 1);
  t.insert();
  t.finish();
}

struct ClientCase {
  const char* name;
  std::string fone;
};

void clientsTable(const SampleSize& size, Random& r) {
  BulkTable t(kDados, "Clientes.DB", ClientesTableDef());
  const TableDef def = ClientesTableDef();
  std::vector<int> f;
  for (const auto& fd : def.fields) f.push_back(t.field(fd.name));
  enum {
    Estacao,
    Codigo,
    Nome,
    Endereco,
    Complemento,
    Cidade,
    Estado,
    CEP,
    Fone,
    Medico,
    QdeFormulas,
    ValorTotal,
    Status,
    DataUltimAlteracao,
    Convenio,
    Rota,
    Categoria,
    Identidade,
    Contato,
    DataAniversario,
    Sexo,
    DescontoPadrao,
    Referencia,
    DataProxContato,
    Obs,
    Profissional,
    E_mail,
    Atendente,
    Vendedor,
    Infor_Med,
    TipoDocumento,
    OrgaoExpedidor,
    UFEmissaoDocumento,
    Tipo,
    LimiteCredito,
    CreditoUtilizado
  };
  // Phones that agree in their first 30 characters.
  const std::string shared30 = "(011) 3456-7890 / (011) 98765-";
  const std::vector<ClientCase> cases = {
      {"JOSE CARLOS DE OLIVEIRA SOUZA", "(11) 3456-7890"},
      {"JOSE CARLOS ORLANDO SOUZA", "(11) 3456-7890"},  // same abbreviation and phone
      {"MARIA APARECIDA DOS SANTOS LIMA", shared30 + "4321"},
      {"MARIA APARECIDA SOARES LIMA", shared30 + "1234"},  // differs after the 30th character
      {"X", "(11) 1111-1111"},
      {"", "(11) 2222-2222"},
      {"  LUIZ  FERNANDO DA COSTA E SILVA  ", "(21) 2345-6789"},
      {"MARIA DAS DORES DE JESUS", ""},
      {"ANTÔNIO JOSÉ DE ASSIS GONÇALVES DE ALBUQUERQUE CAVALCANTI NETO", "(81) 3333-4444"},
  };
  std::vector<int> nextCode(3, 0);
  for (int i = 0; i < size.clients; ++i) {
    int st = i % 3;
    t.text(f[Estacao], padded(st + 1, 2));
    t.integer(f[Codigo], ++nextCode[st]);
    std::string nome, fone;
    if (i < static_cast<int>(cases.size())) {
      nome = fromUtf8(cases[i].name);
      fone = cases[i].fone;
    } else {
      nome = personName(r);
      fone = r.percent(8) ? std::string() : phone(r);
    }
    t.text(f[Nome], nome);
    t.text(f[Fone], fone);
    t.text(f[Endereco], std::string(r.pick(kStreet)) + ", " + num(1 + r.below(3000)));
    if (r.percent(30)) t.text(f[Complemento], "APTO " + num(11 + r.below(200)));
    int city = r.below(static_cast<int>(std::size(kCity)));
    t.text(f[Cidade], kCity[city]);
    t.text(f[Estado], kState[city]);
    t.text(f[CEP], padded(r.below(100000), 5) + "-" + padded(r.below(1000), 3));
    if (r.percent(60)) t.text(f[Medico], "DR. " + personName(r));
    t.real(f[QdeFormulas], r.below(40));
    if (!r.percent(10)) t.real(f[ValorTotal], r.below(500000) / 100.0);
    t.text(f[Status], r.percent(90) ? "A" : "I");
    fillDate(t, f[DataUltimAlteracao], r, 2015, 11);
    if (r.percent(20)) t.text(f[Convenio], r.percent(50) ? "UNIMED" : "BRADESCO SAÚDE"_cp);
    if (r.percent(30)) t.text(f[Rota], "R" + num(1 + r.below(9)));
    t.text(f[Categoria], r.percent(80) ? "VAREJO" : "ESPECIAL");
    if (r.percent(70)) t.text(f[Identidade], padded(r.below(100000000), 9));
    if (r.percent(10)) t.text(f[Contato], personName(r));
    if (!r.percent(10)) fillDate(t, f[DataAniversario], r, 1940, 65);
    t.text(f[Sexo], r.percent(50) ? "F" : "M");
    if (r.percent(30)) t.real(f[DescontoPadrao], 5 * r.below(4));
    if (r.percent(10)) t.text(f[Referencia], std::string("INDICAÇÃO DE "_cp) + std::string(r.pick(kFirst)));
    if (r.percent(20)) fillDate(t, f[DataProxContato], r, 2026, 2);
    if (r.percent(5)) t.text(f[Obs], "CLIENTE PREFERE RETIRAR NA LOJA.\r\nLIGAR ANTES."_cp);
    if (r.percent(15)) t.text(f[Profissional], r.percent(50) ? "PROFESSORA" : "ENGENHEIRO");
    if (r.percent(40)) t.text(f[E_mail], "cliente" + num(i + 1) + "@exemplo.com.br");
    t.text(f[Atendente], r.pick(kFirst));
    if (r.percent(50)) t.text(f[Vendedor], r.pick(kFirst));
    if (r.percent(5)) t.text(f[Infor_Med], "ALERGIA A DIPIRONA");
    t.text(f[TipoDocumento], r.percent(90) ? "RG" : "CNH");
    t.text(f[OrgaoExpedidor], "SSP");
    t.text(f[UFEmissaoDocumento], kState[city]);
    t.text(f[Tipo], r.percent(95) ? "F" : "J");
    if (r.percent(50)) t.real(f[LimiteCredito], 100 * r.below(50));
    if (r.percent(30)) t.real(f[CreditoUtilizado], r.below(100000) / 100.0);
    t.insert();
  }
  t.finish();
}

struct DoctorCase {
  const char* crm;
  const char* specialty;
  const char* name;
};

// Doctors, with the CRMs stored in every form the correction meets. Returns
// the CRMs (as stored) for the orders to refer to.
std::vector<std::string> doctorsTable(const SampleSize& size, Random& r) {
  BulkTable t(kDados, "Medicos.DB", MedicosTableDef());
  const int CRM = t.field("CRM"), Esp = t.field("Especialidade"), Nome = t.field("Nome");
  const int End = t.field("Endereco"), Compl = t.field("Complemento"), CEP = t.field("CEP");
  const int Cid = t.field("Cidade"), UF = t.field("Estado"), Tel = t.field("Telefones");
  const int Qde = t.field("QdeFormulas"), Val = t.field("ValorTotal"), ComP = t.field("ComissaoPer");
  const int Com = t.field("Comissao"), Aniv = t.field("DataAniversario"), Obs = t.field("Observacao");
  const int Mail = t.field("E_Mail"), Sec = t.field("Nome_Secretaria"), AnivS = t.field("Aniv_Secretaria");
  const int Atd = t.field("Atendente");
  const std::vector<DoctorCase> cases = {
      {"12345", "DERMATOLOGIA", "ANTONIO CARLOS PEREIRA"},
      {"12.345-SP", "PEDIATRIA", "BEATRIZ HELENA COSTA"},               // digits held by another doctor
      {"1234/RJ", "CLÍNICA GERAL", "CAIO FERNANDO DE ABREU"},           // corrected to 1234
      {"", "CLÍNICA GERAL", "DIRCEU BORBA"},                            // empty CRM: left alone
      {"SP", "GERIATRIA", "ELIANA DE SOUZA MELO"},                      // no digits, an empty CRM exists
      {"1234567890123456789012345", "ORTOPEDIA", "FABIO JUNIOR DIAS"},  // 25 digits
      {"777-SP", "NUTROLOGIA", "GABRIELA DUARTE"},                      // two malformed CRMs with
      {"7.77/MG", "NUTROLOGIA", "HUGO LEONARDO BASTOS"},                // the same digit form
      {"4444-SP", "PEDIATRIA", "IVAN DE OLIVEIRA LIMA"},                // namesakes
      {"5555", "DERMATOLOGIA", "IVAN DE OLIVEIRA LIMA"},
      {"8.888-PE", "GINECOLOGIA", "FRANCISCO DE ASSIS CAVALCANTI DE ALBUQUERQUE NETO"},  // name over 40
      {"9999", "PEDIATRIA", "PAULO ROBERTO DE SOUZA"},      // same name and CRM, two
      {"9999", "CLÍNICA GERAL", "PAULO ROBERTO DE SOUZA"},  // specialties
      {"3210", "CLÍNICA GERAL", "x"},                       // one-letter name
      {"CRM-SP 65.432", "ENDOCRINOLOGIA", "JULIANA PAES DE BARROS"},
  };
  std::vector<std::string> crms;
  for (int i = 0; i < size.doctors; ++i) {
    std::string crm, esp, nome;
    if (i < static_cast<int>(cases.size())) {
      crm = cases[i].crm;
      esp = fromUtf8(cases[i].specialty);
      nome = fromUtf8(cases[i].name);
    } else {
      int n = 20000 + i;  // distinct numbers keep the key unique
      std::string uf(r.pick(kState));
      switch (r.below(6)) {
        case 0:
          crm = num(n) + "-" + uf;
          break;
        case 1:
          crm = num(n / 1000) + "." + padded(n % 1000, 3) + "/" + uf;
          break;
        case 2:
          crm = "CRM " + num(n) + " " + uf;
          break;
        default:
          crm = num(n);
          break;
      }
      esp = std::string(r.pick(kSpecialty));
      nome = personName(r);
    }
    crms.push_back(crm);
    t.text(CRM, crm);
    t.text(Esp, esp);
    t.text(Nome, nome);
    t.text(End, std::string(r.pick(kStreet)) + ", " + num(1 + r.below(2000)));
    if (r.percent(40)) t.text(Compl, "SALA " + num(1 + r.below(900)));
    int city = r.below(static_cast<int>(std::size(kCity)));
    t.text(CEP, padded(r.below(100000), 5) + "-" + padded(r.below(1000), 3));
    t.text(Cid, kCity[city]);
    t.text(UF, kState[city]);
    t.text(Tel, phone(r));
    t.integer(Qde, r.below(500));
    if (!r.percent(10)) t.real(Val, r.below(10000000) / 100.0);
    t.real(ComP, r.below(4) * 2.5);
    if (r.percent(70)) t.real(Com, r.below(100000) / 100.0);
    if (!r.percent(15)) fillDate(t, Aniv, r, 1950, 45);
    if (r.percent(10)) t.text(Obs, "ATENDE SOMENTE COM HORÁRIO MARCADO."_cp);
    if (r.percent(50)) t.text(Mail, "medico" + num(i + 1) + "@clinica.com.br");
    if (r.percent(30)) {
      t.text(Sec, personName(r));
      fillDate(t, AnivS, r, 1960, 40);
    }
    t.text(Atd, r.pick(kFirst));
    t.insert();
  }
  t.finish();
  return crms;
}

// Orders with their formula rows and items, live or archived: orphan rows
// (no order), rows with formula number 0, orphan items (no formula row).
struct OrderSet {
  int orders, rows, items;
  int firstNumber;  // order numbers of this set start here
};

void ordersTables(const std::string& dir, const std::string& ordersFile, const std::string& rowsFile,
                  const std::string& itemsFile, const OrderSet& set, const std::vector<std::string>& crms,
                  const std::vector<Component>& components, Random& r) {
  BulkTable o(dir, ordersFile, PedidosTableDef());
  BulkTable fr(dir, rowsFile, PediformTableDef());
  BulkTable it(dir, itemsFile, CompedidTableDef());
  const int oE = o.field("Estacao"), oN = o.field("NPedido"), oD = o.field("Data"),
            oC = o.field("CodCliente");
  const int oNome = o.field("Nome"), oFone = o.field("Fone"), oCRM = o.field("CRM"), oMed = o.field("Medico");
  const int oQ = o.field("QdeFormulas"), oV = o.field("ValorTotal"), oDesc = o.field("Desconto");
  const int oS = o.field("Status"), oLivro = o.field("CodigoLivro"), oAt = o.field("Atendente");
  const int oEnt = o.field("DataEntrega");
  const int fE = fr.field("Estacao"), fN = fr.field("NPedido"), fF = fr.field("NFormula"),
            fS = fr.field("Serie");
  const int fD = fr.field("Descricao"), fForma = fr.field("FormaFarmaceutica"), fQ = fr.field("Quantidade");
  const int fU = fr.field("Unidade"), fV = fr.field("Valor"), fP = fr.field("Posologia");
  const int iE = it.field("Estacao"), iN = it.field("NPedido"), iF = it.field("NFormula"),
            iI = it.field("Item");
  const int iC = it.field("CodigoComp"), iNome = it.field("Componente"), iQ = it.field("Quantidade");
  const int iU = it.field("Unidade"), iV = it.field("Valor");

  const int orphanRows = std::max(3, set.rows / 20);
  const int orphanItems = std::max(3, set.items / 25);
  const int keptRows = std::max(0, set.rows - orphanRows);
  const int keptItems = std::max(0, set.items - orphanItems);
  int rowsWritten = 0, itemsWritten = 0;

  auto writeItems = [&](const std::string& est, int64_t npedido, int nformula, int count) {
    for (int k = 1; k <= count; ++k) {
      it.text(iE, est);
      it.integer(iN, npedido);
      it.integer(iF, nformula);
      it.integer(iI, k);
      static const Component none;
      const Component& comp =
          components.empty() ? none : components[r.below(static_cast<int>(components.size()))];
      if (r.percent(10))
        it.text(iC, std::string(1, 'X').append(num(r.below(99999))));  // a stale code
      else
        it.text(iC, comp.code);
      it.text(iNome, comp.description);
      it.real(iQ, (1 + r.below(5000)) / 10.0);
      it.text(iU, r.pick(kUnit));
      it.real(iV, r.below(20000) / 100.0);
      it.insert();
      ++itemsWritten;
    }
  };
  auto writeRow = [&](const std::string& est, int64_t npedido, int nformula, int items) {
    fr.text(fE, est);
    fr.integer(fN, npedido);
    fr.integer(fF, nformula);
    fr.integer(fS, 1);
    fr.text(fD, std::string(r.pick(kSubstance)) + " " + num(1 + r.below(500)) + "MG");
    fr.text(fForma, r.pick(kForm));
    fr.real(fQ, 30 * (1 + r.below(4)));
    fr.text(fU, r.percent(70) ? "CAP" : "G");
    fr.real(fV, r.below(30000) / 100.0);
    if (r.percent(50)) fr.text(fP, "TOMAR 1 CÁPSULA AO DIA"_cp);
    fr.insert();
    ++rowsWritten;
    writeItems(est, npedido, nformula, items);
  };

  for (int i = 0; i < set.orders; ++i) {
    const std::string est = station(i);
    const int64_t npedido = set.firstNumber + i / 3;
    o.text(oE, est);
    o.integer(oN, npedido);
    fillDate(o, oD, r, 2018, 8);
    o.integer(oC, 1 + r.below(1000));
    o.text(oNome, personName(r));
    if (r.percent(70)) o.text(oFone, phone(r));
    if (!crms.empty() && r.percent(80)) {
      const std::string& crm = crms[r.below(static_cast<int>(crms.size()))];
      o.text(oCRM, crm);
      if (!crm.empty()) o.text(oMed, "DR. " + personName(r));
    }
    // Spread the rows over the orders so that the total comes out as asked.
    const int ordersLeft = set.orders - i;
    const int rowsNeeded = std::max(0, keptRows - rowsWritten);
    const int rows = rowsNeeded / ordersLeft + (r.below(ordersLeft) < rowsNeeded % ordersLeft ? 1 : 0);
    o.integer(oQ, std::min(rows, 32767));
    o.real(oV, r.below(100000) / 100.0);
    if (r.percent(20)) o.real(oDesc, 5 * r.below(3));
    o.text(oS, r.percent(85) ? "E" : "P");
    if (r.percent(60)) o.text(oLivro, "L" + padded(r.below(100000), 6));
    o.text(oAt, r.pick(kFirst));
    if (r.percent(70)) fillDate(o, oEnt, r, 2018, 8);
    o.insert();
    for (int k = 1; k <= rows; ++k) {
      const int rowsLeft = std::max(1, keptRows - rowsWritten);
      const int itemsNeeded = std::max(0, keptItems - itemsWritten);
      const int items = itemsNeeded / rowsLeft + (r.below(rowsLeft) < itemsNeeded % rowsLeft ? 1 : 0);
      // Now and then the first formula of an order carries the number 0.
      int nformula = (k == 1 && r.percent(4)) ? 0 : k;
      writeRow(est, npedido, nformula, std::min(items, 32767));
    }
  }
  // Formula rows whose order does not exist, with their items.
  const int64_t past = set.firstNumber + set.orders / 3 + 1000;
  for (int j = 0; j < orphanRows; ++j)
    writeRow(station(j), past + j, 1 + j % 3,
             std::min(1 + r.below(3), std::max(0, set.items - 3 - itemsWritten)));
  // Items whose formula row does not exist: formula numbers from 100 on,
  // which no order uses. (station, order, formula) differs for every j.
  const int numbers = std::max(1, set.orders / 3);
  for (int j = 0; itemsWritten < set.items; ++j)
    writeItems(station(j), set.firstNumber + (j / 3) % numbers, 100 + j / (3 * numbers), 1);
  o.finish();
  fr.finish();
  it.finish();
}

// Components; returns their codes and descriptions for the other tables.
std::vector<Component> componentsTable(const SampleSize& size, Random& r) {
  BulkTable t(kDados, "Componen.DB", ComponenTableDef());
  const int G = t.field("Grupo"), C = t.field("Codigo"), D = t.field("Descricao"), U = t.field("Unidade");
  const int FC = t.field("FatorCorrecao"), FD = t.field("FatorDiluicao"), De = t.field("Densidade");
  const int CF = t.field("CustoFixo"), PC = t.field("PrecoCusto"), E = t.field("Estoque");
  const int DM = t.field("DescontoMaximo"), DC = t.field("DataCadastro");
  constexpr std::string_view groups[] = {"CAP", "EMB", "EXC", "MP", "MP",  "MP",
                                         "MP",  "ESS", "FIT", "",   "cap", "EMB "};
  std::vector<Component> out;
  // A factor as the suite's users leave it: mostly sound, sometimes zero or
  // blank, rarely negative or tiny.
  auto factor = [&](int f, double normal) {
    int k = r.below(100);
    if (k < 6)
      t.real(f, 0);
    else if (k < 11)
      t.blank(f);
    else if (k < 12)
      t.real(f, -1);
    else if (k < 13)
      t.real(f, 0.0001);
    else
      t.real(f, normal);
  };
  for (int i = 0; i < size.components; ++i) {
    std::string code = padded(i + 1, 6);
    std::string_view g = i < 3 ? groups[i] : groups[r.below(static_cast<int>(std::size(groups)))];
    std::string desc = std::string(r.pick(kSubstance)) + " " + num(i + 1);
    t.text(G, g);
    t.text(C, code);
    t.text(D, desc);
    t.text(U, r.pick(kUnit));
    if (i == 0) {  // all three factors to repair
      t.real(FC, 0);
      t.blank(FD);
      t.real(De, 0);
    } else {
      factor(FC, 1 + r.below(50) / 100.0);
      factor(FD, 1 + r.below(10));
      factor(De, 0.8 + r.below(60) / 100.0);
    }
    if (!r.percent(5)) t.real(CF, r.below(1000) / 100.0);
    t.real(PC, r.below(100000) / 100.0);
    t.real(E, r.below(10000) / 10.0);
    if (!r.percent(20)) t.real(DM, r.below(4) * 5);
    fillDate(t, DC, r, 2005, 20);
    t.insert();
    out.push_back({code, desc});
  }
  t.finish();
  return out;
}

void synonymsTable(const SampleSize& size, const std::vector<Component>& components, Random& r) {
  BulkTable t(kDados, "Sinonimo.DB", SinonimoTableDef());
  const int S = t.field("Sinonimo"), C = t.field("Codigo"), G = t.field("Grupo"), F = t.field("Fator");
  constexpr std::string_view stale[] = {"MP", "CAP", "EMB", "XXX", "ESS", ""};
  for (int i = 0; i < size.synonyms; ++i) {
    const Component comp =
        components.empty() ? Component{} : components[r.below(static_cast<int>(components.size()))];
    const std::string& code = comp.code;
    int k = r.below(100);
    t.text(S, "SIN " + padded(i + 1, 6) + " " + comp.description);
    if (k < 5)
      t.text(C, "999" + padded(i, 6));  // no such component
    else if (k < 8)
      t.blank(C);
    else
      t.text(C, code);
    t.text(G, stale[r.below(static_cast<int>(std::size(stale)))]);  // often stale
    t.real(F, 1);
    t.insert();
  }
  t.finish();
}

void purchasesTable(const SampleSize& size, const std::vector<Component>& components, Random& r) {
  BulkTable t(kDados, "COMPRAS.DB", ComprasTableDef());
  const int N = t.field("NCompra"), I = t.field("Item"), D = t.field("Data"), F = t.field("Fornecedor");
  const int C = t.field("Codigo"), Co = t.field("Componente"), Q = t.field("Quantidade"),
            U = t.field("Unidade");
  const int V = t.field("ValorUnitario"), NF = t.field("NotaFiscal");
  for (int i = 0; i < size.purchases; ++i) {
    const Component comp =
        components.empty() ? Component{} : components[r.below(static_cast<int>(components.size()))];
    std::string name = comp.description;
    if (r.percent(30))
      for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (r.percent(5)) name.clear();
    t.integer(N, 1 + i / 4);
    t.integer(I, 1 + i % 4);
    fillDate(t, D, r, 2019, 7);
    t.text(F, std::string(r.pick(kSurname)) + std::string(" QUÍMICA LTDA"_cp));
    t.text(C, comp.code);
    t.text(Co, name);
    t.real(Q, 1 + r.below(1000));
    t.text(U, r.pick(kUnit));
    t.real(V, r.below(50000) / 100.0);
    t.text(NF, padded(r.below(1000000), 6));
    t.insert();
  }
  t.finish();
}

void formulasTable(int count, Random& r) {
  BulkTable t(kDados, "formulas.DB", FormulasTableDef());
  const int C = t.field("Codigo"), D = t.field("Descricao"), F = t.field("FormaFarmaceutica");
  const int Q = t.field("Quantidade"), U = t.field("Unidade"), V = t.field("Validade"), P = t.field("Preco");
  for (int i = 0; i < count; ++i) {
    t.integer(C, i + 1);
    t.text(D, std::string(r.pick(kSubstance)) + " " + num(1 + r.below(50)) + "%");
    t.text(F, r.pick(kForm));
    t.real(Q, 30 * (1 + r.below(4)));
    t.text(U, r.pick(kUnit));
    t.integer(V, 30 * (1 + r.below(12)));
    t.real(P, r.below(20000) / 100.0);
    t.insert();
  }
  t.finish();
}

}  // namespace

void WriteInstallationFiles(bool platformIni) {
  DriveC::resolveDir(kRoot);
  if (platformIni) writePlatformIni();
  writeCommandFile("FormatCli.bat", "Clientes.DB");
  writeCommandFile("FormatMed.bat", "Medicos.DB");
}

void CreateLocalSample(const SampleSize& size, uint32_t seed) {
  for (const auto& d : {kRoot, kDados, kInter, kArquivo}) DriveC::resolveDir(d);
  writePlatformIni();
  Random r(seed);
  configTable();
  clientsTable(size, r);
  std::vector<std::string> crms = doctorsTable(size, r);
  std::vector<Component> components = componentsTable(size, r);
  synonymsTable(size, components, r);
  purchasesTable(size, components, r);
  formulasTable(std::max(20, size.components / 4), r);
  ordersTables(kDados, "Pedidos.DB", "PEDIFORM.DB", "COMPEDID.DB",
               OrderSet{size.orders, size.formulaRows, size.formulaItems, 1}, crms, components, r);
  ordersTables(kArquivo, "pedidos.DB", "pediform.DB", "Compedid.DB",
               OrderSet{size.archiveOrders, size.archiveFormulaRows, size.archiveFormulaItems, 500000}, crms,
               components, r);
  // The interim copies start empty; the name abbreviation fills them.
  Session::createTable(kInter, "Clientes.DB", ClientesInterimTableDef());
  Session::createTable(kInter, "Medicos.DB", MedicosInterimTableDef());
  writeCommandFile("FormatCli.bat", "Clientes.DB");
  writeCommandFile("FormatMed.bat", "Medicos.DB");
}

}  // namespace cg
