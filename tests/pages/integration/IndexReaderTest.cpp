// Index b-trees the real server built, read from the file: every entry's key
// decodes to its row's key columns, and the rows a destroyed data page took
// are found through the primary key.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBQuery.h"
#include "fbaccess/TIBTransaction.h"
#include "pages/TIndexKey.h"
#include "pages/TIndexReader.h"
#include "pages/TRecordsGone.h"
#include "pages/TTableReader.h"
#include "pages/TValueDecoder.h"
#include "support/FixtureDatabase.h"
#include "support/PageDamage.h"
#include "support/ServerTools.h"
#include "support/StoredTextAttachment.h"
#include "support/TestFolder.h"

using namespace testsupport;

namespace {

using TKeys = std::map<std::uint64_t, std::vector<TValue>>;  // record number -> key

// A key as text with its values' kinds, to compare sets of keys.
std::string Text(const std::vector<TValue>& key) {
  std::string s;
  for (const TValue& v : key) {
    s += std::to_string(int(v.Kind())) + ":" + v.AsString() + "|";
  }
  return s;
}

const std::vector<std::string> kKeyed = {"KI", "KB", "KN", "KU", "KW", "KC"};

// Keys of every kind the decoder knows, negative numbers and dates before
// 1858 among them; KU's long UTF8 keys fill several leaf pages under a root.
std::string Script() {
  std::string s =
      "create table KI (ID integer not null primary key, PAD varchar(200));\n"
      "create table KB (ID bigint not null primary key);\n"
      "create table KN (ID numeric(15,2) not null primary key);\n"
      "create table KU (ID varchar(60) character set UTF8 not null primary key);\n"
      "create table KW (ID varchar(20) character set WIN1252 not null primary key);\n"
      "create table KC (A integer not null, B date not null, C varchar(12) not null,"
      " D smallint not null, E timestamp not null, F time not null, G numeric(9,2) not null,"
      " constraint PK_KC primary key (A, B, C, D, E, F, G));\n"
      "create table NOPK (ID integer not null, PAD varchar(200));\n"
      "create index NOPK_ID on NOPK (ID);\n"
      "commit;\n";
  s += FixtureDatabase::FillScript(
      "insert into KI values (:i * 7 - 1000, lpad('', 150, uuid_to_char(gen_uuid())))", 300);
  s +=
      FixtureDatabase::FillScript("insert into KB values (:i * 100000000007 - 5000000000000)", 300);
  // Not -2^63: the server writes the key of 0 for it.
  s += "insert into KB values (9223372036854775807);\n";
  s += FixtureDatabase::FillScript("insert into KN values ((:i - 150) * 1234567.89)", 300);
  s += "insert into KN values (9999999999999.99);\ninsert into KN values (-0.01);\n";
  s += FixtureDatabase::FillScript(
      "insert into KU values (lpad(:i, 4, '0') || _UTF8 x'C3A7C3A320E282AC' ||"
      " uuid_to_char(gen_uuid()) || _UTF8 x'F09F9880')",
      300);
  s += FixtureDatabase::FillScript("insert into KW values (_WIN1252 x'6F6CE120' || :i)", 300);
  s += FixtureDatabase::FillScript(
      "insert into KC values (mod(:i, 7), dateadd(:i * 11 day to date '1850-01-01'), 'c' || :i,"
      " :i - 150, dateadd(:i * 100003 second to timestamp '1855-06-01 10:00:00.1234'),"
      " dateadd(:i * 313 second to time '00:00:00'), (:i - 150) * 1.25)",
      300);
  s += FixtureDatabase::FillScript(
      "insert into NOPK values (mod(:i, 50), lpad('', 150, uuid_to_char(gen_uuid())))", 300);
  return s;
}

using testsupport::StoredTextAttachment;

std::set<std::string> ServerKeys(const std::string& path, const std::string& table,
                                 const std::vector<std::string>& columns) {
  std::string list;
  for (const std::string& c : columns) {
    list += (list.empty() ? "" : ", ") + c;
  }
  StoredTextAttachment c(path);
  TIBQuery q;
  q.SetDatabase(&c.db);
  q.SQL().SetText("select " + list + " from " + table);
  q.Open();
  std::set<std::string> keys;
  while (!q.AtEnd()) {
    std::vector<TValue> key;
    for (int i = 0; i < q.FieldCount(); ++i) {
      key.push_back(q.Fields(i).Value());
    }
    keys.insert(Text(key));
    q.Next();
  }
  q.Close();
  return keys;
}

// The key columns of every row the pages give, by record number.
TKeys PageKeys(TTableReader& reader, const std::string& table,
               const std::vector<std::string>& columns) {
  const std::uint16_t relation = reader.Schema().Find(table)->relationId;
  TReadCounts ignored;
  std::map<std::uint32_t, std::uint32_t> sequenceOf;
  for (const TSequencedPage& p : reader.Pages().DataPages(relation, ignored)) {
    sequenceOf[p.page] = p.sequence;
  }
  const std::uint32_t perPage = ods::MaxRecordsPerPage(reader.Pages().PageSize());
  TKeys keys;
  reader.Read(table, [&](const TRow& row) {
    std::vector<TValue> key;
    for (const std::string& c : columns) {
      const auto at = std::find(row.columns.begin(), row.columns.end(), c);
      key.push_back(row.values[std::size_t(at - row.columns.begin())]);
    }
    keys[std::uint64_t(sequenceOf.at(row.page)) * perPage + row.line] = key;
  });
  return keys;
}

struct TBuilt {
  std::unique_ptr<TestFolder> folder;
  std::string path;
  std::map<std::string, std::set<std::string>> server;
};

const TBuilt& Built() {
  static TBuilt b;
  if (!b.folder) {
    b.folder = std::make_unique<TestFolder>("tessarine-index");
    b.path = b.folder->File("INDEX.FDB");
    PageDamage::Create(b.path, 4096, Script());
    b.server["KC"] = ServerKeys(b.path, "KC", {"A", "B", "C", "D", "E", "F", "G"});
    for (const std::string& t : kKeyed) {
      if (t != "KC") {
        b.server[t] = ServerKeys(b.path, t, {"ID"});
      }
    }
    EXPECT_TRUE(ServerTools::WaitUntilReleased(b.path));
  }
  return b;
}

// Leaf pages of an index: b-tree pages of the relation at level 0.
std::vector<std::uint32_t> LeafPages(const std::string& file, std::uint16_t relation) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> page(4096);
  std::vector<std::uint32_t> leaves;
  for (std::uint32_t n = 0; in.read(page.data(), 4096); ++n) {
    const auto u8 = [&](std::size_t at) { return std::uint8_t(page[at]); };
    if (u8(0) == ods::kPageIndex && (u8(28) | u8(29) << 8) == relation && u8(33) == 0) {
      leaves.push_back(n);
    }
  }
  return leaves;
}

