#pragma once

// Reading and writing an array's whole content through the client's slice
// calls. The content is the slice exactly as the client lays it out for the
// column's descriptor (elements in row-major order; a varchar element is its
// text ended by a zero byte, in its declared length plus two). It is carried,
// never interpreted, so it goes back only into a column of the same shape.

#include <ibase.h>

#include <string>

#include "fbaccess/TValue.h"
#include "fbaccess/detail/TIBXSQLVAR.h"

namespace fbdetail {

// The descriptor of the array column `column` of `table`, as the statement's
// database declares it.
ISC_ARRAY_DESC LookUpArray(const StatementContext& ctx, const std::string& table,
                           const std::string& column);
TBytes ReadArray(const StatementContext& ctx, const ISC_ARRAY_DESC& shape, const ISC_QUAD& id);
// Writes a new array in the statement's transaction and returns its id, for
// an insert or update parameter of that column.
ISC_QUAD WriteArray(const StatementContext& ctx, const ISC_ARRAY_DESC& shape,
                    const TBytes& content);

}  // namespace fbdetail
