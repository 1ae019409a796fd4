#include "script/statement.h"

#include <gtest/gtest.h>

#include <string>

#include "script/marker.h"

namespace tavrin {
namespace {

// Texts where markers overlap, repeat, sit at either end or miss by a byte.
constexpr std::string_view kTexts[] = {
    "",
    "_",
    "identity_",
    "identity_identity_",
    "xidentity_12identity_5",
    "COLUMN identity_4 NEW_VALUE identity_4",
    "COLUMN  identity_4",
    "--COLUMN identity_",
    "x identity_1 COLUMN identity_2",
    "INSERT INTO tbl_Authentications(a) VALUES (&identity_1);",
    "UPDATE tbl_Authentications SET a = 1",
    "tbl_Transactions(",
    "tbl_Transactions tbl_Actions tbl_groups",
    "tbl_Transaction(s) tbl_Action tbl_group tbl_",
    "tbl_tbl_Actions",
    "seq_Transactions.NEXTVAL, identit_y, identity",
};

TEST(FindMarkers, FindsWhatTheMarkerSearchesFind) {
  for (std::string_view text : kTexts) {
    const TextMarkers found = FindMarkers(text);
    const std::size_t first = marker::kIdentity.FindIn(text);
    EXPECT_EQ(found.first_identity, first) << text;
    EXPECT_EQ(found.more_identities,
              first != std::string_view::npos && marker::kIdentity.FindIn(text, first + 1) != first &&
                  marker::kIdentity.FindIn(text, first + 1) != std::string_view::npos)
        << text;
    EXPECT_EQ(found.column_identity, marker::kColumnIdentity.IsIn(text)) << text;
    EXPECT_EQ(found.actions, marker::kActions.IsIn(text)) << text;
    EXPECT_EQ(found.transactions, marker::kTransactions.IsIn(text)) << text;
    EXPECT_EQ(found.transactions_row, marker::kTransactionsRow.IsIn(text)) << text;
    EXPECT_EQ(found.authentications, marker::kAuthentications.IsIn(text)) << text;
    EXPECT_EQ(found.authentications_row, marker::kAuthenticationsRow.IsIn(text)) << text;
    EXPECT_EQ(found.groups, marker::kGroups.IsIn(text)) << text;
  }
}

TEST(Statement, KeepsWhatItsTextHolds) {
  const Statement tie("INSERT INTO tbl_Actions(a,b) VALUES (identity_12, identity_3);", 7);
  EXPECT_EQ(tie.position, 7u);
  EXPECT_EQ(tie.FirstIdentity(), "identity_12");
  EXPECT_EQ(tie.FirstIdentityAt(), 37u);
  EXPECT_TRUE(tie.Has(Statement::kActions));
  EXPECT_TRUE(tie.Has(Statement::kMoreIdentities));
  EXPECT_FALSE(tie.Has(Statement::kTransactions));

  const Statement plain("UPDATE t SET a = 1;", 0);
  EXPECT_EQ(plain.FirstIdentity(), "");
  EXPECT_EQ(plain.FirstIdentityAt(), std::string_view::npos);
  EXPECT_FALSE(plain.Has(Statement::kMoreIdentities));

  const Statement declaration("COLUMN identity_4 NEW_VALUE identity_4", 1);
  EXPECT_TRUE(declaration.Has(Statement::kColumnIdentity));
  EXPECT_TRUE(declaration.Has(Statement::kMoreIdentities));
  EXPECT_TRUE(Statement("x tbl_Authentications identity_", 0).Has(Statement::kAuthentications));
  EXPECT_TRUE(Statement("tbl_groups", 0).Has(Statement::kGroups));

  // Further in than the statement can hold: found again when asked.
  const std::string far = std::string(70000, 'x') + "identity_5 identity_6";
  const Statement long_one(far, (std::uint64_t{1} << 40) - 1);
  EXPECT_EQ(long_one.FirstIdentityAt(), 70000u);
  EXPECT_EQ(long_one.FirstIdentity(), "identity_5");
  EXPECT_EQ(long_one.position, (std::uint64_t{1} << 40) - 1);
}

}  // namespace
}  // namespace tavrin
