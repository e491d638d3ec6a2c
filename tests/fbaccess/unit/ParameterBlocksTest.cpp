// The DPB and TPB built from parameter lines, byte for byte.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeClient.h"
#include "fbaccess/EIBClientError.h"
#include "fbaccess/detail/ParameterBlocks.h"

namespace {

using fbdetail::BuildDpb;
using fbdetail::BuildTpb;

std::string Dpb(const std::vector<std::string>& lines) {
  const std::vector<std::uint8_t> dpb = BuildDpb(lines);
  return std::string(dpb.begin(), dpb.end());
}

std::string Tpb(const std::vector<std::string>& lines) {
  const std::vector<std::uint8_t> tpb = BuildTpb(lines);
  return std::string(tpb.begin(), tpb.end());
}

template <typename F>
void ExpectClientError(F call, int index, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "expected client error " << index << " " << message;
  } catch (const EIBClientError& error) {
    EXPECT_EQ(error.SqlCode(), index);
    EXPECT_EQ(std::string(error.what()), message);
  }
}

TEST(Dpb, SystemConnectionHasUserNameAndPassword) {
  EXPECT_EQ(Dpb({"user_name=sysdba", "password=lumenrock"}),
            Bytes({1, 28, 6}) + "sysdba" + Bytes({29, 9}) + "lumenrock");
}

TEST(Dpb, NamesAreLowerCasedAndLoseThePrefixButValuesStayAsWritten) {
  EXPECT_EQ(Dpb({"ISC_DPB_USER_NAME=SYSDBA", "Password= pass word "}),
            Bytes({1, 28, 6}) + "SYSDBA" + Bytes({29, 11}) + " pass word ");
  // Only the text before the first "=" is the name.
  EXPECT_EQ(Dpb({"password=a=b"}), Bytes({1, 29, 3}) + "a=b");
}

TEST(Dpb, LinesWithoutNameAreSkipped) {
  EXPECT_EQ(Dpb({"", "=value", "   =value", " "}), Bytes({1}));
}

TEST(Dpb, ABlankBeforeTheEqualsSignMakesAnUnknownName) {
  ExpectClientError([] { Dpb({"user_name =sysdba"}); }, 114,
                    "DPB Constant (user_name ) é desconhecido");
}

TEST(Dpb, UnknownNamesAreQuotedAsWritten) {
  ExpectClientError([] { Dpb({"Colour=blue"}); }, 114, "DPB Constant (Colour) é desconhecido");
  // Names past gstat_attach are not in the table.
  ExpectClientError([] { Dpb({"set_db_charset=UTF8"}); }, 114,
                    "DPB Constant (set_db_charset) é desconhecido");
}

TEST(Dpb, KnownButUnsupportedNamesFail) {
  ExpectClientError([] { Dpb({"page_size=4096"}); }, 11,
                    "DPB Constant (isc_dpb_page_size) não suportado");
  ExpectClientError([] { Dpb({"ISC_DPB_GSTAT_ATTACH=1"}); }, 11,
                    "DPB Constant (isc_dpb_gstat_attach) não suportado");
  ExpectClientError([] { Dpb({"cdd_pathname=x"}); }, 11,
                    "DPB Constant (isc_dpb_cdd_pathname) não suportado");
}

TEST(Dpb, EachCodeGroupHasItsLayout) {
  EXPECT_EQ(Dpb({"lc_ctype=WIN1252", "sql_role_name=RDB$ADMIN"}),
            Bytes({1, 48, 7}) + "WIN1252" + Bytes({60, 9}) + "RDB$ADMIN");
  EXPECT_EQ(Dpb({"sql_dialect=3"}), Bytes({1, 63, 1, 3}));
  EXPECT_EQ(Dpb({"num_buffers=300", "force_write=1", "no_reserve=0"}),
            Bytes({1, 5, 1, 300 & 0xFF, 24, 1, 1, 27, 1, 0}));
  EXPECT_EQ(Dpb({"isc_dpb_no_db_triggers=1"}), Bytes({1, 72, 1, 1}));
  EXPECT_EQ(Dpb({"sweep=whatever"}), Bytes({1, 10, 1, 2}));
  EXPECT_EQ(Dpb({"activate_shadow", "delete_shadow=", "begin_log=x", "quit_log=y"}),
            Bytes({1, 21, 1, 0, 23, 1, 0, 25, 1, 0, 26, 1, 0}));
  EXPECT_EQ(Dpb({"sweep_interval=20000"}), Bytes({1, 22, 4, 0x20, 0x4E, 0, 0}));
}

TEST(Dpb, ANumberThatIsNoNumberFails) {
  EXPECT_THROW(Dpb({"num_buffers=many"}), EIBClientError);
  EXPECT_THROW(Dpb({"sweep_interval="}), EIBClientError);
}

TEST(Tpb, NoLinesGiveNoTpb) {
  EXPECT_EQ(Tpb({}), "");
}

TEST(Tpb, LinesBecomeCodesAfterTheVersion) {
  EXPECT_EQ(Tpb({"read", "isc_tpb_nowait", "READ_COMMITTED", "rec_version"}),
            Bytes({3, 8, 7, 15, 17}));
  EXPECT_EQ(Tpb({"", "  ", "write", "concurrency=ignored"}), Bytes({3, 9, 2}));
}

TEST(Tpb, LockItemsCarryTheirTableName) {
  EXPECT_EQ(Tpb({"lock_read=CLIENTES", "isc_tpb_lock_write=PEDIDOS"}),
            Bytes({3, 10, 8}) + "CLIENTES" + Bytes({11, 7}) + "PEDIDOS");
}

TEST(Tpb, UnsupportedAndUnknownNamesFail) {
  ExpectClientError([] { Tpb({"autocommit"}); }, 13,
                    "TPB Constant (isc_tpb_autocommit) não suportado");
  ExpectClientError([] { Tpb({"ISC_TPB_VERB_TIME=1"}); }, 13,
                    "TPB Constant (isc_tpb_verb_time) não suportado");
  ExpectClientError([] { Tpb({"lock_timeout=5"}); }, 115,
                    "TPB Constant (lock_timeout) é desconhecido");
}

}  // namespace
