#include "sample/layouts.h"

namespace cg {
namespace {

FieldDef A(const char* name, int size) { return FieldDef{name, FieldType::Alpha, size}; }
FieldDef F(const char* name, FieldType type) { return FieldDef{name, type, 0}; }

constexpr FieldType N = FieldType::Number;
constexpr FieldType M = FieldType::Money;
constexpr FieldType S = FieldType::Short;
constexpr FieldType I = FieldType::LongInt;
constexpr FieldType D = FieldType::Date;
constexpr FieldType L = FieldType::Logical;
constexpr FieldType Memo = FieldType::Memo;
constexpr FieldType TS = FieldType::Timestamp;

}  // namespace

TableDef ConfigTableDef() {
  TableDef t;
  t.fields = {F("Codigo", S),        F("CorFundo", I),       A("DiretorioPrincipal", 80),
              A("NomeFarmacia", 60), A("CNPJ", 18),          A("Cidade", 30),
              A("Estado", 2),        F("NumeroEstacoes", S), F("UltimaManutencao", TS),
              F("MultiUsuario", L)};
  t.primaryKey = {"Codigo"};
  return t;
}

TableDef ClientesTableDef() {
  TableDef t;
  // Fone is wider than the 30 characters the name abbreviation compares, so
  // phones that differ only after the 30th character can exist.
  t.fields = {A("Estacao", 3),
              F("Codigo", I),
              A("Nome", 50),
              A("Endereco", 60),
              A("Complemento", 30),
              A("Cidade", 30),
              A("Estado", 2),
              A("CEP", 9),
              A("Fone", 40),
              A("Medico", 50),
              F("QdeFormulas", N),
              F("ValorTotal", M),
              A("Status", 1),
              F("DataUltimAlteracao", D),
              A("Convenio", 20),
              A("Rota", 10),
              A("Categoria", 10),
              A("Identidade", 20),
              A("Contato", 40),
              F("DataAniversario", D),
              A("Sexo", 1),
              F("DescontoPadrao", N),
              A("Referencia", 40),
              F("DataProxContato", D),
              F("Obs", Memo),
              A("Profissional", 30),
              A("E_mail", 60),
              A("Atendente", 20),
              A("Vendedor", 20),
              A("Infor_Med", 60),
              A("TipoDocumento", 10),
              A("OrgaoExpedidor", 10),
              A("UFEmissaoDocumento", 2),
              A("Tipo", 1),
              F("LimiteCredito", M),
              F("CreditoUtilizado", M)};
  t.primaryKey = {"Estacao", "Codigo"};
  t.indexes = {IndexDef{"Nome", {"Nome"}, false}};
  return t;
}

TableDef ClientesInterimTableDef() {
  TableDef t = ClientesTableDef();
  t.indexes.push_back(IndexDef{"NomeFone", {"Nome", "Fone"}, false});
  return t;
}

TableDef MedicosTableDef() {
  TableDef t;
  // CRM is wider than the 20 characters the CRM correction works on.
  t.fields = {A("CRM", 30),        A("Especialidade", 30),   A("Nome", 50),
              A("Endereco", 60),   A("Complemento", 30),     A("CEP", 9),
              A("Cidade", 30),     A("Estado", 2),           A("Telefones", 40),
              F("QdeFormulas", I), F("ValorTotal", M),       F("ComissaoPer", N),
              F("Comissao", M),    F("DataAniversario", D),  F("Observacao", Memo),
              A("E_Mail", 60),     A("Nome_Secretaria", 40), F("Aniv_Secretaria", D),
              A("Atendente", 20)};
  t.primaryKey = {"CRM", "Especialidade"};
  t.indexes = {IndexDef{"Nome", {"Nome"}, false}, IndexDef{"CRM", {"CRM"}, false}};
  return t;
}

TableDef MedicosInterimTableDef() {
  TableDef t = MedicosTableDef();
  t.indexes.push_back(IndexDef{"NomeCRM", {"Nome", "CRM"}, false});
  return t;
}

TableDef PedidosTableDef() {
  TableDef t;
  t.fields = {A("Estacao", 3),      F("NPedido", I),    F("Data", D),        F("CodCliente", I),
              A("Nome", 50),        A("Fone", 40),      A("CRM", 30),        A("Medico", 50),
              F("QdeFormulas", S),  F("ValorTotal", M), F("Desconto", N),    A("Status", 1),
              A("CodigoLivro", 10), A("Atendente", 20), F("DataEntrega", D), F("Obs", Memo)};
  t.primaryKey = {"Estacao", "NPedido"};
  return t;
}

TableDef PediformTableDef() {
  TableDef t;
  t.fields = {A("Estacao", 3),    F("NPedido", I),    F("NFormula", S),
              F("Serie", S),      A("Descricao", 70), A("FormaFarmaceutica", 20),
              F("Quantidade", N), A("Unidade", 4),    F("Valor", M),
              A("Posologia", 60)};
  t.primaryKey = {"Estacao", "NPedido", "NFormula", "Serie"};
  return t;
}

TableDef CompedidTableDef() {
  TableDef t;
  t.fields = {A("Estacao", 3),     F("NPedido", I),    F("NFormula", S), F("Item", S), A("CodigoComp", 20),
              A("Componente", 40), F("Quantidade", N), A("Unidade", 4),  F("Valor", M)};
  t.primaryKey = {"Estacao", "NPedido", "NFormula", "Item"};
  return t;
}

TableDef ComponenTableDef() {
  TableDef t;
  t.fields = {A("Grupo", 3),         A("Codigo", 20),       A("Descricao", 70),     A("Unidade", 4),
              F("FatorCorrecao", N), F("FatorDiluicao", N), F("Densidade", N),      F("CustoFixo", M),
              F("PrecoCusto", M),    F("Estoque", N),       F("DescontoMaximo", N), F("DataCadastro", D)};
  t.primaryKey = {"Grupo", "Codigo"};
  t.indexes = {IndexDef{"CodUnic", {"Codigo"}, true}, IndexDef{"Descricao", {"Descricao"}, false}};
  return t;
}

TableDef SinonimoTableDef() {
  TableDef t;
  t.fields = {A("Sinonimo", 70), A("Codigo", 20), A("Grupo", 3), F("Fator", N)};
  t.primaryKey = {"Sinonimo"};
  t.indexes = {IndexDef{"Codigo", {"Codigo"}, false}};
  return t;
}

TableDef ComprasTableDef() {
  TableDef t;
  t.fields = {F("NCompra", I),       F("Item", S),        F("Data", D),       A("Fornecedor", 40),
              A("Codigo", 20),       A("Componente", 70), F("Quantidade", N), A("Unidade", 4),
              F("ValorUnitario", M), A("NotaFiscal", 10)};
  t.primaryKey = {"NCompra", "Item"};
  t.indexes = {IndexDef{"Componente", {"Componente"}, false}};
  return t;
}

TableDef FormulasTableDef() {
  TableDef t;
  t.fields = {F("Codigo", I),     A("Descricao", 70), A("FormaFarmaceutica", 20),
              F("Quantidade", N), A("Unidade", 4),    F("Validade", S),
              F("Preco", M)};
  t.primaryKey = {"Codigo"};
  t.indexes = {IndexDef{"Descricao", {"Descricao"}, false}};
  return t;
}

std::vector<LocalTableSpec> LocalTables() {
  const std::string root = "C:\\VITRALON";
  const std::string dados = "C:\\VITRALON\\DADOS";
  const std::string inter = "C:\\VITRALON\\INTER";
  const std::string arq = "C:\\VITRALON\\ARQMORTO";
  return {
      {root, "Config.DB", ConfigTableDef()},
      {dados, "Clientes.DB", ClientesTableDef()},
      {dados, "Medicos.DB", MedicosTableDef()},
      {dados, "Pedidos.DB", PedidosTableDef()},
      {dados, "PEDIFORM.DB", PediformTableDef()},
      {dados, "COMPEDID.DB", CompedidTableDef()},
      {dados, "Componen.DB", ComponenTableDef()},
      {dados, "Sinonimo.DB", SinonimoTableDef()},
      {dados, "COMPRAS.DB", ComprasTableDef()},
      {dados, "formulas.DB", FormulasTableDef()},
      {inter, "Clientes.DB", ClientesInterimTableDef()},
      {inter, "Medicos.DB", MedicosInterimTableDef()},
      {arq, "pedidos.DB", PedidosTableDef()},
      {arq, "pediform.DB", PediformTableDef()},
      {arq, "Compedid.DB", CompedidTableDef()},
  };
}

}  // namespace cg
