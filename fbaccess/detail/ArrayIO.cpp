#include "fbaccess/detail/ArrayIO.h"

#include <cstdint>

#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBTransaction.h"
#include "fbaccess/detail/ClientApi.h"

namespace fbdetail {

namespace {

// The bytes of the whole slice: the client's element size (a varchar
// element takes two bytes more than its declared length) times the count.
std::int64_t SliceBytes(const ISC_ARRAY_DESC& shape) {
  std::int64_t bytes = shape.array_desc_length;
  if (shape.array_desc_dtype == blr_varying || shape.array_desc_dtype == blr_varying2) {
    bytes += 2;
  }
  for (int i = 0; i < shape.array_desc_dimensions && i < 16; ++i) {
    const ISC_ARRAY_BOUND& bound = shape.array_desc_bounds[i];
    bytes *= std::int64_t(bound.array_bound_upper) - bound.array_bound_lower + 1;
  }
  return bytes;
}

}  // namespace

ISC_ARRAY_DESC LookUpArray(const StatementContext& ctx, const std::string& table,
                           const std::string& column) {
  ISC_ARRAY_DESC shape{};
  ctx.Database->CheckStatus(Api().isc_array_lookup_bounds(StatusVector(), ctx.Database->Handle(),
                                                          ctx.Transaction->Handle(), table.c_str(),
                                                          column.c_str(), &shape));
  return shape;
}

TBytes ReadArray(const StatementContext& ctx, const ISC_ARRAY_DESC& shape, const ISC_QUAD& id) {
  const std::int64_t bytes = SliceBytes(shape);
  if (bytes <= 0 || bytes > INT32_MAX) {
    RaiseClientError(4, "Caracteristica não suportada");
  }
  ISC_QUAD arrayId = id;
  ISC_LONG length = ISC_LONG(bytes);
  TBytes content(std::size_t(bytes), 0);
  ctx.Database->CheckStatus(Api().isc_array_get_slice(StatusVector(), ctx.Database->Handle(),
                                                      ctx.Transaction->Handle(), &arrayId, &shape,
                                                      content.data(), &length));
  // The client answers with the bytes it returned.
  if (length >= 0 && std::size_t(length) < content.size()) {
    content.resize(std::size_t(length));
  }
  return content;
}

ISC_QUAD WriteArray(const StatementContext& ctx, const ISC_ARRAY_DESC& shape,
                    const TBytes& content) {
  if (content.size() > INT32_MAX) {
    RaiseClientError(4, "Caracteristica não suportada");
  }
  ISC_QUAD id{};  // zero: a new array
  ISC_LONG length = ISC_LONG(content.size());
  TBytes slice = content;  // the client asks for a writable buffer
  ctx.Database->CheckStatus(Api().isc_array_put_slice(StatusVector(), ctx.Database->Handle(),
                                                      ctx.Transaction->Handle(), &id, &shape,
                                                      slice.data(), &length));
  return id;
}

}  // namespace fbdetail
