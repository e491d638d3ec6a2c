// Linked into every test program: the Firebird client is ended once the
// tests have run. Left to the library's own exit handler, its thread would
// still be ending while LeakSanitizer stops the threads at exit, which now
// and then crashes LeakSanitizer itself.
#include <gtest/gtest.h>

#include "fbaccess/ClientLibrary.h"

namespace {

class EndClientAtExit : public ::testing::Environment {
 public:
  void TearDown() override { ClientLibrary::EndClient(); }
};

// GoogleTest owns and deletes the environment.
[[maybe_unused]] const ::testing::Environment* const kEndClient =
    ::testing::AddGlobalTestEnvironment(new EndClientAtExit);

}  // namespace
