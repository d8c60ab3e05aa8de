#pragma once

#include "store/db_error.h"
#include "writeoff/session.h"

namespace kiv::writeoff {

// The error trap every operation sets: a failure caused by the line's values
// is reported with the standard message and marked line_failed; a failure of
// the environment is handed up unreported, for the run to report once.
template <class Body>
OpResult guarded(Session& session, Body&& body) {
  try {
    body();
    return {};
  } catch (const store::DbError& e) {
    if (e.error().environmental) return OpResult{OpStatus::env_failed, e.error()};
    report_error(session.op, e.error());
    return OpResult{OpStatus::line_failed, e.error()};
  }
}

// How a lookup shows a failure of the line's values: most with the standard
// message; the two that decide the log text with a plain box holding the
// error text alone.
enum class Report { standard, plain };

// The same for lookups, which also give a value: the value reached before the
// failure is kept, as the caller may need to tell "found, then failed" apart.
template <class Body>
LookupResult guarded_lookup(Session& session, Body&& body, Report report = Report::standard) {
  LookupResult result;
  try {
    body(result.value);
  } catch (const store::DbError& e) {
    result.error = e.error();
    if (e.error().environmental) {
      result.status = OpStatus::env_failed;
    } else {
      if (report == Report::plain) {
        session.op.show_message(e.error().description, MessageIcon::none, kAppTitle);
      } else {
        report_error(session.op, e.error());
      }
      result.status = OpStatus::line_failed;
    }
  }
  return result;
}

}  // namespace kiv::writeoff
