#pragma once

#include <optional>
#include <string>

#include "pages/TInspectionResult.h"
#include "pages/TSchema.h"

// Examines a database file straight from its pages: page size and ODS, the
// file against its page count, a census of page types, per table the data
// pages and the rows readable, the damaged pages, and what a repair is
// expected to do. Never writes to the file.
class TInspection {
 public:
  // `otherSchema` names and decodes tables whose system records are damaged.
  static TInspectionResult Run(const std::string& path,
                               const std::optional<TSchema>& otherSchema = std::nullopt);
};
