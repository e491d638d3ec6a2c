#pragma once

#include <functional>
#include <string>
#include <vector>

// `wanted` and every table they refer to, on and up: a row brought from the
// older backup may need its parents from there too. `parentsOf(table)` names
// the tables `table` refers to. Keeps the order in which tables came up.
std::vector<std::string> TablesWithParents(
    const std::vector<std::string>& wanted,
    const std::function<std::vector<std::string>(const std::string&)>& parentsOf);

// The restore's skip-data expression (SIMILAR TO, matched without regard to
// case) for the tables of `all` not in `kept`, each name escaped; empty when
// every table is kept. A table whose name differs from a kept one only in
// case is kept too, since the server cannot tell them apart here.
std::string SkipDataPattern(const std::vector<std::string>& all,
                            const std::vector<std::string>& kept);
