#include "fbaccess/detail/ParameterBlocks.h"

#include <ibase.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <string_view>

#include "fbaccess/detail/ClientApi.h"

namespace fbdetail {

namespace {

// The client's isc_dpb_* item names without their prefix, by code (1 to 67).
constexpr std::array<std::string_view, 67> kDpbNames = {"cdd_pathname",
                                                        "allocation",
                                                        "journal",
                                                        "page_size",
                                                        "num_buffers",
                                                        "buffer_length",
                                                        "debug",
                                                        "garbage_collect",
                                                        "verify",
                                                        "sweep",
                                                        "enable_journal",
                                                        "disable_journal",
                                                        "dbkey_scope",
                                                        "number_of_users",
                                                        "trace",
                                                        "no_garbage_collect",
                                                        "damaged",
                                                        "license",
                                                        "sys_user_name",
                                                        "encrypt_key",
                                                        "activate_shadow",
                                                        "sweep_interval",
                                                        "delete_shadow",
                                                        "force_write",
                                                        "begin_log",
                                                        "quit_log",
                                                        "no_reserve",
                                                        "user_name",
                                                        "password",
                                                        "password_enc",
                                                        "sys_user_name_enc",
                                                        "interp",
                                                        "online_dump",
                                                        "old_file_size",
                                                        "old_num_files",
                                                        "old_file",
                                                        "old_start_page",
                                                        "old_start_seqno",
                                                        "old_start_file",
                                                        "drop_walfile",
                                                        "old_dump_id",
                                                        "wal_backup_dir",
                                                        "wal_chkptlen",
                                                        "wal_numbufs",
                                                        "wal_bufsize",
                                                        "wal_grp_cmt_wait",
                                                        "lc_messages",
                                                        "lc_ctype",
                                                        "cache_manager",
                                                        "shutdown",
                                                        "online",
                                                        "shutdown_delay",
                                                        "reserved",
                                                        "overwrite",
                                                        "sec_attach",
                                                        "disable_wal",
                                                        "connect_timeout",
                                                        "dummy_packet_interval",
                                                        "gbak_attach",
                                                        "sql_role_name",
                                                        "set_page_buffers",
                                                        "working_directory",
                                                        "sql_dialect",
                                                        "set_db_readonly",
                                                        "set_db_sql_dialect",
                                                        "gfix_attach",
                                                        "gstat_attach"};
static_assert(isc_dpb_cdd_pathname == 1 && isc_dpb_user_name == 28 && isc_dpb_password == 29 &&
              isc_dpb_sql_dialect == 63 && isc_dpb_gstat_attach == 67);

// Later isc_dpb_* items the repair uses, by name without the prefix.
struct TLaterItem {
  std::string_view name;
  int code;
};
constexpr std::array<TLaterItem, 1> kLaterDpbItems = {{{"no_db_triggers", isc_dpb_no_db_triggers}}};

int LaterDpbCode(const std::string& key) {
  for (const TLaterItem& item : kLaterDpbItems) {
    if (item.name == key) {
      return item.code;
    }
  }
  return 0;
}

// The client's isc_tpb_* item names without their prefix, by code (1 to 20).
constexpr std::array<std::string_view, 20> kTpbNames = {
    "consistency", "concurrency",    "shared",           "protected",
    "exclusive",   "wait",           "nowait",           "read",
    "write",       "lock_read",      "lock_write",       "verb_time",
    "commit_time", "ignore_limbo",   "read_committed",   "autocommit",
    "rec_version", "no_rec_version", "restart_requests", "no_auto_undo"};
static_assert(isc_tpb_consistency == 1 && isc_tpb_lock_write == 11 && isc_tpb_no_auto_undo == 20);

std::string ToLower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool IsBlank(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](unsigned char c) { return c <= ' '; });
}

std::string WithoutPrefix(const std::string& key, std::string_view prefix) {
  if (key.compare(0, prefix.size(), prefix) == 0) {
    return key.substr(prefix.size());
  }
  return key;
}

template <std::size_t N>
int CodeOf(const std::array<std::string_view, N>& names, const std::string& key) {
  for (std::size_t i = 0; i < N; ++i) {
    if (names[i] == key) {
      return static_cast<int>(i) + 1;
    }
  }
  return 0;
}

// A decimal integer value; anything else fails as Delphi's StrToInt did.
long ParseInteger(const std::string& value) {
  std::string_view text = value;
  while (!text.empty() && text.front() == ' ') {
    text.remove_prefix(1);
  }
  while (!text.empty() && text.back() == ' ') {
    text.remove_suffix(1);
  }
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
  }
  long number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    RaiseClientError(0, "'" + value + "' não é um valor inteiro válido");
  }
  return number;
}

