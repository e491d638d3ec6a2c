// Databases built through the real server, read back from their pages and
// compared row for row with the server's own select *.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBQuery.h"
#include "fbaccess/TIBTransaction.h"
#include "pages/TInspection.h"
#include "pages/TTableReader.h"
#include "support/FixtureDatabase.h"
#include "support/PageDamage.h"
#include "support/ServerTools.h"
#include "support/StoredTextAttachment.h"
#include "support/TestFolder.h"

using namespace testsupport;

namespace {

struct TRows {
  std::vector<std::string> columns;
  std::vector<std::vector<TValue>> rows;
};

const std::vector<std::string> kTables = {"ALLTYPES", "WIDE", "VERSIONED", "CHURN"};

// Every column type the access layer knows, text in two character sets with
// bytes outside ASCII, NULLs, rows too long for one page and a table altered
// between inserts. Updates and deletions come later (ChangeScript), while an
// older snapshot keeps their back versions from the garbage collector.
std::string Script() {
  std::string s =
      "create table ALLTYPES (ID integer not null primary key, S smallint, I integer,"
      " B bigint, F float, D double precision, N1 numeric(4,1), N2 numeric(9,2),"
      " N3 numeric(18,4), N4 numeric(18,6), DT date, TM time, TS timestamp, C char(10),"
      " CU char(5) character set UTF8, V varchar(40) character set WIN1252,"
      " VU varchar(30) character set UTF8, BL blob sub_type text character set UTF8,"
      " BB blob sub_type binary, BO boolean);\n"
      "create table WIDE (ID integer not null primary key, T1 varchar(8000), T2 varchar(8000));\n"
      "create table VERSIONED (ID integer not null, A varchar(10));\n"
      "create table CHURN (K integer not null, V varchar(60), constraint PK_CHURN primary key "
      "(K));\n"
      "commit;\n";
  s += FixtureDatabase::FillScript(
      "insert into ALLTYPES values (:i, :i - 150, :i * 1000 - 7, :i * 100000000000 + 3,"
      " :i / 7.0, :i / 3.0, :i / 10.0, :i * 1.25 - 99, :i * 3.1415, -:i / 1000000.0,"
      " dateadd(:i * 37 day to date '1899-01-01'), dateadd(:i * 313 second to time '00:00:00'),"
      " dateadd(:i * 1234567 second to timestamp '1990-05-06 07:08:09.1234'),"
      " 'c' || :i, _UTF8 x'C3A7', _WIN1252 x'6F6CE1' || :i, _UTF8 x'E282AC' || :i,"
      " 'texto ' || :i, x'00FF10' || :i, mod(:i, 2) = 0)",
      300);
  s += "insert into ALLTYPES (ID) values (1000);\n";
  // Level 1 text blob: longer than a page, shorter than a page of page numbers.
  s += "insert into ALLTYPES (ID, BL) values (1001, lpad('', 30000, 'ábc'));\n";
  s += FixtureDatabase::FillScript(
      "insert into WIDE values (:i, lpad('', 7000, uuid_to_char(gen_uuid())),"
      " case when mod(:i, 3) = 0 then null else lpad('', 6500, uuid_to_char(gen_uuid())) end)",
      40);
  s += FixtureDatabase::FillScript("insert into VERSIONED values (:i, 'v1-' || :i)", 50);
  s += "alter table VERSIONED add B integer default 7 not null;\ncommit;\n";
  s += FixtureDatabase::FillScript("insert into VERSIONED values (100 + :i, 'v2-' || :i, :i)", 50);
  s += "alter table VERSIONED add C varchar(20);\nalter table VERSIONED alter A type varchar(30);\n"
       "commit;\n";
  s += FixtureDatabase::FillScript(
      "insert into VERSIONED values (200 + :i, 'v3-a-longer-text-' || :i, :i, 'c' || :i)", 50);
  s += "alter table VERSIONED drop A;\ncommit;\n";
  s += FixtureDatabase::FillScript("insert into VERSIONED values (300 + :i, :i, 'd' || :i)", 50);
  s += FixtureDatabase::FillScript("insert into CHURN values (:i, 'first ' || :i)", 400);
  return s;
}

std::string ChangeScript() {
  return "update CHURN set V = 'second ' || K where mod(K, 2) = 0;\ncommit;\n"
         "update CHURN set V = 'third ' || K where mod(K, 4) = 0;\ncommit;\n"
         "update WIDE set T1 = 'short now' where mod(ID, 4) = 1;\ncommit;\n"
         "update WIDE set T2 = lpad('', 7900, uuid_to_char(gen_uuid())) where mod(ID, 4) = 2;\n"
         "commit;\n"
         "update ALLTYPES set V = 'changed', N2 = 1.5 where mod(ID, 5) = 0;\ncommit;\n"
         "update VERSIONED set C = 'after' where mod(ID, 3) = 0;\ncommit;\n"
         "delete from CHURN where mod(K, 10) = 3;\ncommit;\n"
         "delete from ALLTYPES where mod(ID, 17) = 0;\ncommit;\n"
         "update CHURN set V = 'never' where K < 10;\nrollback;\n";
}

using testsupport::StoredTextAttachment;

// A level 2 blob at 4 KiB pages (more data pages than one page of page
// numbers holds), written through the access layer.
void InsertBigBlob(const std::string& path) {
  StoredTextAttachment c(path);
  c.tr.Start();
  TBytes data(6000000);
  std::uint32_t x = 12345;
  for (std::uint8_t& b : data) {
    x = x * 1103515245 + 12345;
    b = std::uint8_t(x >> 16);
  }
  TIBQuery q;
  q.SetDatabase(&c.db);
  q.SQL().SetText("insert into ALLTYPES (ID, BB) values (2000, :B)");
  q.ParamNamed("B").SetValue(TValue(std::move(data)));
  q.ExecQuery();
  c.tr.Commit();
}

TRows ServerRows(const std::string& path, const std::string& table) {
  StoredTextAttachment c(path);
  TIBQuery q;
  q.SetDatabase(&c.db);
  q.SQL().SetText("select * from " + table);
  q.Open();
  TRows out;
  for (int i = 0; i < q.FieldCount(); ++i) {
    out.columns.push_back(q.Fields(i).Name());
  }
  while (!q.AtEnd()) {
    std::vector<TValue> row;
    for (int i = 0; i < q.FieldCount(); ++i) {
      row.push_back(q.Fields(i).Value());
    }
    out.rows.push_back(std::move(row));
    q.Next();
  }
  q.Close();
  return out;
}

TRows PageRows(TTableReader& reader, const std::string& table, TReadCounts* counts = nullptr) {
  TRows out;
  const TReadCounts c = reader.Read(table, [&](const TRow& row) {
    out.columns = row.columns;
    out.rows.push_back(row.values);
  });
  if (counts != nullptr) {
    *counts = c;
  }
  return out;
}

void ExpectSameRows(const TRows& server, const TRows& pages, const std::string& table) {
  ASSERT_EQ(pages.rows.size(), server.rows.size()) << table;
  if (!pages.rows.empty()) {
    EXPECT_EQ(pages.columns, server.columns) << table;
  }
  for (std::size_t r = 0; r < server.rows.size(); ++r) {
    for (std::size_t c = 0; c < server.columns.size(); ++c) {
      ASSERT_EQ(pages.rows[r][c], server.rows[r][c])
          << table << " row " << r << " column " << server.columns[c] << ": pages '"
          << pages.rows[r][c].AsString() << "', server '" << server.rows[r][c].AsString() << "'";
    }
  }
}

// One database per page size, built once and shared by the tests.
struct TBuilt {
  std::unique_ptr<TestFolder> folder;
  std::string path;
  std::map<std::string, TRows> server;
};

const TBuilt& Built(std::uint32_t pageSize) {
  static std::map<std::uint32_t, TBuilt> built;
  TBuilt& b = built[pageSize];
  if (!b.folder) {
    b.folder = std::make_unique<TestFolder>("tessarine-pages");
    b.path = b.folder->File("PAGES.FDB");
    PageDamage::Create(b.path, pageSize, Script());
    InsertBigBlob(b.path);
    {
      // Holds a snapshot from before the changes until the server has given
      // its rows, so the back versions stay on the pages.
      StoredTextAttachment older(b.path);
      older.tr.SetParams({"concurrency", "nowait"});
      older.tr.Start();
      TIBQuery q;
      q.SetDatabase(&older.db);
      q.SQL().SetText("select count(*) from CHURN");
      q.Open();
      q.Close();
      FixtureDatabase(b.path).Execute(ChangeScript());
      for (const std::string& table : kTables) {
        b.server[table] = ServerRows(b.path, table);
      }
    }
    // The server writes its cache out when the last attachment ends.
    EXPECT_TRUE(ServerTools::WaitUntilReleased(b.path));
  }
  return b;
}

class PageReaderIntegration : public ::testing::TestWithParam<std::uint32_t> {};

}  // namespace

