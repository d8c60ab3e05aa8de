#include "workstations.h"

#include <cstdio>
#include <stdexcept>

#include "store/db_error.h"

namespace kiv::testing {

namespace {

// Runs scripts/pg-cluster.sh; its standard output without the last newline.
std::string cluster_script(const std::string& args) {
  const std::string command = std::string(KIV_SOURCE_DIR) + "/scripts/pg-cluster.sh " + args + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  std::string out;
  char buffer[512];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
  const int status = ::pclose(pipe);
  if (status != 0) throw std::runtime_error(command + " failed: " + out);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

}  // namespace

HeldWriteLock::HeldWriteLock(const TempSuite& suite) {
  db_.emplace(suite.open());
  tx_.emplace(*db_);
}

void HeldWriteLock::write(const std::string& sql) {
  db_->execute(sql);
}

void HeldWriteLock::release() {
  tx_.reset();
  db_.reset();
}

bool write_lock_free(const TempSuite& suite) {
  try {
    auto db = suite.open();
    db.set_busy_timeout_ms(0);
    store::Transaction tx(db);
    tx.commit();
    return true;
  } catch (const store::DbError&) {
    return false;
  }
}

PrivateCluster::PrivateCluster() {
  dir_ = cluster_script("start");
  uri_ = cluster_script("uri '" + dir_ + "'");
}

PrivateCluster::~PrivateCluster() {
  try {
    cluster_script("stop '" + dir_ + "'");
  } catch (const std::exception&) {
  }
}

void PrivateCluster::halt() {
  cluster_script("halt '" + dir_ + "'");
}

void PrivateCluster::start() {
  cluster_script("start '" + dir_ + "'");
}

}  // namespace kiv::testing
