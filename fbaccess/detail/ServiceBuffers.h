#pragma once

// Private to the access layer: the byte layouts exchanged with the service
// manager (parameter block, start requests, output answers). Pure functions,
// no client library calls, so that the layouts can be checked on their own.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fbaccess/TServiceOptions.h"

namespace fbdetail {

// Service parameter block from "name=value" lines: 2, 2, then one item per
// line. Only user_name and password are supported; another known name fails
// with index 88, an unknown one with index 89.
std::string BuildServiceParams(const std::vector<std::string>& params);

// Text item: code, length as 16-bit little endian, bytes. An empty text adds
// nothing at all.
void AppendTextItem(std::string& request, std::uint8_t code, const std::string& text);

// Number item: code, value as 32-bit little endian.
void AppendNumberItem(std::string& request, std::uint8_t code, std::uint32_t value);

// File lines of a backup or restore: each non-blank line holding "=" gives a
// text item nameCode with the part before "=" and a number item lengthCode with
// the decimal number after it; any other line gives a text item with the whole
// line. A length that is not a number fails with index 94.
void AppendFileItems(std::string& request, const std::vector<std::string>& lines,
                     std::uint8_t nameCode, std::uint8_t lengthCode);

// Start requests of the service actions. A backup's `skipDataPattern` (a
// SIMILAR TO pattern matched against table names, letter case ignored) names
// the tables whose rows are left out, and a restore's the tables it restores
// empty; empty sends no such item. The online
// validation (isc_action_svc_validate) takes the database alone.
std::string BuildOnlineValidationRequest(const std::string& databaseName);
std::string BuildRepairRequest(const std::string& databaseName, const TValidateOptions& options);
std::string BuildBackupRequest(const std::string& databaseName,
                               const std::vector<std::string>& backupFiles,
                               const TBackupOptions& options, bool verbose, int blockingFactor,
                               const std::string& skipDataPattern = std::string());
std::string BuildRestoreRequest(const std::vector<std::string>& databaseNames,
                                const std::vector<std::string>& backupFiles,
                                const TRestoreOptions& options, bool verbose, int pageSize,
                                int pageBuffers,
                                const std::string& skipDataPattern = std::string());
std::string BuildOnlineRequest(const std::string& databaseName);
// Single-user shutdown at once: refused while anyone else is attached.
std::string BuildShutdownRequest(const std::string& databaseName);

// The answer to one isc_info_svc_line query.
enum class OutputAnswer { Line, End, Malformed };

// Reads the answer: 62, length n (16-bit little endian), n bytes, 1. The line
// stops at its first NUL byte.
OutputAnswer ParseOutputLine(const char* answer, std::size_t size, std::string& line);

}  // namespace fbdetail
