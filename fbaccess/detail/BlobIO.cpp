#include "fbaccess/detail/BlobIO.h"

#include <algorithm>

#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBTransaction.h"
#include "fbaccess/detail/ClientApi.h"

namespace fbdetail {

namespace {

constexpr std::size_t kPiece = 16384;
constexpr ISC_STATUS kSegment = 335544366;  // partial segment: more of it follows
constexpr ISC_STATUS kSegstrEof = 335544367;

// Closes (or, for a blob being written that failed, cancels) an open blob
// handle that a failure left behind, with a status vector of its own so that
// the error being raised is not overwritten.
class BlobHandle {
 public:
  explicit BlobHandle(bool cancelOnFailure) : cancel_(cancelOnFailure) {}
  ~BlobHandle() {
    if (handle_ != 0) {
      ISC_STATUS_ARRAY local{};
      if (cancel_) {
        Api().isc_cancel_blob(local, &handle_);
      } else {
        Api().isc_close_blob(local, &handle_);
      }
    }
  }
  BlobHandle(const BlobHandle&) = delete;
  BlobHandle& operator=(const BlobHandle&) = delete;
  isc_blob_handle* Ptr() { return &handle_; }

 private:
  isc_blob_handle handle_ = 0;
  bool cancel_;
};

}  // namespace

std::string ReadBlob(const StatementContext& ctx, const ISC_QUAD& id) {
  const ClientApi& api = Api();
  ISC_STATUS* sv = StatusVector();
  BlobHandle blob(false);
  ISC_QUAD blobId = id;
  ctx.Database->CheckStatus(api.isc_open_blob2(
      sv, ctx.Database->Handle(), ctx.Transaction->Handle(), blob.Ptr(), &blobId, 0, nullptr));
  const ISC_SCHAR items[] = {isc_info_blob_num_segments, isc_info_blob_max_segment,
                             isc_info_blob_total_length, isc_info_blob_type};
  ISC_SCHAR info[100] = {};
  ctx.Database->CheckStatus(
      api.isc_blob_info(sv, blob.Ptr(), short(sizeof items), items, short(sizeof info), info));
  long total = 0;
  for (int i = 0; i < int(sizeof info) - 3 && info[i] != isc_info_end;) {
    const char item = info[i];
    const int len = int(api.isc_vax_integer(info + i + 1, 2));
    if (len < 0 || i + 3 + len > int(sizeof info)) {
      break;
    }
    if (item == isc_info_blob_total_length) {
      total = api.isc_vax_integer(info + i + 3, short(len));
    }
    i += 3 + len;
  }
  std::string content(std::size_t(std::max(total, 0L)), '\0');
  std::size_t pos = 0;
  while (pos < content.size()) {
    const unsigned short want = static_cast<unsigned short>(std::min(kPiece, content.size() - pos));
    unsigned short got = 0;
    const ISC_STATUS st = api.isc_get_segment(sv, blob.Ptr(), &got, want, content.data() + pos);
    if (st > 0 && !StatusHasCode(sv, kSegment)) {
      if (StatusHasCode(sv, kSegstrEof)) {
        break;
      }
      ctx.Database->RaiseStatusError();
    }
    pos += got;
    if (got == 0 && st > 0) {
      break;
    }
  }
  content.resize(pos);
  ctx.Database->CheckStatus(api.isc_close_blob(sv, blob.Ptr()));
  *blob.Ptr() = 0;
  return content;
}

ISC_QUAD WriteBlob(const StatementContext& ctx, const std::string& content) {
  const ClientApi& api = Api();
  ISC_STATUS* sv = StatusVector();
  BlobHandle blob(true);
  ISC_QUAD id{};
  ctx.Database->CheckStatus(api.isc_create_blob2(
      sv, ctx.Database->Handle(), ctx.Transaction->Handle(), blob.Ptr(), &id, 0, nullptr));
  for (std::size_t pos = 0; pos < content.size();) {
    const std::size_t piece = std::min(kPiece, content.size() - pos);
    ctx.Database->CheckStatus(api.isc_put_segment(
        sv, blob.Ptr(), static_cast<unsigned short>(piece), content.data() + pos));
    pos += piece;
  }
  ctx.Database->CheckStatus(api.isc_close_blob(sv, blob.Ptr()));
  *blob.Ptr() = 0;
  return id;
}

}  // namespace fbdetail