TEST_P(PageReaderIntegration, EveryTableMatchesTheServersSelect) {
  const TBuilt& built = Built(GetParam());
  ASSERT_GT(built.server.at("ALLTYPES").rows.size(), 250u);
  TTableReader reader(built.path);
  EXPECT_EQ(reader.Pages().PageSize(), GetParam());
  EXPECT_TRUE(reader.SystemTablesIntact());
  for (const std::string& table : kTables) {
    TReadCounts counts;
    const TRows pages = PageRows(reader, table, &counts);
    ExpectSameRows(built.server.at(table), pages, table);
    EXPECT_TRUE(counts.tipUsed);
    if (table == "CHURN" || table == "WIDE") {
      EXPECT_GT(counts.backVersionsSkipped, 0u) << table;
      EXPECT_GT(counts.deletedRecords + (table == "WIDE" ? 1 : 0), 0u) << table;
    }
    EXPECT_EQ(counts.recordsUndecodable, 0u) << table;
    EXPECT_EQ(counts.blobsUnreadable, 0u) << table;
    EXPECT_EQ(counts.pagesDamaged, 0u) << table;
  }
  EXPECT_EQ(reader.Schema().Find("ALLTYPES")->primaryKey, std::vector<std::string>{"ID"});
  EXPECT_EQ(reader.Schema().Find("CHURN")->primaryKey, std::vector<std::string>{"K"});
  EXPECT_TRUE(reader.Schema().Find("VERSIONED")->primaryKey.empty());
  EXPECT_GE(reader.Schema().Find("VERSIONED")->formats.size(), 4u);
}

