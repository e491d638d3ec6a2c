#include "pages/TInspectionResult.h"

#include <nlohmann/json.hpp>

namespace {

const char* const kPageTypeNames[] = {"zeradas ou desconhecidas",
                                      "cabeçalho",
                                      "inventário de páginas (PIP)",
                                      "inventário de transações (TIP)",
                                      "ponteiros",
                                      "dados",
                                      "raiz de índice",
                                      "índice",
                                      "blob",
                                      "geradores",
                                      "SCN"};

// Names and texts come from the file and its path, in any character set:
// bytes that are not UTF-8 become U+FFFD instead of an exception.
std::string Dump(const nlohmann::ordered_json& j) {
  return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string YesNo(bool value) {
  return value ? "sim" : "não";
}

}  // namespace

std::vector<std::string> TInspectionResult::ToText() const {
  std::vector<std::string> lines;
  lines.push_back("Exame de " + path);
  if (!opened) {
    lines.insert(lines.end(), verdict.begin(), verdict.end());
    return lines;
  }
  lines.push_back("Tamanho de página: " + std::to_string(pageSize) +
                  (pageSizeProbed ? " (deduzido das páginas: cabeçalho danificado)" : ""));
  if (headerValid) {
    lines.push_back("ODS: " + std::to_string(odsMajor) + "." + std::to_string(odsMinor));
    lines.push_back("Transações: próxima " + std::to_string(nextTransaction) +
                    ", mais antiga de interesse " + std::to_string(oldestInteresting) +
                    ", mais antiga ativa " + std::to_string(oldestActive) +
                    ", snapshot mais antigo " + std::to_string(oldestSnapshot));
  } else {
    lines.push_back("Cabeçalho: ilegível");
  }
  lines.push_back("Arquivo: " + std::to_string(fileSize) + " bytes, " + std::to_string(pageCount) +
                  " páginas" + (wholePages ? "" : " (o tamanho não é múltiplo da página)"));
  std::string census = "Páginas em uso:";
  for (std::size_t t = 0; t < pageTypes.size(); ++t) {
    if (pageTypes[t] != 0) {
      census += " " + std::string(kPageTypeNames[t]) + " " + std::to_string(pageTypes[t]) + ";";
    }
  }
  lines.push_back(census + " livres " + std::to_string(freePages));
  lines.push_back("RDB$PAGES íntegra: " + YesNo(pagesRelationIntact) +
                  "; inventário de transações legível: " + YesNo(inventoryUsable) +
                  "; tabelas de sistema íntegras: " + YesNo(systemTablesIntact));
  for (const TInspectedTable& t : tables) {
    lines.push_back(
        "Tabela " + (t.name.empty() ? "relação " + std::to_string(t.relationId) : t.name) + ": " +
        std::to_string(t.dataPages) + " páginas de dados, " + std::to_string(t.records) +
        " linhas legíveis, " + std::to_string(t.backVersions) + " versões antigas, " +
        std::to_string(t.undecodable) + " registros ilegíveis, " + std::to_string(t.pagesDamaged) +
        " páginas danificadas" +
        (t.destroyed == 0 ? std::string()
                          : ", " + std::string(t.destroyedKnown ? "" : "ao menos ") +
                                std::to_string(t.destroyed) +
                                " registros destruídos (segundo o índice da tabela)") +
        (t.schemaKnown ? "" : " (sem formato conhecido: linhas não decodificadas)"));
  }
  lines.push_back("Páginas danificadas: " + std::to_string(damagedCount));
  for (const TInspectedPage& d : damaged) {
    lines.push_back("  página " + std::to_string(d.page) + " (" + d.role + "): " + d.reason);
  }
  lines.insert(lines.end(), verdict.begin(), verdict.end());
  return lines;
}

std::string TInspectionResult::ToJson() const {
  nlohmann::ordered_json j;
  j["path"] = path;
  j["opened"] = opened;
  if (!opened) {
    j["error"] = error;
    j["verdict"] = verdict;
    return Dump(j);
  }
  j["pageSize"] = pageSize;
  j["pageSizeProbed"] = pageSizeProbed;
  j["fileSize"] = fileSize;
  j["pageCount"] = pageCount;
  j["wholePages"] = wholePages;
  j["header"] = {{"valid", headerValid},
                 {"odsMajor", odsMajor},
                 {"odsMinor", odsMinor},
                 {"nextTransaction", nextTransaction},
                 {"oldestInteresting", oldestInteresting},
                 {"oldestActive", oldestActive},
                 {"oldestSnapshot", oldestSnapshot},
                 {"flags", headerFlags}};
  nlohmann::ordered_json census = nlohmann::ordered_json::object();
  for (std::size_t t = 0; t < pageTypes.size(); ++t) {
    census[kPageTypeNames[t]] = pageTypes[t];
  }
  j["pageTypes"] = census;
  j["freePages"] = freePages;
  j["pagesRelationIntact"] = pagesRelationIntact;
  j["inventoryUsable"] = inventoryUsable;
  j["systemTablesIntact"] = systemTablesIntact;
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const TInspectedTable& t : tables) {
    list.push_back({{"relationId", t.relationId},
                    {"name", t.name},
                    {"schemaKnown", t.schemaKnown},
                    {"dataPages", t.dataPages},
                    {"records", t.records},
                    {"destroyed", t.destroyed},
                    {"destroyedKnown", t.destroyedKnown},
                    {"backVersions", t.backVersions},
                    {"undecodable", t.undecodable},
                    {"deleted", t.deleted},
                    {"pagesDamaged", t.pagesDamaged},
                    {"pagesScanned", t.pagesScanned}});
  }
  j["tables"] = list;
  nlohmann::ordered_json pages = nlohmann::ordered_json::array();
  for (const TInspectedPage& d : damaged) {
    pages.push_back({{"page", d.page}, {"role", d.role}, {"reason", d.reason}});
  }
  j["damagedCount"] = damagedCount;
  j["damagedPages"] = pages;
  j["level"] = level;
  j["verdict"] = verdict;
  return Dump(j);
}
