#include "import/line_operations.h"

#include "writeoff/lookups.h"
#include "writeoff/writeoffs.h"

namespace kiv::import {

using writeoff::LookupResult;
using writeoff::OpResult;

LookupResult LineOperations::select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day_mdy) {
  return writeoff::select_KIV8_Payment(s, c, stdid, grpid, day_mdy);
}
LookupResult LineOperations::select_KIV7_student(Session& s, Ctx& c, S stdid) {
  return writeoff::select_KIV7_student(s, c, stdid);
}
OpResult LineOperations::update_kiv10(Session& s, S day, S grpid) {
  return writeoff::update_kiv10(s, day, grpid);
}
OpResult LineOperations::default_kiv8(Session& s, const Ctx& c, S day, S stdid, S grpid) {
  return writeoff::default_kiv8(s, c, day, stdid, grpid);
}
LookupResult LineOperations::find_data(Session& s, Ctx& c, S day, S stdid, S grpid) {
  return writeoff::find_data(s, c, day, stdid, grpid);
}
LookupResult LineOperations::find_data1(Session& s, Ctx& c, S day, S stdid, S grpid) {
  return writeoff::find_data1(s, c, day, stdid, grpid);
}
OpResult LineOperations::update_1(Session& s, const Ctx& c, S day, S amt, S stdid, S grpid) {
  return writeoff::update_1(s, c, day, amt, stdid, grpid);
}
OpResult LineOperations::update_2(Session& s, const Ctx& c, S day, S stdid, S grpid) {
  return writeoff::update_2(s, c, day, stdid, grpid);
}
OpResult LineOperations::update_3(Session& s, const Ctx& c, S fail, S day, S stdid, S grpid) {
  return writeoff::update_3(s, c, fail, day, stdid, grpid);
}
OpResult LineOperations::update_4(Session& s, const Ctx& c, S day, S stdid, S grpid, S lastcol) {
  return writeoff::update_4(s, c, day, stdid, grpid, lastcol);
}
LookupResult LineOperations::insert_1(Session& s, Ctx& c, S day, S amt, S stdid, S grpid) {
  return writeoff::insert_1(s, c, day, amt, stdid, grpid);
}

}  // namespace kiv::import