void AppendText(std::vector<std::uint8_t>& block, int code, const std::string& value) {
  block.push_back(static_cast<std::uint8_t>(code));
  block.push_back(static_cast<std::uint8_t>(value.size()));
  block.insert(block.end(), value.begin(), value.end());
}

}  // namespace

std::vector<std::uint8_t> BuildDpb(const std::vector<std::string>& params) {
  std::vector<std::uint8_t> dpb{isc_dpb_version1};
  for (const std::string& line : params) {
    const std::size_t equals = line.find('=');
    const std::string namePart = line.substr(0, equals);
    if (IsBlank(namePart)) {
      continue;
    }
    const std::string key = WithoutPrefix(ToLower(namePart), "isc_dpb_");
    const std::string value = equals == std::string::npos ? std::string() : line.substr(equals + 1);
    const int listed = CodeOf(kDpbNames, key);
    const int code = listed != 0 ? listed : LaterDpbCode(key);
    switch (code) {
      case isc_dpb_license:
      case isc_dpb_sys_user_name:
      case isc_dpb_encrypt_key:
      case isc_dpb_user_name:
      case isc_dpb_password:
      case isc_dpb_password_enc:
      case isc_dpb_lc_messages:
      case isc_dpb_lc_ctype:
      case isc_dpb_sql_role_name:
        AppendText(dpb, code, value);
        break;
      case isc_dpb_sql_dialect: {
        // The dialect travels as a number, not as its digit.
        std::string dialect = value;
        if (!dialect.empty()) {
          dialect[0] = static_cast<char>(dialect[0] - '0');
        }
        AppendText(dpb, code, dialect);
        break;
      }
      case isc_dpb_num_buffers:
      case isc_dpb_verify:
      case isc_dpb_dbkey_scope:
      case isc_dpb_damaged:
      case isc_dpb_force_write:
      case isc_dpb_no_reserve:
      case isc_dpb_no_db_triggers:
        dpb.push_back(static_cast<std::uint8_t>(code));
        dpb.push_back(1);
        dpb.push_back(static_cast<std::uint8_t>(ParseInteger(value) & 0xFF));
        break;
      case isc_dpb_sweep:
        dpb.insert(dpb.end(), {static_cast<std::uint8_t>(code), 1, isc_dpb_records});
        break;
      case isc_dpb_activate_shadow:
      case isc_dpb_delete_shadow:
      case isc_dpb_begin_log:
      case isc_dpb_quit_log:
        dpb.insert(dpb.end(), {static_cast<std::uint8_t>(code), 1, 0});
        break;
      case isc_dpb_sweep_interval: {
        const auto interval = static_cast<std::uint32_t>(ParseInteger(value));
        dpb.insert(dpb.end(), {static_cast<std::uint8_t>(code), 4});
        for (int shift = 0; shift < 32; shift += 8) {
          dpb.push_back(static_cast<std::uint8_t>((interval >> shift) & 0xFF));
        }
        break;
      }
      case 0:
        RaiseClientError(114, "DPB Constant (" + namePart + ") é desconhecido");
      default:
        RaiseClientError(11, "DPB Constant (isc_dpb_" + key + ") não suportado");
    }
  }
  return dpb;
}

std::vector<std::uint8_t> BuildTpb(const std::vector<std::string>& params) {
  std::vector<std::uint8_t> tpb;
  if (params.empty()) {
    return tpb;
  }
  tpb.push_back(isc_tpb_version3);
  for (const std::string& line : params) {
    if (IsBlank(line)) {
      continue;
    }
    const std::size_t equals = line.find('=');
    const std::string namePart = line.substr(0, equals);
    const std::string key = WithoutPrefix(ToLower(namePart), "isc_tpb_");
    const std::string value = equals == std::string::npos ? std::string() : line.substr(equals + 1);
    const int code = CodeOf(kTpbNames, key);
    switch (code) {
      case isc_tpb_lock_read:
      case isc_tpb_lock_write:
        AppendText(tpb, code, value);
        break;
      case isc_tpb_verb_time:
      case isc_tpb_commit_time:
      case isc_tpb_autocommit:
      case isc_tpb_restart_requests:
      case isc_tpb_no_auto_undo:
        RaiseClientError(13, "TPB Constant (isc_tpb_" + key + ") não suportado");
      case 0:
        RaiseClientError(115, "TPB Constant (" + namePart + ") é desconhecido");
      default:
        tpb.push_back(static_cast<std::uint8_t>(code));
    }
  }
  return tpb;
}

}  // namespace fbdetail
