// Which tables of the older backup are restored with their rows.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/rows/OlderBackupTables.h"

TEST(OlderBackupTables, ParentsOfParentsAreKeptOnceThroughCycles) {
  // ITENS -> PEDIDOS -> CLIENTES <-> VENDEDORES (a cycle); NOTAS apart.
  const std::map<std::string, std::vector<std::string>> parents{
      {"ITENS", {"PEDIDOS", "PRODUTOS"}},
      {"PEDIDOS", {"CLIENTES"}},
      {"CLIENTES", {"VENDEDORES", "CLIENTES"}},
      {"VENDEDORES", {"CLIENTES"}}};
  const auto parentsOf = [&](const std::string& table) {
    const auto found = parents.find(table);
    return found == parents.end() ? std::vector<std::string>{} : found->second;
  };
  EXPECT_EQ((std::vector<std::string>{"ITENS", "PEDIDOS", "CLIENTES", "VENDEDORES", "PRODUTOS"}),
            TablesWithParents({"ITENS", "CLIENTES"}, parentsOf));
}

TEST(OlderBackupTables, SkipPatternEscapesNamesAndNeverSkipsAKeptTable) {
  // '_' and '%' mean any character to the server: unescaped, "ITENS_PEDIDO"
  // would also skip a kept "ITENSXPEDIDO".
  EXPECT_EQ("ITENS\\_PEDIDO|A\\%B|C\\(1\\)",
            SkipDataPattern({"ITENS_PEDIDO", "ITENSXPEDIDO", "A%B", "C(1)"}, {"ITENSXPEDIDO"}));
  // The server matches without regard to case: a quoted "Clientes" kept
  // keeps CLIENTES too.
  EXPECT_EQ("NOTAS", SkipDataPattern({"CLIENTES", "Clientes", "NOTAS"}, {"Clientes"}));
  EXPECT_EQ("", SkipDataPattern({"CLIENTES"}, {"CLIENTES"}));
}