TEST_P(PageReaderIntegration, ValuesKeepTheirStoredBytesAndTypes) {
  const TBuilt& built = Built(GetParam());
  TTableReader reader(built.path);
  std::map<std::string, TValue> row;
  std::size_t bigBlob = 0;
  std::string level1;
  reader.Read("ALLTYPES", [&](const TRow& r) {
    if (r.values[0] == TValue(1)) {
      for (std::size_t i = 0; i < r.columns.size(); ++i) {
        row[r.columns[i]] = r.values[i];
      }
    }
    if (r.values[0] == TValue(1001)) {
      level1 = r.values[17].AsString();
    }
    if (r.values[0] == TValue(2000)) {
      bigBlob = r.values[18].Get<TBytes>() ? r.values[18].Get<TBytes>()->size() : 0;
    }
  });
  EXPECT_EQ(row["S"], TValue(std::int16_t(-149)));
  EXPECT_EQ(row["B"], TValue(100000000003LL));
  EXPECT_EQ(row["N2"], TValue(TDecimal{-977500}));  // 1.25 - 99
  EXPECT_EQ(row["V"], TValue(std::string("ol\xE1"
                                         "1")));  // WIN1252 bytes
  EXPECT_EQ(row["VU"], TValue(std::string("\xE2\x82\xAC"
                                          "1")));
  EXPECT_EQ(row["CU"], TValue(std::string("\xC3\xA7") + std::string(18, ' ')));  // 5 × 4 bytes
  EXPECT_EQ(row["C"], TValue(std::string("c1") + std::string(8, ' ')));
  EXPECT_EQ(row["DT"], TValue(TDate{1899, 2, 7}));
  EXPECT_EQ(row["BO"], TValue(false));
  EXPECT_EQ(bigBlob, 6000000u);
  EXPECT_EQ(level1.size(), 30000u);
}

INSTANTIATE_TEST_SUITE_P(PageSizes, PageReaderIntegration, ::testing::Values(4096u, 16384u));

// Damage written into copies of the 4 KiB database; rows on undamaged data
// pages must all come out, and the examination must name the damage.
class PageDamageIntegration : public ::testing::Test {
 protected:
  std::string DamagedCopy(const std::string& name) {
    const std::string copy = folder_.File(name);
    PageDamage::Copy(Built(4096).path, copy);
    return copy;
  }
  void ExpectAllRows(TTableReader& reader) {
    for (const std::string& table : kTables) {
      ExpectSameRows(Built(4096).server.at(table), PageRows(reader, table), table);
    }
  }
  static bool Listed(const TInspectionResult& r, std::uint32_t page) {
    for (const TInspectedPage& d : r.damaged) {
      if (d.page == page) {
        return true;
      }
    }
    return false;
  }
  static std::uint64_t Readable(const TInspectionResult& r, const std::string& table) {
    for (const TInspectedTable& t : r.tables) {
      if (t.name == table) {
        return t.records;
      }
    }
    return 0;
  }
  void ExpectInspection(const std::string& file, std::uint32_t page, int level) {
    const TInspectionResult r = TInspection::Run(file);
    EXPECT_TRUE(Listed(r, page)) << r.ToJson();
    EXPECT_EQ(r.level, level) << r.ToJson();
    for (const std::string& table : kTables) {
      EXPECT_EQ(Readable(r, table), Built(4096).server.at(table).rows.size()) << table;
    }
  }

  TestFolder folder_{"tessarine-pages-damage"};
};

TEST_F(PageDamageIntegration, ZeroedHeaderPage) {
  const std::string file = DamagedCopy("HEADER.FDB");
  PageDamage::ZeroPage(file, 0);
  TTableReader reader(file);
  EXPECT_FALSE(reader.Pages().HeaderValid());
  EXPECT_EQ(reader.Pages().PageSize(), 4096u);
  ExpectAllRows(reader);
  ExpectInspection(file, 0, 3);
}

