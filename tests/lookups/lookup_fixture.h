#pragma once

#include <string>

#include "recording_operator.h"
#include "temp_suite.h"
#include "writeoff/line_context.h"
#include "writeoff/session.h"

namespace kiv::testing {

// A fresh suite database, the connection a lookup works on, and the line
// context it leaves its answers in.
struct LookupFixture {
  TempSuite suite;
  store::Connection db = suite.open();
  RecordingOperator op;
  writeoff::Session session{db, op};
  writeoff::LineContext ctx;

  void seed(const std::string& sql) { db.execute(sql); }
  // Another program holding the database: every statement of ours waits
  // briefly and then fails as busy.
  store::Connection hold_exclusively() {
    store::Connection other = suite.open();
    other.execute("BEGIN EXCLUSIVE");
    db.set_busy_timeout_ms(100);
    return other;
  }
};

}  // namespace kiv::testing
