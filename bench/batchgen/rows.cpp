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

namespace batchgen {

std::string RowMaker::KindTransaction(std::string_view kind) {
  return "INSERT INTO tbl_Transactions(TransactionID, StartedAt, Node, Client, Kind) VALUES "
         "(seq_Transactions.NEXTVAL, '" + Stamp() + "', '" + Node() + "', 'client-" +
         Number(random_.Between(1000, 9999)) + "', '" + std::string(kind) + "');";
}

std::string RowMaker::CommitRow() {
  static constexpr std::array<std::string_view, 16> kForms = {
      // These can commit.
      "COMMIT;",
      "/* checkpoint */ COMMIT;",
      "UPDATE tbl_Settings SET Value = 'on' WHERE Name = 'audit.flush'; commit;",
      "BEGIN COMMIT; END;",
      "Rollback;",
      "SAVEPOINT before_flush; ROLLBACK TO SAVEPOINT before_flush;",
      "EXECUTE IMMEDIATE 'DELETE FROM tbl_Scratch';",
      "execute \t immediate 'DELETE FROM tbl_Scratch WHERE Note = ''old''';",
      "DECLARE c INTEGER := DBMS_SQL.OPEN_CURSOR; BEGIN dbms_sql.close_cursor(c); END;",
      "UPDATE tbl_Settings SET Value = q'[it's COMMIT time]' WHERE Name = 'note';",
      // These only look so.
      "UPDATE tbl_Settings SET Value = 'COMMIT' WHERE Name = 'mode';",
      "UPDATE tbl_Settings SET Value = 'it''s ROLLBACK time' WHERE Name = 'note';",
      "UPDATE tbl_Settings SET Value = 'COMMITTED' WHERE Name = 'X_COMMIT';",
      "UPDATE tbl_Settings SET Value = q'{done}' WHERE Name = 'after ROLLBACK';",
      "INSERT INTO tbl_Scratch(Note) VALUES ('no commit, no execute immediate');",
      "UPDATE tbl_Scratch SET Note = 'COMMIT'', ROLLBACK''' WHERE Note = 'x';",
  };
  return std::string(kForms[random_.Between(0, kForms.size() - 1)]);
}

std::string RowMaker::TouchingPlain() {
  if (random_.Between(0, 2) == 0)
    return "UPDATE tbl_Actions SET ActionType='SEEN' WHERE ActionType='VIEW';";
  return "UPDATE tbl_Transactions SET Kind='SEEN' WHERE Kind='UPD';";
}

std::string RowMaker::TextReferenceDetail(std::uint64_t id, std::uint64_t other) {
  const std::string self = "&identity_" + Number(id);
  const std::string earlier = "&identity_" + Number(other);
  std::string text;
  switch (random_.Between(0, 9)) {
    case 0: text = self + " ok"; break;
    case 1: text = "Approved by " + self; break;
    case 2: text = "T" + self + ".X"; break;
    case 3: text = self + "/" + earlier; break;
    case 4: text = earlier + self; break;
    case 5: text = "it''s " + self; break;
    case 6: text = "&" + self + " done"; break;             // &&identity_N
    case 7: text = "''" + self + "'' by &" + earlier + "."; break;
    case 8: text = "ref " + self + ". and " + earlier + ".x"; break;
    default: text = "from " + earlier + " to " + self + ", " +
                     std::string(kWords[random_.Between(0, kWords.size() - 1)]);
  }
  return "INSERT INTO tbl_Details(TransactionID, Field, Value) VALUES (" + self + ", 'note', '" +
         text + "');";
}

std::string RowMaker::TerminatedReferenceDetail(std::uint64_t id) {
  return "INSERT INTO tbl_Details(TransactionID, Field, Value) VALUES (&identity_" + Number(id) +
         ".,'terminated', '" + Stamp() + "');";
}

std::string RowMaker::JoinedReferenceDetail(std::uint64_t id) {
  return "INSERT INTO tbl_Details(TransactionID, Field, Value) VALUES (&identity_" + Number(id) +
         ".5, 'joined', '" + Stamp() + "');";
}

std::string RowMaker::Schema() {
  return "-- The tables and sequences of tavrin_batchgen's rows.\n"
         "CREATE SEQUENCE seq_Transactions START WITH 1000000000001;\n"
         "CREATE SEQUENCE seq_Authentications START WITH 2000000000001;\n"
         "CREATE TABLE tbl_Transactions (TransactionID NUMBER, ParentId NUMBER, "
         "StartedAt VARCHAR(4000), Node VARCHAR(4000), Client VARCHAR(4000), "
         "Kind VARCHAR(4000));\n"
         "CREATE TABLE tbl_Actions (TransactionID NUMBER, RelatedTransactionID NUMBER, "
         "ActionType VARCHAR(4000), ObjectID NUMBER, At VARCHAR(4000), Detail VARCHAR(4000));\n"
         "CREATE TABLE tbl_Details (TransactionID NUMBER, Field VARCHAR(4000), "
         "Value VARCHAR(4000));\n"
         "CREATE TABLE tbl_Authentications (AuthID NUMBER, TransactionID NUMBER, "
         "UserName VARCHAR(4000), Method VARCHAR(4000), At VARCHAR(4000));\n"
         "CREATE TABLE tbl_groups (GroupName VARCHAR(4000), JoinedAt VARCHAR(4000), "
         "TransactionID NUMBER);\n"
         "CREATE TABLE tbl_Heartbeat (Node VARCHAR(4000), At VARCHAR(4000), "
         "Note VARCHAR(4000));\n"
         "CREATE TABLE tbl_Settings (Name VARCHAR(4000), Value VARCHAR(4000));\n"
         "CREATE TABLE tbl_Sessions (ExpiresAt VARCHAR(4000), Note VARCHAR(4000));\n"
         "-- The row that the settings UPDATE changes.\n"
         "INSERT INTO tbl_Settings (Name, Value) VALUES ('audit.level', 'initial');\n";
}

}  // namespace batchgen
