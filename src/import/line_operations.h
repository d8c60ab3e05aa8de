#pragma once

#include <string>

#include "writeoff/line_context.h"
#include "writeoff/session.h"

namespace kiv::import {

// The lookups and write-offs the posting pass calls for a detail line. The
// run calls them through this seam so that tests can stand in for a lookup
// (a record that one lookup misses and a later one finds cannot be made from
// data alone). The default forwards to the real operations.
class LineOperations {
 public:
  virtual ~LineOperations() = default;
  using Session = writeoff::Session;
  using Ctx = writeoff::LineContext;
  using S = const std::string&;

  virtual writeoff::LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day_mdy);
  virtual writeoff::LookupResult select_KIV7_student(Session& s, Ctx& c, S stdid);
  virtual writeoff::OpResult update_kiv10(Session& s, S day, S grpid);
  virtual writeoff::OpResult default_kiv8(Session& s, const Ctx& c, S day, S stdid, S grpid);
  virtual writeoff::LookupResult find_data(Session& s, Ctx& c, S day, S stdid, S grpid);
  virtual writeoff::LookupResult find_data1(Session& s, Ctx& c, S day, S stdid, S grpid);
  virtual writeoff::OpResult update_1(Session& s, const Ctx& c, S day, S amt, S stdid, S grpid);
  virtual writeoff::OpResult update_2(Session& s, const Ctx& c, S day, S stdid, S grpid);
  virtual writeoff::OpResult update_3(Session& s, const Ctx& c, S fail, S day, S stdid, S grpid);
  virtual writeoff::OpResult update_4(Session& s, const Ctx& c, S day, S stdid, S grpid, S lastcol);
  virtual writeoff::LookupResult insert_1(Session& s, Ctx& c, S day, S amt, S stdid, S grpid);
};

}  // namespace kiv::import
