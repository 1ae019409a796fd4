#include "batchgen/rows.h"

#include <array>
#include <chrono>
#include <cstdio>

namespace batchgen {
namespace {

constexpr std::array<std::string_view, 12> kWords = {
    "status", "changed", "from", "open", "to", "closed", "record", "field",
    "customer", "order", "approved", "review"};

constexpr std::array<std::string_view, 8> kActionTypes = {
    "UPDATE", "INSERT", "DELETE", "VIEW", "EXPORT", "APPROVE", "LOGIN", "LOGOUT"};

constexpr std::array<std::string_view, 4> kGroups = {"operators", "auditors", "admins",
                                                     "readers"};

// Free text is never shorter than this unless a row length asks for it.
constexpr std::size_t kShortestText = 6;

std::string Number(std::uint64_t n) { return std::to_string(n); }

}  // namespace

std::string RowMaker::Stamp() {
  using namespace std::chrono;
  seconds_ += random_.Between(0, 3);
  const sys_days day = sys_days{year{2026} / December / 1} + days{seconds_ / 86400};
  const year_month_day date{day};
  const std::uint64_t in_day = seconds_ % 86400;
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02u:%02u:%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<unsigned>(in_day / 3600), static_cast<unsigned>(in_day / 60 % 60),
                static_cast<unsigned>(in_day % 60));
  return text;
}

std::string RowMaker::User() {
  char text[16];
  std::snprintf(text, sizeof text, "user%04u", static_cast<unsigned>(random_.Between(0, 4999)));
  return text;
}

std::string RowMaker::Node() {
  char text[16];
  std::snprintf(text, sizeof text, "node%02u", static_cast<unsigned>(random_.Between(1, 24)));
  return text;
}

std::string RowMaker::WithText(std::string_view prefix, std::string_view suffix,
                               std::size_t length) {
  std::string row(prefix);
  const std::size_t natural = prefix.size() + suffix.size();
  std::size_t want = length > natural ? length - natural : random_.Between(kShortestText, 40);
  std::string text;
  while (text.size() < want) {
    if (!text.empty()) text += ' ';
    text += kWords[random_.Between(0, kWords.size() - 1)];
  }
  text.resize(want);
  // A cut that ends in a blank would be trimmed by nothing, but reads oddly.
  if (!text.empty() && text.back() == ' ') text.back() = 'x';
  row += text;
  row += suffix;
  return row;
}

std::string RowMaker::Transaction() {
  return "INSERT INTO tbl_Transactions(TransactionID, StartedAt, Node, Client) VALUES "
         "(seq_Transactions.NEXTVAL, '" + Stamp() + "', '" + Node() + "', 'client-" +
         Number(random_.Between(1000, 9999)) + "');";
}

std::string RowMaker::ChildTransaction(std::uint64_t parent) {
  return "INSERT INTO tbl_Transactions(TransactionID, ParentId, StartedAt, Node, Client) VALUES "
         "(seq_Transactions.NEXTVAL, &identity_" + Number(parent) + ", '" + Stamp() + "', '" +
         Node() + "', 'client-" + Number(random_.Between(1000, 9999)) + "');";
}

std::string RowMaker::Declaration(std::uint64_t id) {
  return "COLUMN identity_" + Number(id) + " NEW_VALUE identity_" + Number(id) + " NOPRINT";
}

std::string RowMaker::CurrentValue(std::uint64_t id) {
  return "SELECT seq_Transactions.CURRVAL identity_" + Number(id) + " FROM DUAL;";
}

std::string RowMaker::NextValue(std::uint64_t id) {
  return "SELECT seq_Transactions.NEXTVAL identity_" + Number(id) + " FROM DUAL;";
}

std::string RowMaker::Action(std::uint64_t id, std::size_t length) {
  const std::string type(kActionTypes[random_.Between(0, kActionTypes.size() - 1)]);
  const std::string reference = "&identity_" + Number(id);
  std::string prefix = "INSERT INTO tbl_Actions(TransactionID, ActionType, ObjectID, At, Detail) "
                       "VALUES (" + reference + ", '" + type + "', " +
                       Number(random_.Between(1, 999999)) + ", '" + Stamp() + "', '";
  // Batches with many short rows use the short form.
  if (length != 0 && length < prefix.size() + 3 + kShortestText)
    prefix = "INSERT INTO tbl_Actions(TransactionID, ActionType, Detail) VALUES (" + reference +
             ", '" + type + "', '";
  return WithText(prefix, "');", length);
}

