#include "store/row_capture.h"

#include <gtest/gtest.h>

#include "store/db_error.h"
#include "store/statement.h"
#include "store/write_shape.h"
#include "temp_suite.h"

namespace kiv::store {
namespace {

using kiv::testing::TempSuite;

Value real(double v) {
  return Value{ValueKind::real, 0, v, {}};
}
Value bytes(ValueKind kind, std::string v) {
  return Value{kind, 0, 0, std::move(v)};
}

TEST(RowImage, EveryValueComesBackWithItsKindByteForByte) {
  const struct {
    Value value;
    const char* encoded;
  } cases[] = {
      {Value{}, "null"},
      {Value::of_integer(-9007199254740993), "-9007199254740993"},
      {real(0.1), "\"r:0.10000000000000001\""},
      {real(-0.0), "\"r:-0\""},
      {bytes(ValueKind::decimal, "1500.50"), "\"n:1500.50\""},
      {Value::of_text("1500"), "\"t:1500\""},
      {Value::of_text("王\"小\\明\r\n\x01"), "\"t:王\\\"小\\\\明\\u000d\\u000a\\u0001\""},
      {Value::of_text(std::string("\xa4\xa4\xa4\xe5", 4)), "\"x:a4a4a4e5\""},  // Big5, not UTF-8
      {bytes(ValueKind::blob, std::string("\0\xff", 2)), "\"b:00ff\""},
      {Value::of_text(""), "\"t:\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.encoded);
    const RowImage image{{"col", c.value}};
    const std::string text = encode_image(image);
    EXPECT_EQ(text, std::string("{\"col\":") + c.encoded + "}");
    const auto back = decode_image(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, image);
    EXPECT_EQ(back->at(0).value.kind, c.value.kind);
    EXPECT_EQ(decode_values(encode_values(image), image), image);
  }
  // Values alone are named after an image of the same table, or not read at all.
  const RowImage named{{"a", Value{}}, {"b", Value::of_integer(1)}};
  for (const char* bad : {"[null]", "[null,1,2]", "[null,1", "{\"a\":null,\"b\":1}"}) {
    EXPECT_FALSE(decode_values(bad, named)) << bad;
  }
  for (const char* bad : {"", "{", "{\"a\":}", "{\"a\":\"q:1\"}", "{\"a\":\"x:abc\"}", "{\"a\":1}x", "{\"a\":--1}",
                          "{\"a\":\"t:\\n\"}"}) {
    EXPECT_FALSE(decode_image(bad)) << bad;
  }
}

TEST(WriteShape, TheProgramsWritesAreReadForTableAndCondition) {
  const struct {
    const char* sql;
    WriteKind kind;
    const char *table, *condition;
    std::vector<int> parameters;
  } cases[] = {
      // clang-format off
      {"update KIV8_Payment set payway='1',payday=?4,realamt=?7 where CI(stdid)=CI(?1) and tranday=?2 and grpid=?3",
       WriteKind::update, "KIV8_Payment", " where CI(stdid)=CI(?1) and tranday=?2 and grpid=?3", {1, 2, 3}},
      {"delete from Kiv10_agency where tranday=?2 and grpid=?3",
       WriteKind::remove, "KIV10_Agency", " where tranday=?2 and grpid=?3", {2, 3}},
      {"delete from KIV9_Payitem where CI(stdid) in (select CI(stdid) from KIV8_Payment where acctid=?5) and tranday=?2",
       WriteKind::remove, "KIV9_Payitem",
       " where CI(stdid) in (select CI(stdid) from KIV8_Payment where acctid=?5) and tranday=?2", {5, 2}},
      {"update KIV2_School set tranidrive=?1,tranidir='where ?9'", WriteKind::update, "KIV2_School", "", {}},
      {"insert into KIV8_Payment(StdID,TranDay) values(?1,?2)", WriteKind::insert, "KIV8_Payment", "", {}},
      {"  UPDATE other_table SET a=(select 1 where 1) WHERE b=?3;", WriteKind::update, "other_table", " WHERE b=?3", {3}},
      {"select 1 from KIV8_Payment where stdid=?1", WriteKind::none, "", "", {}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    const WriteShape shape = write_shape(c.sql);
    EXPECT_TRUE(shape.kind == c.kind && shape.table == c.table && shape.condition == c.condition &&
                shape.condition_parameters == c.parameters);
  }
  for (const char* unwatchable : {"insert into T(a) select a from U", "insert into T(a) values(1),(2)",
                                  "replace into T(a) values(1)", "insert or replace into T(a) values(1)"}) {
    EXPECT_THROW(write_shape(unwatchable), DbError) << unwatchable;
  }
}

// The images a line leaves, per row touched, whatever the statements did on
// the way.
TEST(RowCapture, YieldsEachRowTouchedOnceWithItsImagesBeforeAndAfterTheLine) {
  const struct {
    const char* name;
    std::vector<const char*> writes;
    const char* changes;  // table rowid op, one per change
  } cases[] = {
      // clang-format off
      {"update", {"update KIV8_Payment set payway='1' where CI(stdid)=CI('a1')"}, "KIV8_Payment 1 update"},
      {"update to the same", {"update KIV8_Payment set payway=payway where stdid='A1'"}, ""},
      {"two updates, one row", {"update KIV8_Payment set payway='1' where stdid='A1'",
                                "update KIV8_Payment set payway='2' where rowid=1"}, "KIV8_Payment 1 update"},
      {"insert", {"insert into KIV9_Payitem(stdid) values('Z')"}, "KIV9_Payitem 3 insert"},
      {"insert, then delete", {"insert into KIV9_Payitem(stdid) values('Z')",
                               "delete from KIV9_Payitem where stdid='Z'"}, ""},
      {"delete two", {"delete from KIV9_Payitem"}, "KIV9_Payitem 1 delete,KIV9_Payitem 2 delete"},
      {"update, then delete", {"update KIV10_Agency set PayStas=1", "delete from KIV10_Agency where PayStas=1"},
       "KIV10_Agency 1 delete"},
      {"a row comes to match a condition read before", {"update KIV8_Payment set payway='1' where payway='x'",
        "update KIV8_Payment set payway='x' where stdid='B2'",
        "update KIV8_Payment set payday='2004-01-01' where payway='x'"}, "KIV8_Payment 2 update"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempSuite suite;
    auto db = suite.open();
    db.execute(
        "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt) VALUES ('A1', '2004-10-15', 1, 1500.5), "
        "('B2', '2004-10-15', 1, 10);"
        "INSERT INTO KIV9_Payitem (stdid) VALUES ('A1'), ('B2');"
        "INSERT INTO KIV10_Agency (PayStas, tranday, grpid) VALUES (0, '2004-10-15', 1)");
    Statement second(db, "select rowid,* from KIV8_Payment where rowid=2");
    ASSERT_TRUE(second.step());
    const std::string second_before = encode_image(read_image(second, 1));
    second.reset();
    RowCapture capture(db);
    capture.begin_line();
    for (const char* sql : c.writes) Statement(db, sql).run();
    const auto changes = capture.end_line();
    std::string got;
    for (const auto& change : changes) {
      const char* op_names[] = {"insert", "update", "delete"};  // in ChangeOp's order
      got += (got.empty() ? "" : ",") + change.table + " " + std::to_string(change.rowid) + " " +
             op_names[static_cast<int>(change.op)];
      Statement now(db, "select rowid,* from " + change.table + " where rowid=?1");
      now.bind(1, change.rowid);
      EXPECT_EQ(now.step() ? read_image(now, 1) : RowImage{}, change.after) << "the after-image is the row now";
    }
    EXPECT_EQ(got, c.changes);
    EXPECT_TRUE(got != "KIV8_Payment 2 update" || encode_image(changes[0].before) == second_before)
        << "the before-image is the row as it was before the line";
  }
}

}  // namespace
}  // namespace kiv::store
