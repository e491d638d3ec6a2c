#include "fbaccess/detail/ServiceBuffers.h"

#include <ibase.h>

#include <algorithm>
#include <cctype>
#include <charconv>

#include "fbaccess/EIBClientError.h"

namespace fbdetail {

namespace {

const char kUnsupportedSpb[] = "SPB Constant não suportado";
const char kUnknownSpb[] = "SPB Constant Desconhecida";
const char kBadStartParams[] = "Paramêtros iniciais não encontrados ou incorretos";

std::string Trim(const std::string& text) {
  const auto isBlank = [](unsigned char c) { return std::isspace(c) != 0; };
  auto first = std::find_if_not(text.begin(), text.end(), isBlank);
  auto last = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
  return first < last ? std::string(first, last) : std::string();
}

std::string Lower(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

// The item codes of the names a parameter line may carry; only user_name,
// password and sql_role_name are sent by this layer.
struct SpbName {
  const char* name;
  std::uint8_t code;
};
const SpbName kSpbNames[] = {
    {"user_name", isc_spb_user_name},
    {"sys_user_name", isc_spb_sys_user_name},
    {"sys_user_name_enc", isc_spb_sys_user_name_enc},
    {"password", isc_spb_password},
    {"password_enc", isc_spb_password_enc},
    {"command_line", isc_spb_command_line},
    {"db_name", isc_spb_dbname},
    {"verbose", isc_spb_verbose},
    {"options", isc_spb_options},
    {"connect_timeout", isc_spb_connect_timeout},
    {"dummy_packet_interval", isc_spb_dummy_packet_interval},
    {"sql_role_name", isc_spb_sql_role_name},
};

std::uint32_t ParseLength(const std::string& text) {
  const std::string digits = Trim(text);
  std::uint32_t value = 0;
  const char* end = digits.data() + digits.size();
  auto [ptr, ec] = std::from_chars(digits.data(), end, value);
  if (digits.empty() || ec != std::errc() || ptr != end) {
    throw EIBClientError(94, kBadStartParams);
  }
  return value;
}

}  // namespace

std::string BuildServiceParams(const std::vector<std::string>& params) {
  std::string spb;
  spb.push_back(static_cast<char>(isc_spb_version));
  spb.push_back(static_cast<char>(isc_spb_current_version));
  for (const std::string& line : params) {
    const std::size_t equals = line.find('=');
    const std::string namePart = line.substr(0, equals);
    if (Trim(namePart).empty()) {
      continue;
    }
    std::string key = Lower(namePart);
    if (key.starts_with("isc_spb_")) {
      key.erase(0, 8);
    }
    const std::string value = equals == std::string::npos ? std::string() : line.substr(equals + 1);
    const auto known = std::find_if(std::begin(kSpbNames), std::end(kSpbNames),
                                    [&key](const SpbName& entry) { return key == entry.name; });
    if (known == std::end(kSpbNames)) {
      throw EIBClientError(89, kUnknownSpb);
    }
    if (known->code != isc_spb_user_name && known->code != isc_spb_password &&
        known->code != isc_spb_sql_role_name) {
      throw EIBClientError(88, kUnsupportedSpb);
    }
    // The value's length travels in one byte: a longer value would corrupt the
    // block, so it is refused instead of being cut.
    if (value.size() > 255) {
      throw EIBClientError(88, kUnsupportedSpb);
    }
    spb.push_back(static_cast<char>(known->code));
    spb.push_back(static_cast<char>(value.size()));
    spb += value;
  }
  return spb;
}

void AppendTextItem(std::string& request, std::uint8_t code, const std::string& text) {
  if (text.empty()) {
    return;
  }
  // A path never comes near 64 KiB; a longer text is refused rather than cut.
  if (text.size() > 0xFFFF) {
    throw EIBClientError(94, kBadStartParams);
  }
  request.push_back(static_cast<char>(code));
  request.push_back(static_cast<char>(text.size() & 0xFF));
  request.push_back(static_cast<char>((text.size() >> 8) & 0xFF));
  request += text;
}

void AppendNumberItem(std::string& request, std::uint8_t code, std::uint32_t value) {
  request.push_back(static_cast<char>(code));
  for (int shift = 0; shift < 32; shift += 8) {
    request.push_back(static_cast<char>((value >> shift) & 0xFF));
  }
}

void AppendFileItems(std::string& request, const std::vector<std::string>& lines,
                     std::uint8_t nameCode, std::uint8_t lengthCode) {
  for (const std::string& line : lines) {
    if (Trim(line).empty()) {
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) {
      AppendTextItem(request, nameCode, line);
    } else {
      const std::uint32_t length = ParseLength(line.substr(equals + 1));
      AppendTextItem(request, nameCode, line.substr(0, equals));
      AppendNumberItem(request, lengthCode, length);
    }
  }
}

std::string BuildOnlineValidationRequest(const std::string& databaseName) {
  if (databaseName.empty()) {
    throw EIBClientError(94, kBadStartParams);
  }
  std::string request(1, static_cast<char>(isc_action_svc_validate));
  AppendTextItem(request, isc_spb_dbname, databaseName);
  return request;
}

std::string BuildRepairRequest(const std::string& databaseName, const TValidateOptions& options) {
  if (databaseName.empty()) {
    throw EIBClientError(94, kBadStartParams);
  }
  std::string request(1, static_cast<char>(isc_action_svc_repair));
  AppendTextItem(request, isc_spb_dbname, databaseName);

  std::uint32_t first = 0;
  if (options.Contains(TValidateOption::SweepDB)) {
    first |= isc_spb_rpr_sweep_db;
  }
  if (options.Contains(TValidateOption::ValidateDB)) {
    first |= isc_spb_rpr_validate_db;
  }
  if (first != 0) {
    AppendNumberItem(request, isc_spb_options, first);
  }

  std::uint32_t second = 0;
  if (options.Contains(TValidateOption::LimboTransactions)) {
    second |= isc_spb_rpr_list_limbo_trans;
  }
  if (options.Contains(TValidateOption::CheckDB)) {
    second |= isc_spb_rpr_check_db;
  }
  if (options.Contains(TValidateOption::IgnoreChecksum)) {
    second |= isc_spb_rpr_ignore_checksum;
  }
  if (options.Contains(TValidateOption::KillShadows)) {
    second |= isc_spb_rpr_kill_shadows;
  }
  if (options.Contains(TValidateOption::MendDB)) {
    second |= isc_spb_rpr_mend_db;
  }
  if (options.Contains(TValidateOption::ValidateFull)) {
    second |= isc_spb_rpr_full;
    if (!options.Contains(TValidateOption::MendDB)) {
      second |= isc_spb_rpr_validate_db;
    }
  }
  if (second != 0) {
    AppendNumberItem(request, isc_spb_options, second);
  }
  return request;
}

std::string BuildBackupRequest(const std::string& databaseName,
                               const std::vector<std::string>& backupFiles,
                               const TBackupOptions& options, bool verbose, int blockingFactor,
                               const std::string& skipDataPattern) {
  if (databaseName.empty()) {
    throw EIBClientError(94, kBadStartParams);
  }
  std::string request(1, static_cast<char>(isc_action_svc_backup));
  AppendTextItem(request, isc_spb_dbname, databaseName);
  std::uint32_t bits = options.Bits();
  if (options.Contains(TBackupOption::NoDatabaseTriggers)) {
    bits &= ~(1u << static_cast<int>(TBackupOption::NoDatabaseTriggers));
    bits |= isc_spb_bkp_no_triggers;
  }
  AppendNumberItem(request, isc_spb_options, bits);
  if (verbose) {
    request.push_back(static_cast<char>(isc_spb_verbose));
  }
  if (blockingFactor > 0) {
    AppendNumberItem(request, isc_spb_bkp_factor, static_cast<std::uint32_t>(blockingFactor));
  }
  AppendFileItems(request, backupFiles, isc_spb_bkp_file, isc_spb_bkp_length);
  AppendTextItem(request, isc_spb_bkp_skip_data, skipDataPattern);
  return request;
}

std::string BuildRestoreRequest(const std::vector<std::string>& databaseNames,
                                const std::vector<std::string>& backupFiles,
                                const TRestoreOptions& options, bool verbose, int pageSize,
                                int pageBuffers, const std::string& skipDataPattern) {
  std::string request(1, static_cast<char>(isc_action_svc_restore));
  AppendNumberItem(request, isc_spb_options, options.Bits() << 8);
  if (verbose) {
    request.push_back(static_cast<char>(isc_spb_verbose));
  }
  if (pageSize > 0) {
    AppendNumberItem(request, isc_spb_res_page_size, static_cast<std::uint32_t>(pageSize));
  }
  if (pageBuffers > 0) {
    AppendNumberItem(request, isc_spb_res_buffers, static_cast<std::uint32_t>(pageBuffers));
  }
  AppendFileItems(request, backupFiles, isc_spb_bkp_file, isc_spb_bkp_length);
  AppendFileItems(request, databaseNames, isc_spb_dbname, isc_spb_res_length);
  if (!skipDataPattern.empty()) {
    AppendTextItem(request, isc_spb_res_skip_data, skipDataPattern);
  }
  return request;
}

std::string BuildOnlineRequest(const std::string& databaseName) {
  if (databaseName.empty()) {
    throw EIBClientError(94, kBadStartParams);
  }
  std::string request(1, static_cast<char>(isc_action_svc_properties));
  AppendTextItem(request, isc_spb_dbname, databaseName);
  AppendNumberItem(request, isc_spb_options, isc_spb_prp_db_online);
  return request;
}

std::string BuildShutdownRequest(const std::string& databaseName) {
  if (databaseName.empty()) {
    throw EIBClientError(94, kBadStartParams);
  }
  std::string request(1, static_cast<char>(isc_action_svc_properties));
  AppendTextItem(request, isc_spb_dbname, databaseName);
  // The mode is a one-byte item; the wait for others to leave a number.
  request.push_back(static_cast<char>(isc_spb_prp_shutdown_mode));
  request.push_back(static_cast<char>(isc_spb_prp_sm_single));
  AppendNumberItem(request, isc_spb_prp_force_shutdown, 0);
  return request;
}

OutputAnswer ParseOutputLine(const char* answer, std::size_t size, std::string& line) {
  if (size < 4 || static_cast<unsigned char>(answer[0]) != isc_info_svc_line) {
    return OutputAnswer::Malformed;
  }
  // Same decoding as isc_vax_integer: little endian, the last byte signed.
  const int length =
      static_cast<unsigned char>(answer[1]) | (static_cast<signed char>(answer[2]) << 8);
  if (length < 0 || static_cast<std::size_t>(length) + 3 >= size ||
      static_cast<unsigned char>(answer[3 + length]) != isc_info_end) {
    return OutputAnswer::Malformed;
  }
  if (length == 0) {
    line.clear();
    return OutputAnswer::End;
  }
  const char* text = answer + 3;
  line.assign(text, std::find(text, text + length, '\0'));
  return OutputAnswer::Line;
}

}  // namespace fbdetail
