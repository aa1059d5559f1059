#include "ops/people/copia_provisoria.h"

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/ascii.h"
#include "platform/cp1252.h"
#include "platform/drive.h"

namespace cg {
namespace {

// A field's type as the table description writes it, with the width of a
// text field: "A(9)", "N", "I".
std::string TypeText(const FieldDef& f) {
  if (f.type == FieldType::Alpha) return "A(" + std::to_string(f.size) + ")";
  return std::string(1, FieldTypeCode(f.type));
}

const FieldDef* FindField(const TableDef& def, const std::string& name) {
  for (const FieldDef& f : def.fields)
    if (EqualsNoCase(f.name, name)) return &f;
  return nullptr;
}

std::string KeyText(const std::vector<std::string>& key) {
  std::string text;
  for (const std::string& field : key) text += (text.empty() ? "" : ";") + field;
  return text;
}

}  // namespace

void VerificaArquivosDistintos(Table& interim, Table& live) {
  const std::string interimPath = interim.windowsPath();
  const std::string livePath = live.windowsPath();
  std::error_code ec;
  if (!std::filesystem::equivalent(DriveC::resolve(interimPath), DriveC::resolve(livePath), ec)) return;
  throw EDBEngineError(
      cp("A cópia provisória "_cp) + interimPath + " (" + interim.databaseName() + cp(") e o cadastro "_cp) +
      livePath + " (" + live.databaseName() +
      cp(") são o mesmo arquivo. Verifique os aliases em C:\\platform.ini. Nada foi apagado."_cp));
}

void VerificaLeiauteDaCopia(Table& interim, Table& live, UsoDaCopia uso) {
  const TableDef copy = interim.tableDef();
  const TableDef original = live.tableDef();
  std::vector<std::string> differences;
  for (const FieldDef& field : original.fields) {
    const FieldDef* other = FindField(copy, field.name);
    if (!other) {
      // The copy goes on without it; the replacement would lose its values.
      if (uso == UsoDaCopia::Substituicao) differences.push_back(field.name + cp(": falta na cópia"_cp));
      continue;
    }
    if (other->type != field.type || (field.type == FieldType::Alpha && other->size != field.size))
      differences.push_back(field.name + ": " + TypeText(*other) + cp(" na cópia, "_cp) + TypeText(field) +
                            " no cadastro");
  }
  bool sameKey = copy.primaryKey.size() == original.primaryKey.size();
  for (std::size_t i = 0; sameKey && i < copy.primaryKey.size(); ++i)
    sameKey = EqualsNoCase(copy.primaryKey[i], original.primaryKey[i]);
  if (!sameKey)
    differences.push_back("chave: " + KeyText(copy.primaryKey) + cp(" na cópia, "_cp) +
                          KeyText(original.primaryKey) + " no cadastro");
  if (differences.empty()) return;
  std::string message = cp("O leiaute da cópia provisória "_cp) + interim.windowsPath() +
                        " difere do cadastro " + live.windowsPath() + ":";
  for (const std::string& d : differences) message += "\r" + d;
  message += uso == UsoDaCopia::Copia ? std::string("\rNada foi copiado.") : cp("\rNada foi substituído."_cp);
  throw EDBEngineError(message);
}

}  // namespace cg
