// tessarine-cli: the repair of a corrupt Firebird database from a terminal or
// a script (see --help).
#include <clocale>
#include <optional>

#include "cli/TCliInspection.h"
#include "cli/TCliOptions.h"
#include "cli/TCliRun.h"

int main(int argc, char** argv) {
  // The user's locale for the terminal's character handling; the program's
  // own texts are Portuguese in every locale.
  std::setlocale(LC_CTYPE, "");
  TCliOptions options;
  if (const std::optional<int> status = options.Parse(argc, argv)) {
    return *status;
  }
  if (options.Inspect()) {
    TCliInspection inspection(options);
    return inspection.Execute();
  }
  TCliRun run(options);
  return run.Execute();
}
