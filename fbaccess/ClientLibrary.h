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
  // "Biblioteca <file> não encontrada. ...") when it cannot be loaded, and
  // EIBClientError (index 1, the loader's own text) when a required entry point
  // is missing; the binding then stays unbound and the next call tries again.
  static void Bind();

  // True once Bind succeeded.
  static bool Bound();

  // 6 when the client exports isc_rollback_retaining, else 5. Binds first.
  static int Version();

  // The client library ends every connection of the process when it gets
  // SIGINT or SIGTERM. A program that handles those signals itself (to stop
  // its work cleanly, waiting for the server) asks it not to. Binds first;
  // false when the client offers no way to ask (fb_shutdown_callback).
  static bool KeepConnectionsOnSignal();

  // The three flags that shape the text of a failed client call: the SQL code
  // line (off by default), the server's message lines (on) and the SQL message
  // (on, but never consulted). Read under one process-wide lock.
  struct ErrorMessageFlags {
    bool sqlCode = false;
    bool engineMessage = true;
    bool sqlMessage = true;
  };
  static ErrorMessageFlags ErrorMessages();
  static void SetErrorMessages(const ErrorMessageFlags& flags);
};
