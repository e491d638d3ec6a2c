#include "engine/run/TRunInputs.h"

#include <filesystem>
#include <system_error>

#include "engine/files/DerivedNames.h"
#include "engine/run/TextUtil.h"

namespace {

// The longest name a run may give a file of its own: the run's stem with a
// three-digit variant and the level-2 backup's ending.
constexpr char kLongestEnding[] = " dd-mm-yyyy hh-nn-999 NIVEL02.fbk";

}  // namespace

std::string TRunInputs::ResolvedDatabasePath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::canonical(path, error);
  return error ? path : resolved.string();
}

std::string TRunInputs::Problem(const std::string& databasePath) {
  if (databasePath.empty()) {
    return "Nenhum banco de dados informado.";
  }
  std::error_code error;
  if (!std::filesystem::is_regular_file(databasePath, error)) {
    return "O banco de dados informado não existe neste computador.";
  }
  const std::string name = NamePart(ResolvedDatabasePath(databasePath));
  if (name.size() <= 4 || FindIgnoringCase(name, ".fdb", name.size() - 4) != name.size() - 4) {
    return "O arquivo informado não é um banco de dados Firebird (.FDB).";
  }
  const std::string longest = DatabaseStem(ResolvedDatabasePath(databasePath)) + kLongestEnding;
  if (longest.size() > kMaxPathBytes) {
    return "O caminho do banco de dados é longo demais: os arquivos desta execução passariam de " +
           std::to_string(kMaxPathBytes) + " bytes, o limite do servidor.\r" +
           ResolvedDatabasePath(databasePath);
  }
  return {};
}

Question TRunInputs::MissingBackupQuestion() {
  return Question{
      QuestionId::ContinueWithoutBackup,
      "Nenhum backup do banco de dados foi informado.\rSe necessário, este backup será útil "
      "durante a passagem pelo nível 2 em tentativas de recuperar dados perdidos do banco "
      "corrompido.\rTambém será possível informar o arquivo do backup do banco de dados mais "
      "adiante, durante o processo do nível 2.\rDeseja continuar assim mesmo?",
      MessageKind::Error, MessageButtons::YesNo, MessageAnswer::Yes};
}
