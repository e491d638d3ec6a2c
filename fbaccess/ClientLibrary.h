#pragma once

#include <string>

// The Firebird client library, bound at run time with dlopen on first need and
// kept until the process ends. This is the layer's only process-wide state.
class ClientLibrary {
 public:
  // The file loaded by the first binding: "libfbclient.so.2". Tests may name
  // another file (a fake client) before the first binding; later calls change
  // nothing once the library is bound.
  static void UseLibraryFile(const std::string& file);
  static std::string LibraryFile();

  // Binds the library when it is not bound yet. Throws EIBClientError (index 1,
  // "Biblioteca <file> não encontrada. ...") when it cannot be loaded.
  static void Bind();

  // 6 when the client exports isc_rollback_retaining, else 5.
  static int Version();
};
