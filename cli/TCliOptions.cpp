#include "cli/TCliOptions.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "cli/TAnswerBook.h"
#include "cli/TExitStatus.h"
#include "tessarine/Version.h"

namespace {

struct QuestionHelp {
  QuestionId id;
  const char* text;
};

// Every question a run can ask, for --help; the names come from the engine.
constexpr QuestionHelp kQuestionHelp[] = {
    {QuestionId::ContinueWithoutBackup,
     "nenhum backup antigo foi informado: continuar? (padrão: sim)"},
    {QuestionId::RetryActiveConnections,
     "há outras conexões ao banco: tentar novamente? (padrão: sim)"},
    {QuestionId::ContinueUnverifiedAccess,
     "o acesso exclusivo não pôde ser verificado: continuar assim mesmo? (padrão: não)"},
    {QuestionId::InformBackupFile,
     "o nível 2 achou inconsistências e não há backup: informar um? (padrão: sim)"},
    {QuestionId::ChooseBackupFile, "escolher o arquivo do backup? (padrão: sim)"},
    {QuestionId::TryAnotherBackup, "o backup não restaurou: informar outro? (padrão: sim)"},
    {QuestionId::RowsFromBackup,
     "o backup antigo tem registros que faltam nas tabelas danificadas: inseri-los? "
     "(padrão: sim)"},
    {QuestionId::DatabaseShutDown,
     "o banco está em modo de manutenção: colocá-lo online e continuar? (padrão: não)"},
    {QuestionId::ForeignBackup,
     "o backup antigo parece ser de outro banco: usá-lo assim mesmo? (padrão: não)"},
};

std::string Padded(const std::string& text, std::size_t width) {
  return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

// The option a CLI11 message starts with ("--json: 1 required TEXT missing").
std::string OptionNamed(const std::string& message) {
  const std::size_t colon = message.find(':');
  return colon == std::string::npos ? message : message.substr(0, colon);
}

// `path` from the working directory, as typed: "." and doubled slashes go, but
// no link is followed, ".." stays (after a link it is not the lexical parent)
// and the letter case is kept. The server, which resolves names from its own
// folder, must be given this.
std::string FromWorkingDirectory(const std::string& path) {
  if (path.empty()) {
    return path;
  }
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) {
    return path;
  }
  std::filesystem::path tidy;
  for (const std::filesystem::path& part : absolute) {
    if (part != "." && !part.empty()) {
      tidy /= part;
    }
  }
  // A trailing slash names a folder: keep it so the checks still refuse it.
  return path.ends_with('/') ? tidy.string() + "/" : tidy.string();
}

}  // namespace

std::string TCliOptions::HelpText() {
  std::string text =
      "Uso: tessarine-cli [OPÇÕES] BANCO.fdb [BACKUP_ANTIGO.fbk]\n"
      "  ou: tessarine-cli --inspect [--json ARQUIVO] BANCO.fdb\n"
      "Repara um banco de dados Firebird corrompido pelo servidor Firebird desta\n"
      "máquina, nos mesmos onze passos da janela do Tessarine. BACKUP_ANTIGO.fbk é um\n"
      "backup anterior e íntegro do mesmo banco, de onde o nível 2 traz de volta os\n"
      "registros perdidos.\n"
      "\n"
      "Com --inspect, só examina o arquivo, lendo suas páginas sem o servidor e sem\n"
      "alterar nada: tamanho de página, ODS, páginas por tipo, por tabela as páginas\n"
      "de dados e as linhas legíveis, as páginas danificadas e o reparo esperado.\n"
      "\n"
      "Opções:\n"
      "      --inspect              examina BANCO.fdb e termina, sem reparar nada\n"
      "      --yes                  responde \"sim\" a toda pergunta\n"
      "      --no                   responde \"não\" a toda pergunta\n"
      "      --answer ID=sim|nao    responde à pergunta ID; pode ser repetida e vale\n"
      "                             sobre --yes e --no para essa pergunta\n"
      "      --backup-on-demand ARQUIVO\n"
      "                             o backup antigo a usar quando o nível 2 pedir um\n"
      "                             (num terminal, o caminho é perguntado)\n"
      "      --json ARQUIVO         grava ao fim um resumo em JSON (com --inspect, o\n"
      "                             exame); ARQUIVO não pode existir ainda\n"
      "      --verbose              mostra também a saída do servidor\n"
      "      --user NOME            conecta ao servidor como NOME\n"
      "      --password-file ARQUIVO\n"
      "                             lê a senha da primeira linha de ARQUIVO (a senha\n"
      "                             nunca é aceita na linha de comando)\n"
      "      --help                 mostra esta ajuda e termina\n"
      "      --version              mostra a versão e termina\n"
      "\n"
      "Perguntas (o ID de --answer):\n";
  for (const QuestionHelp& question : kQuestionHelp) {
    text += "  " + Padded(QuestionIdName(question.id), 24) + question.text + "\n";
  }
  text +=
      "Num terminal, cada pergunta sem resposta dada é feita ali. Sem terminal, uma\n"
      "pergunta sem resposta dada termina a execução com o status 3, depois de\n"
      "desfeito o que estava pela metade.\n"
      "\n"
      "Credenciais, a primeira encontrada: --user e --password-file; as variáveis\n"
      "ISC_USER e ISC_PASSWORD; /etc/firebird/3.0/SYSDBA.password; a conta do\n"
      "servidor de desenvolvimento. Se o servidor recusar o login, num terminal o\n"
      "usuário e a senha são perguntados.\n"
      "\n"
      "Status de saída:\n"
      "  0  banco reparado, ou nenhum erro encontrado; com --inspect, o exame foi\n"
      "     feito, qualquer que seja o resultado\n"
      "  1  o banco continua corrompido\n"
      "  2  o banco está em uso, ou não pôde ser validado\n"
      "  3  erro de uso, arquivo inexistente ou inválido, login recusado ou\n"
      "     pergunta sem resposta; com --inspect, arquivo que não pôde ser lido\n"
      "  4  cancelado (Ctrl+C, ou \"não\" à pergunta sem-backup)\n"
      "  5  banco reparado, mas registros não puderam ser recuperados (a mensagem\n"
      "     final dá as perdas por tabela)\n";
  return text;
}

