#pragma once

#include <functional>
#include <string>

// Copies `source` to `target`, which must be free. The bytes go to a
// temporary file in the target's folder that takes the target's name only
// once it is complete and as long as the source, so a failed copy never
// leaves a partial file under the target's name, and a file that took the
// name in the meantime is never replaced. `checkCancel` is called between
// blocks and may throw to end the copy. Throws std::runtime_error with the
// reason.
void CopyWholeFile(const std::string& source, const std::string& target,
                   const std::function<void()>& checkCancel);
