#pragma once

// Reading and writing a blob's whole content in pieces of at most 16384 bytes.

#include <ibase.h>

#include <string>

#include "fbaccess/detail/TIBXSQLVAR.h"

namespace fbdetail {

std::string ReadBlob(const StatementContext& ctx, const ISC_QUAD& id);
ISC_QUAD WriteBlob(const StatementContext& ctx, const std::string& content);

}  // namespace fbdetail
