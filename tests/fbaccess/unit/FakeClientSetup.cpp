// Every test of this program talks to the fake client: name it before anything
// binds the client library.

#include "fbaccess/ClientLibrary.h"

namespace {

const bool kFakeClientNamed = [] {
  ClientLibrary::UseLibraryFile(FAKE_CLIENT_LIBRARY);
  return true;
}();

}  // namespace
