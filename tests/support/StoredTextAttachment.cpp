#include "support/StoredTextAttachment.h"

#include "support/ServerTools.h"

namespace testsupport {

StoredTextAttachment::StoredTextAttachment(const std::string& path) {
  db.SetDefaultTransaction(&tr);
  tr.SetDefaultDatabase(&db);
  db.AddParam(std::string("user_name=") + ServerTools::kUser);
  db.AddParam(std::string("password=") + ServerTools::kPassword);
  db.AddParam("lc_ctype=NONE");
  db.SetLoginPrompt(false);
  db.SetDatabaseName("localhost:" + path);
  db.Open();
}

StoredTextAttachment::~StoredTextAttachment() {
  if (tr.Active()) {
    tr.Commit();
  }
  db.Close();
}

}  // namespace testsupport
