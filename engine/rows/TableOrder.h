#pragma once

#include <functional>
#include <string>
#include <vector>

// The order in which tables are filled so that every row finds the rows it
// refers to already in: a table after every table it refers to. Tables that
// refer to each other in a cycle cannot be ordered; they come last, in their
// given order, and are named in `cycle`.
struct TableOrder {
  std::vector<std::string> order;
  std::vector<std::string> cycle;
};

// `parentsOf(table)` names the tables `table` refers to (itself included or
// not; a table's reference to itself is left to the row order within it).
// Parents outside `tables` do not count: they are not being filled. Ties keep
// the given order.
TableOrder ParentsFirstTables(
    const std::vector<std::string>& tables,
    const std::function<std::vector<std::string>(const std::string&)>& parentsOf);