TEST_F(PageDamageIntegration, ZeroedTransactionInventory) {
  const std::string file = DamagedCopy("TIP.FDB");
  const std::uint32_t tip =
      std::uint32_t(std::stoul(FixtureDatabase(Built(4096).path)
                                   .Value("select min(RDB$PAGE_NUMBER) from "
                                          "RDB$PAGES where RDB$PAGE_TYPE = 3")));
  ASSERT_TRUE(ServerTools::WaitUntilReleased(Built(4096).path));
  PageDamage::ZeroPage(file, tip);
  TTableReader reader(file);
  EXPECT_FALSE(reader.Pages().Inventory().Usable());
  TReadCounts counts;
  PageRows(reader, "CHURN", &counts);
  EXPECT_FALSE(counts.tipUsed);
  ExpectAllRows(reader);
  ExpectInspection(file, tip, 3);
}

TEST_F(PageDamageIntegration, ZeroedPointerPage) {
  const std::string file = DamagedCopy("POINTER.FDB");
  const std::vector<std::uint32_t> pointers =
      PageDamage::PointerPages(FixtureDatabase(Built(4096).path), "ALLTYPES");
  ASSERT_FALSE(pointers.empty());
  ASSERT_TRUE(ServerTools::WaitUntilReleased(Built(4096).path));
  PageDamage::ZeroPage(file, pointers[0]);
  TTableReader reader(file);
  TReadCounts counts;
  PageRows(reader, "ALLTYPES", &counts);
  EXPECT_TRUE(counts.pagesScanned);
  EXPECT_EQ(counts.pagesDamaged, 1u);
  ExpectAllRows(reader);
  // The server still opens the file; the repair rebuilds the table from its pages.
  ExpectInspection(file, pointers[0], 2);
  const TInspectionResult r = TInspection::Run(file);
  ASSERT_FALSE(r.verdict.empty());
  EXPECT_NE(r.verdict[0].find("páginas de ponteiros danificadas (tabelas ALLTYPES)"),
            std::string::npos)
      << r.verdict[0];
  EXPECT_EQ(r.verdict.size(), 2u);  // no data page lost
}

TEST_F(PageDamageIntegration, ZeroedRelationFieldsPageTakesTheSchemaFromAnotherCopy) {
  const std::string file = DamagedCopy("FIELDS.FDB");
  // The last data page of RDB$RELATION_FIELDS holds the user tables' columns.
  TTableReader healthy(Built(4096).path);
  TReadCounts ignored;
  const auto fieldPages = healthy.Pages().DataPages(5, ignored);
  ASSERT_FALSE(fieldPages.empty());
  const std::uint32_t page = fieldPages.back().page;
  PageDamage::ZeroPage(file, page);

  TTableReader alone(file);
  EXPECT_FALSE(alone.SystemTablesIntact());
  TTableReader reader(file, healthy.Schema());
  ExpectAllRows(reader);

  const TInspectionResult r = TInspection::Run(file, healthy.Schema());
  EXPECT_TRUE(Listed(r, page)) << r.ToJson();
  EXPECT_EQ(r.level, 3);
  EXPECT_FALSE(r.systemTablesIntact);
  EXPECT_EQ(Readable(r, "CHURN"), Built(4096).server.at("CHURN").rows.size());
}

TEST_F(PageDamageIntegration, ZeroedDataPageLosesOnlyItsRows) {
  const std::string file = DamagedCopy("DATA.FDB");
  TTableReader healthy(Built(4096).path);
  TReadCounts ignored;
  const auto pages = healthy.Pages().DataPages(healthy.Schema().Find("CHURN")->relationId, ignored);
  ASSERT_GE(pages.size(), 3u);
  std::size_t onPage = 0;
  healthy.Read("CHURN", [&](const TRow& row) { onPage += row.page == pages[1].page ? 1 : 0; });
  ASSERT_GT(onPage, 0u);
  PageDamage::ZeroPage(file, pages[1].page);

  TTableReader reader(file);
  TReadCounts counts;
  const TRows rows = PageRows(reader, "CHURN", &counts);
  EXPECT_EQ(rows.rows.size(), Built(4096).server.at("CHURN").rows.size() - onPage);
  EXPECT_EQ(counts.pagesDamaged, 1u);

  const TInspectionResult r = TInspection::Run(file);
  EXPECT_TRUE(Listed(r, pages[1].page));
  EXPECT_EQ(r.level, 2) << r.ToJson();
  EXPECT_EQ(Readable(r, "CHURN"), rows.rows.size());
  EXPECT_EQ(Readable(r, "ALLTYPES"), Built(4096).server.at("ALLTYPES").rows.size());
}