class IndexReaderIntegration : public ::testing::Test {
 protected:
  std::string DamagedCopy(const std::string& name) {
    const std::string copy = folder_.File(name);
    PageDamage::Copy(Built().path, copy);
    return copy;
  }
  TestFolder folder_{"tessarine-index-damage"};
};

}  // namespace

TEST_F(IndexReaderIntegration, EveryEntryDecodesToItsRowsKey) {
  const TBuilt& built = Built();
  TTableReader reader(built.path);
  TIndexReader indexes(reader.Pages());
  TValueDecoder values(reader.Pages());
  for (const std::string& table : kKeyed) {
    const TSchemaTable& schema = *reader.Schema().Find(table);
    const auto list = indexes.Indexes(schema.relationId);
    ASSERT_TRUE(list && list->size() == 1) << table;
    const TIndexDescriptor& index = list->front();
    EXPECT_TRUE(index.Primary()) << table;
    const TIndexKey key(index, schema.formats.rbegin()->second);
    ASSERT_TRUE(key.Decodable()) << table;

    const TKeys rows = PageKeys(reader, table, schema.primaryKey);
    std::set<std::string> decoded;
    TReadCounts counts;
    const TIndexWalk walk =
        indexes.Walk(schema.relationId, index, [&](std::uint64_t number, ods::TBytesView bytes) {
          const auto fields = key.Fields(bytes);
          ASSERT_TRUE(fields) << table << " record " << number;
          std::vector<TValue> k;
          for (std::size_t i = 0; i < fields->size(); ++i) {
            k.push_back(values.FromBytes(key.Descriptors()[i], (*fields)[i], counts));
          }
          ASSERT_EQ(rows.count(number), 1u) << table << " record " << number;
          EXPECT_EQ(k, rows.at(number)) << table << " record " << number << ": " << k[0].AsString()
                                        << " against " << rows.at(number)[0].AsString();
          decoded.insert(Text(k));
        });
    EXPECT_TRUE(walk.whole) << table;
    EXPECT_EQ(walk.pagesDamaged, 0u) << table;
    EXPECT_EQ(walk.entries, rows.size()) << table;
    EXPECT_EQ(decoded, built.server.at(table)) << table;
    if (table == "KU") {
      EXPECT_GE(walk.leafPages, 3u);  // reached through a level above
    }
  }
}

