#include "support/DamagedFixture.h"

#include <sys/stat.h>

#include <fstream>
#include <stdexcept>

#include "support/ServerTools.h"
#include "support/TestFolder.h"

namespace testsupport {

namespace {

std::string BulkScript(int rows) {
  return "create table GRANDE (ID integer not null primary key, TEXTO varchar(100));\n"
         "commit;\n"
         "set term ^;\n"
         "execute block as\n"
         "  declare i integer = 1;\n"
         "begin\n"
         "  while (i <= " +
         std::to_string(rows) +
         ") do begin\n"
         "    insert into GRANDE values (:i, 'Linha de teste numero ' || :i ||"
         " ' com algum texto para encher a pagina');\n"
         "    i = i + 1;\n"
         "  end\n"
         "end^\n"
         "set term ;^\n"
         "commit;\n"
         "create index IX_GRANDE_TEXTO on GRANDE (TEXTO);\n"
         "commit;\n";
}

// No code holds three equal characters in a row, which the record
// compression would store as a run: each is stored as it reads.
std::string CodesScript() {
  return "create table CODIGOS (ID integer not null primary key, CODIGO varchar(30) not null,"
         " constraint UQ_CODIGOS unique (CODIGO));\n"
         "commit;\n"
         "set term ^;\n"
         "execute block as\n"
         "  declare i integer = 1;\n"
         "begin\n"
         "  while (i <= 40) do begin\n"
         "    insert into CODIGOS values (:i, 'CODIGO UNICO K' || :i || 'Z');\n"
         "    i = i + 1;\n"
         "  end\n"
         "end^\n"
         "set term ;^\n"
         "commit;\n";
}

constexpr unsigned char kDataPageType = 5;

// Writes `replacement` over `original` where it is stored in a data page.
void RewriteStoredText(const std::string& file, const std::string& original,
                       const std::string& replacement) {
  if (!ServerTools::WaitUntilReleased(file)) {
    throw std::runtime_error("the server still holds " + file);
  }
  std::string bytes = FileDamage::ReadWhole(file);
  for (std::size_t at = bytes.find(original); at != std::string::npos;
       at = bytes.find(original, at + 1)) {
    const std::size_t page = at / FileDamage::kPageSize * FileDamage::kPageSize;
    if (static_cast<unsigned char>(bytes[page]) == kDataPageType) {
      std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
      out.seekp(std::streamoff(at));
      out.write(replacement.data(), std::streamsize(replacement.size()));
      if (!out) {
        throw std::runtime_error("cannot write " + file);
      }
      return;
    }
  }
  throw std::runtime_error("\"" + original + "\" is stored in no data page of " + file);
}

}  // namespace

DamagedFixture::DamagedFixture(const std::string& folder, const Options& options)
    : options_(options), schema_(SampleSchema::Kind::NamedConstraints, options.parentRows) {
  std::string script = schema_.Script();
  if (options.bulkRows > 0) {
    script += BulkScript(options.bulkRows);
  }
  if (options.duplicateUniqueCode) {
    script += CodesScript();
  }
  if (options.connectTrigger) {
    script +=
        "create table CONEXOES (QUANDO timestamp, QUEM varchar(63));\n"
        "set term ^;\n"
        "create trigger T_CONEXOES on connect as begin\n"
        "  insert into CONEXOES values (current_timestamp, current_user);\n"
        "end^\n"
        "set term ;^\n"
        "commit;\n";
  }
  const FixtureDatabase db = FixtureDatabase::Create(folder + "/MODELO.FDB", script);
  olderBackup_ = folder + "/MODELO-ANTERIOR.FBK";
  const ToolResult backup = ServerTools::Backup(db.Path(), olderBackup_);
  if (!backup.Ok()) {
    throw std::runtime_error(backup.output);
  }
  std::vector<std::string> tables{"CLIENTES", "PEDIDOS", "NOTAS", "AVULSOS"};
  if (options.bulkRows > 0) {
    tables.push_back("GRANDE");
  }
  if (options.duplicateUniqueCode) {
    tables.push_back("CODIGOS");
  }
  for (const std::string& table : tables) {
    countsBefore_[table] = db.Count(table);
  }
  damage_ = options.damage == Damage::ParentTable
                ? FileDamage::ZeroDataPage(db, "CLIENTES", schema_.KeyExpression(), 5)
                : FileDamage::ZeroDataPage(db, "AVULSOS", "ID", 1);
  if (options.duplicateUniqueCode) {
    RewriteStoredText(db.Path(), "CODIGO UNICO K12Z", "CODIGO UNICO K11Z");
  }
  bytes_ = FileDamage::ReadWhole(db.Path());
}

void DamagedFixture::PlaceAt(const std::string& path) const {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes_.data(), std::streamsize(bytes_.size()));
    if (!out) {
      throw std::runtime_error("cannot write " + path);
    }
  }
  ::chmod(path.c_str(), 0660);
  TestFolder::GiveToServer(path);
}

std::string DamagedFixture::DamagedTable() const {
  return options_.damage == Damage::ParentTable ? "CLIENTES" : "AVULSOS";
}

long long DamagedFixture::DamagedTableRowsAfterMend() const {
  return countsBefore_.at(DamagedTable()) - static_cast<long long>(damage_.lostKeys.size());
}

bool DamagedFixture::HasTheDamagedContent(const std::string& file) const {
  return FileDamage::SamePagesApartFromBookkeeping(bytes_, FileDamage::ReadWhole(file));
}

bool DamagedFixture::HoldsTheZeroedPage(const std::string& file) const {
  const std::string bytes = FileDamage::ReadWhole(file);
  const std::size_t at = std::size_t(damage_.pageNumber) * FileDamage::kPageSize;
  return bytes.size() == bytes_.size() &&
         bytes.compare(at, FileDamage::kPageSize, std::string(FileDamage::kPageSize, '\0')) == 0;
}

}  // namespace testsupport
