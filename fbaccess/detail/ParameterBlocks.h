#pragma once

// Private to the access layer: turn the "name=value" parameter lines of a
// database or a transaction into the client's DPB and TPB bytes.

#include <cstdint>
#include <string>
#include <vector>

namespace fbdetail {

// The DPB: version byte 1, then one item per line. Raises EIBClientError 114
// for an unknown name (the name part as written) and 11 for a known name that
// is not supported.
std::vector<std::uint8_t> BuildDpb(const std::vector<std::string>& params);

// The TPB: empty for no lines, else version byte 3 and one item per line.
// Raises EIBClientError 115 for an unknown name and 13 for an unsupported one.
std::vector<std::uint8_t> BuildTpb(const std::vector<std::string>& params);

}  // namespace fbdetail