std::string TCliOptions::VersionText() {
  return std::string(kProgram) + " (Tessarine) " + TESSARINE_VERSION +
         "\n"
         "Copyright (C) 2026 Equipe Tessarine\n";
}

int TCliOptions::UsageError(const std::string& message) {
  std::fprintf(stderr, "%s: %s\nExperimente \"%s --help\" para mais informações.\n", kProgram,
               message.c_str(), kProgram);
  return TExitStatus::kUsage;
}

std::optional<int> TCliOptions::Parse(int argc, const char* const* argv) {
  CLI::App app("", kProgram);
  app.set_help_flag();
  app.allow_extras();
  bool help = false;
  bool version = false;
  bool yes = false;
  bool no = false;
  std::vector<std::string> answers;
  std::string user;
  std::string passwordFile;
  app.add_flag("--help", help);
  app.add_flag("--version", version);
  app.add_flag("--yes", yes);
  app.add_flag("--no", no);
  app.add_flag("--verbose", verbose_);
  app.add_flag("--inspect", inspect_);
  app.add_option("--answer", answers)
      ->type_size(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--backup-on-demand", backupOnDemand_);
  app.add_option("--json", jsonFile_);
  CLI::Option* userOption = app.add_option("--user", user);
  CLI::Option* passwordOption = app.add_option("--password-file", passwordFile);
  app.add_option("database", database_);
  app.add_option("older-backup", olderBackup_);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ArgumentMismatch& error) {
    return UsageError("a opção " + OptionNamed(error.what()) + " precisa de um valor, uma vez só");
  } catch (const CLI::ParseError& error) {
    return UsageError(std::string("argumentos inválidos (") + error.what() + ")");
  }

  if (help) {
    std::fputs(HelpText().c_str(), stdout);
    return TExitStatus::kRepairedOrNoErrors;
  }
  if (version) {
    std::fputs(VersionText().c_str(), stdout);
    return TExitStatus::kRepairedOrNoErrors;
  }
  for (const std::string& extra : app.remaining()) {
    if (extra == "--password" || extra.starts_with("--password=")) {
      return UsageError(
          "a senha nunca é aceita na linha de comando, onde outros usuários a veriam; use "
          "--password-file ARQUIVO ou a variável ISC_PASSWORD");
    }
    if (extra.starts_with("-") && extra != "-") {
      return UsageError("opção desconhecida: " + extra);
    }
    return UsageError("argumento a mais: " + extra);
  }
  if (database_.empty()) {
    return UsageError("falta o banco de dados (BANCO.fdb)");
  }
  if (inspect_) {
    // The examination reads the file alone: nothing that belongs to a run
    // may be silently ignored.
    const std::pair<bool, const char*> runOnly[] = {
        {!olderBackup_.empty(), "BACKUP_ANTIGO.fbk"},
        {yes, "--yes"},
        {no, "--no"},
        {!answers.empty(), "--answer"},
        {!backupOnDemand_.empty(), "--backup-on-demand"},
        {bool(*userOption), "--user"},
        {bool(*passwordOption), "--password-file"},
    };
    for (const auto& [given, name] : runOnly) {
      if (given) {
        return UsageError(std::string(name) +
                          " não se aplica a --inspect, que só examina o arquivo, sem o servidor");
      }
    }
  }
  if (yes && no) {
    return UsageError("--yes e --no não podem ser usadas juntas");
  }
  if (yes || no) {
    answerForAll_ = yes ? MessageAnswer::Yes : MessageAnswer::No;
  }
  for (const std::string& answer : answers) {
    const auto parsed = TAnswerBook::Parse(answer);
    if (!parsed) {
      return UsageError("resposta inválida em --answer: \"" + answer +
                        "\" (use ID=sim ou ID=nao; os IDs estão em --help)");
    }
    answers_[parsed->first] = parsed->second;
  }
  if (*userOption) {
    user_ = user;
  }
  if (*passwordOption) {
    passwordFile_ = FromWorkingDirectory(passwordFile);
  }
  database_ = FromWorkingDirectory(database_);
  olderBackup_ = FromWorkingDirectory(olderBackup_);
  backupOnDemand_ = FromWorkingDirectory(backupOnDemand_);
  jsonFile_ = FromWorkingDirectory(jsonFile_);
  return std::nullopt;
}
