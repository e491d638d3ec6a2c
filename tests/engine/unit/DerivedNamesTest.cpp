// Names of the files a run writes next to the database.

#include <gtest/gtest.h>

#include "engine/files/DerivedNames.h"

namespace {

std::tm At(int hour, int minute) {
  std::tm when{};
  when.tm_year = 2027 - 1900;
  when.tm_mon = 1;
  when.tm_mday = 1;
  when.tm_hour = hour;
  when.tm_min = minute;
  return when;
}

TEST(DerivedNames, LowerCaseDatabaseKeepsItsPathAndGetsTheFixedTexts) {
  const std::string db = "/srv/dados/empresa.fdb";
  EXPECT_EQ(CopyPathFor(db), "/srv/dados/empresa (Copia).FDB");
  const std::string backup = BackupFilePathFor(db, At(9, 5));
  EXPECT_EQ(backup, "/srv/dados/empresa 01-02-2027 09-05.fbk");
  EXPECT_EQ(RestoredPathFor(backup), "/srv/dados/empresa 01-02-2027 09-05.FDB");
  EXPECT_EQ(OldPathFor(db), "/srv/dados/empresa-OLD.FDB");
  EXPECT_EQ(TemporaryPathFor(db), "/srv/dados/empresa-TEMP.FDB");
}

TEST(DerivedNames, HourIsOnTheTwentyFourHourClockAndDatePartsArePadded) {
  std::tm when = At(21, 30);
  EXPECT_EQ(BackupFilePathFor("/d/e.fdb", when), "/d/e 01-02-2027 21-30.fbk");
  when.tm_mday = 31;
  when.tm_mon = 11;
  when.tm_hour = 0;
  when.tm_min = 0;
  EXPECT_EQ(BackupFilePathFor("/d/e.fdb", when), "/d/e 31-12-2027 00-00.fbk");
}

TEST(DerivedNames, MixedCaseExtensionIsFoundAndTheRestOfThePathKept) {
  const std::string db = "/srv/Dados/Empresa.FdB";
  EXPECT_EQ(CopyPathFor(db), "/srv/Dados/Empresa (Copia).FDB");
  const std::string backup = BackupFilePathFor(db, At(9, 5));
  EXPECT_EQ(backup, "/srv/Dados/Empresa 01-02-2027 09-05.fbk");
  EXPECT_EQ(RestoredPathFor(backup), "/srv/Dados/Empresa 01-02-2027 09-05.FDB");
  EXPECT_EQ(RestoredPathFor("/b/Old.FbK"), "/b/Old.FDB");
  EXPECT_EQ(OldPathFor(db), "/srv/Dados/Empresa-OLD.FDB");
}

TEST(DerivedNames, AFolderNamedLikeADatabaseNeverChanges) {
  const std::string db = "/srv/copias.fdb/empresa.fdb";
  EXPECT_EQ(CopyPathFor(db), "/srv/copias.fdb/empresa (Copia).FDB");
  EXPECT_EQ(OldPathFor(db), "/srv/copias.fdb/empresa-OLD.FDB");
  EXPECT_EQ(TemporaryPathFor(db), "/srv/copias.fdb/empresa-TEMP.FDB");
  const std::string backup = BackupFilePathFor(db, At(9, 5));
  EXPECT_EQ(backup, "/srv/copias.fdb/empresa 01-02-2027 09-05.fbk");
  EXPECT_EQ(RestoredPathFor(backup), "/srv/copias.fdb/empresa 01-02-2027 09-05.FDB");
  // A name that is only the ending keeps it: no name may be the bare suffix.
  EXPECT_EQ(CopyPathFor("/srv/.fdb"), "/srv/.fdb (Copia).FDB");
}

TEST(DerivedNames, NumberedVariantsOfEveryName) {
  EXPECT_EQ(OldPathFor("/d/e.fdb", 1), "/d/e-OLD.FDB");
  EXPECT_EQ(OldPathFor("/d/e.fdb", 2), "/d/e-OLD-2.FDB");
  EXPECT_EQ(OldPathFor("/d/e.fdb", 12), "/d/e-OLD-12.FDB");
  EXPECT_EQ(CopyPathFor("/d/e.fdb", 3), "/d/e (Copia)-3.FDB");
  EXPECT_EQ(RunStemFor("/d/e.fdb", At(9, 5), 2), "/d/e 01-02-2027 09-05-2");
  EXPECT_EQ(NewDatabasePathFor("/d/e.fdb", 2), "/d/e-NOVO-2.FDB");
}

TEST(DerivedNames, NamePartIsTheTextAfterTheLastSlash) {
  EXPECT_EQ(NamePart("/srv/dados/empresa (Copia).FDB"), "empresa (Copia).FDB");
  EXPECT_EQ(NamePart("empresa.fdb"), "empresa.fdb");
  EXPECT_EQ(NamePart("/srv/dados/"), "");
  EXPECT_EQ(NamePart("C:\\DADOS\\EMPRESA.FDB"), "C:\\DADOS\\EMPRESA.FDB");
}

}  // namespace