std::string RowMaker::QuotedAction(std::uint64_t id, std::size_t length) {
  const std::string type(kActionTypes[random_.Between(0, kActionTypes.size() - 1)]);
  const std::string suffix = "', '&identity_" + Number(id) + "');";
  std::string prefix = "INSERT INTO tbl_Actions(ActionType, ObjectID, At, Detail, TransactionID) "
                       "VALUES ('" + type + "', " + Number(random_.Between(1, 999999)) + ", '" +
                       Stamp() + "', '";
  if (length != 0 && length < prefix.size() + suffix.size() + kShortestText)
    prefix = "INSERT INTO tbl_Actions(ActionType, Detail, TransactionID) VALUES ('" + type + "', '";
  return WithText(prefix, suffix, length);
}

std::string RowMaker::QuotedLogin(std::uint64_t id) {
  const std::string reference = "&identity_" + Number(id);
  return "INSERT INTO tbl_Actions(TransactionID, Detail, ActionType) VALUES (" + reference +
         ", '" + reference + "', 'LOGIN');";
}

std::string RowMaker::Detail(std::uint64_t id) {
  return WithText("INSERT INTO tbl_Details(TransactionID, Field, Value) VALUES (&identity_" +
                      Number(id) + ", '" +
                      std::string(kWords[random_.Between(0, kWords.size() - 1)]) + "', '",
                  "');", 0);
}

std::string RowMaker::CurrentDetail() {
  return WithText("INSERT INTO tbl_Details(TransactionID, Field, Value) VALUES "
                  "(seq_Transactions.CURRVAL, '" +
                      std::string(kWords[random_.Between(0, kWords.size() - 1)]) + "', '",
                  "');", 0);
}

std::string RowMaker::Tie(std::uint64_t id, std::uint64_t other) {
  return "INSERT INTO tbl_Actions(TransactionID, RelatedTransactionID, ActionType, At) VALUES "
         "(&identity_" + Number(id) + ", &identity_" + Number(other) + ", 'HANDOVER', '" +
         Stamp() + "');";
}

std::string RowMaker::Authentication(std::uint64_t id) {
  return "INSERT INTO tbl_Authentications(AuthID, TransactionID, UserName, Method, At) VALUES "
         "(seq_Authentications.NEXTVAL, &identity_" + Number(id) + ", '" + User() +
         "', 'password', '" + Stamp() + "');";
}

std::string RowMaker::AnonymousAuthentication() {
  return "INSERT INTO tbl_Authentications(AuthID, UserName, Method, At) VALUES "
         "(seq_Authentications.NEXTVAL, '" + User() + "', 'token', '" + Stamp() + "');";
}

std::string RowMaker::GroupRow(std::uint64_t id) {
  return "INSERT INTO tbl_groups(GroupName, JoinedAt, TransactionID) VALUES ('" +
         std::string(kGroups[random_.Between(0, kGroups.size() - 1)]) + "', '" + Stamp() +
         "', &identity_" + Number(id) + ");";
}

std::string RowMaker::RejectedAction(std::uint64_t id) {
  return "INSERT INTO tbl_Actions(TransactionID, ActionType, Detail) VALUES (&identity_" +
         Number(id) + ", 'NOTE', NULL);";
}

std::string RowMaker::Plain(std::size_t length) {
  // Short rows asked for: the settings row is the shortest form.
  const std::uint64_t form = length != 0 && length < 100 ? 1 : random_.Between(0, 2);
  switch (form) {
    case 0:
      return WithText("INSERT INTO tbl_Heartbeat(Node, At, Note) VALUES ('" + Node() + "', '" +
                          Stamp() + "', '",
                      "');", length);
    case 1:
      return WithText("UPDATE tbl_Settings SET Value = '", "' WHERE Name = 'audit.level';",
                      length);
    default:
      return WithText("DELETE FROM tbl_Sessions WHERE ExpiresAt < '" + Stamp() + "' AND Note = '",
                      "';", length);
  }
}

}  // namespace batchgen
