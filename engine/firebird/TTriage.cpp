#include "engine/firebird/TTriage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/files/TReadOnlyFile.h"
#include "engine/firebird/TServerDialect.h"

namespace {

// The server's own layout of the file.
using Disk = TServerDialect::OnDisk;

unsigned ReadU16(const std::vector<unsigned char>& bytes, std::size_t offset) {
  return static_cast<unsigned>(bytes[offset] | bytes[offset + 1] << 8);
}

bool ValidPageSize(std::uint32_t size) {
  for (std::uint32_t known = 1024; known <= 32768; known *= 2) {
    if (size == known) {
      return true;
    }
  }
  return false;
}

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

TTriage::Result Unreadable(TTriage::Result result, const std::string& path, int error) {
  result.verdict = TTriage::Verdict::UnreadableHeader;
  result.reason =
      "Não foi possível ler o cabeçalho de " + Quoted(path) + ": " + std::strerror(error) + ".";
  return result;
}

}  // namespace

TTriage::Result TTriage::Examine(const std::string& path) {
  Result result;
  const TReadOnlyFile file(path);
  if (file.Get() < 0) {
    return Unreadable(result, path, errno);
  }
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0) {
    return Unreadable(result, path, errno);
  }
  result.fileSize = static_cast<std::uint64_t>(info.st_size);

  std::vector<unsigned char> header(Disk::kHeaderBytes);
  const ssize_t got = file.ReadAt(header, 0);
  if (got < 0) {
    return Unreadable(result, path, errno);
  }
  if (static_cast<std::size_t>(got) < header.size() || header[0] != Disk::kHeaderPageType ||
      !ValidPageSize(static_cast<std::uint32_t>(ReadU16(header, Disk::kPageSizeOffset)))) {
    result.verdict = Verdict::NotADatabase;
    result.reason = Quoted(path) +
                    " não é um banco de dados Firebird: a primeira página não é "
                    "um cabeçalho de banco de dados.";
    return result;
  }
  result.pageSize = ReadU16(header, Disk::kPageSizeOffset);
  const unsigned ods = ReadU16(header, Disk::kOdsOffset);
  result.odsMajor = static_cast<int>(ods & ~Disk::kFirebirdFlag);
  result.odsMinor = static_cast<int>(ReadU16(header, Disk::kOdsMinorOffset));
  result.pagesInFile = result.fileSize / result.pageSize;
  const std::string version =
      std::to_string(result.odsMajor) + "." + std::to_string(result.odsMinor);
  if ((ods & Disk::kFirebirdFlag) == 0 || result.odsMajor != Disk::kOdsFirebird3) {
    result.verdict = Verdict::UnsupportedStructure;
    result.reason = Quoted(path) + " tem estrutura em disco versão " + version +
                    ", que o Firebird 3 não abre (ele abre só a versão 12).";
    return result;
  }

  // Walks the inventory pages: each one that exists lists which of its pages
  // are in use; the next one exists when the current one has its page in use.
  const std::uint32_t perInventory = PagesPerInventory(result.pageSize);
  std::vector<unsigned char> page(result.pageSize);
  std::uint64_t highestInUse = 0;
  for (std::uint64_t sequence = 0;; ++sequence) {
    const std::uint64_t first = sequence * perInventory;
    const std::uint64_t inventory = sequence == 0 ? 1 : first - 1;
    if (inventory >= result.pagesInFile) {
      break;  // it lies past the end: the previous inventory counted it in use
    }
    const ssize_t read = file.ReadAt(page, inventory * result.pageSize);
    if (read < 0) {
      return Unreadable(result, path, errno);
    }
    if (static_cast<std::size_t>(read) < page.size()) {
      break;  // the file shrank while being read: the size check below tells
    }
    if (page[0] != Disk::kInventoryPageType) {
      result.verdict = Verdict::BrokenPageInventory;
      result.reason = "A página " + std::to_string(inventory) + " de " + Quoted(path) +
                      " devia ser um inventário de páginas e não é (tipo " +
                      std::to_string(page[0]) +
                      "): a validação e o reparo do Firebird não terminam num arquivo assim.";
      return result;
    }
    bool nextExists = false;
    for (std::uint32_t bit = 0; bit < perInventory; ++bit) {
      const bool free = (page[kInventoryBitsOffset + bit / 8] >> (bit % 8)) & 1;
      if (!free) {
        highestInUse = first + bit;
        nextExists = bit == perInventory - 1;
      }
    }
    if (!nextExists) {
      break;
    }
  }
  result.pagesInUse = highestInUse + 1;

  if (result.pagesInUse > result.pagesInFile) {
    result.verdict = Verdict::Truncated;
    result.reason = Quoted(path) + " está truncado: tem " + std::to_string(result.pagesInFile) +
                    " páginas de " + std::to_string(result.pageSize) +
                    " bytes, mas o inventário marca em uso a página " +
                    std::to_string(highestInUse) + ".";
    return result;
  }
  result.verdict = Verdict::Healthy;
  result.reason = Quoted(path) + ": páginas de " + std::to_string(result.pageSize) +
                  " bytes, estrutura em disco " + version + ", " +
                  std::to_string(result.pagesInUse) + " páginas em uso de " +
                  std::to_string(result.pagesInFile) + " no arquivo.";
  return result;
}