TEST_F(IndexReaderIntegration, ZeroedDataPagesLoseExactlyTheirRows) {
  const TBuilt& built = Built();
  std::map<std::string, TKeys> onPage;  // the rows of the page zeroed, per table
  std::map<std::string, std::uint32_t> zeroed;
  {
    TTableReader healthy(built.path);
    for (const std::string& table : {std::string("KI"), std::string("KC"), std::string("NOPK")}) {
      const std::uint16_t relation = healthy.Schema().Find(table)->relationId;
      TReadCounts ignored;
      const auto pages = healthy.Pages().DataPages(relation, ignored);
      ASSERT_GE(pages.size(), 3u) << table;
      zeroed[table] = pages[1].page;
      const std::vector<std::string> columns = table == "NOPK"
                                                   ? std::vector<std::string>{"ID"}
                                                   : healthy.Schema().Find(table)->primaryKey;
      const TKeys all = PageKeys(healthy, table, columns);
      const std::uint32_t perPage = ods::MaxRecordsPerPage(4096);
      for (const auto& [number, key] : all) {
        if (number / perPage == pages[1].sequence) {
          onPage[table][number] = key;
        }
      }
      ASSERT_FALSE(onPage[table].empty()) << table;
    }
  }
  const std::string file = DamagedCopy("DATA.FDB");
  for (const auto& [table, page] : zeroed) {
    PageDamage::ZeroPage(file, page);
  }

  TTableReader reader(file);
  for (const auto& [table, expected] : onPage) {
    const TRecordsGone::TResult r = TRecordsGone::Find(reader, table);
    EXPECT_TRUE(r.indexWhole) << table;
    EXPECT_EQ(r.indexEntries, built.server.count(table) ? built.server.at(table).size() : 300u);
    ASSERT_EQ(r.gone.size(), expected.size()) << table;
    for (const TRecordsGone::TGone& g : r.gone) {
      ASSERT_EQ(expected.count(g.recordNumber), 1u) << table << " record " << g.recordNumber;
      EXPECT_EQ(g.page, zeroed.at(table));
      if (table == "NOPK") {
        EXPECT_TRUE(g.key.empty());  // no primary key: counted only
      } else {
        EXPECT_EQ(g.key, expected.at(g.recordNumber)) << table;
      }
    }
    EXPECT_EQ(r.primaryKey, table != "NOPK");
    EXPECT_EQ(r.keysDecoded, table != "NOPK");
  }
  const TRecordsGone::TResult kc = TRecordsGone::Find(reader, "KC");
  EXPECT_EQ(kc.keyColumns, (std::vector<std::string>{"A", "B", "C", "D", "E", "F", "G"}));
  // Tables without damage lose nothing.
  EXPECT_TRUE(TRecordsGone::Find(reader, "KU").gone.empty());
}

TEST_F(IndexReaderIntegration, AZeroedLeafMakesTheCountInexact) {
  const TBuilt& built = Built();
  const std::uint16_t relation = TTableReader(built.path).Schema().Find("KU")->relationId;
  const std::vector<std::uint32_t> leaves = LeafPages(built.path, relation);
  ASSERT_GE(leaves.size(), 3u);
  const std::string file = DamagedCopy("LEAF.FDB");
  PageDamage::ZeroPage(file, leaves[1]);

  TTableReader reader(file);
  const TRecordsGone::TResult r = TRecordsGone::Find(reader, "KU");
  EXPECT_FALSE(r.indexWhole);
  EXPECT_EQ(r.indexPagesDamaged, 1u);
  EXPECT_LT(r.indexEntries, 300u);
  // The parent still names the leaves after the lost one.
  EXPECT_GT(r.indexEntries, 150u);
  EXPECT_TRUE(r.gone.empty());
}
