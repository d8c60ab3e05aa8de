#include "tool_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace kiv::testing {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

namespace {

ToolRun spawn(const std::string& program, const std::string& scratch_dir, const std::vector<std::string>& args,
              char** env) {
  const std::string out_path = scratch_dir + "/stdout.txt";
  const std::string err_path = scratch_dir + "/stderr.txt";
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), env);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + program);
  int status = 0;
  waitpid(pid, &status, 0);
  ToolRun run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = slurp(out_path);
  run.err = slurp(err_path);
  return run;
}

}  // namespace

ToolRun run_tool(const std::string& scratch_dir, const std::vector<std::string>& args) {
  return spawn(KIV_CLI_PATH, scratch_dir, args, environ);
}

ToolRun run_program_without_root(const std::string& program, const std::string& scratch_dir,
                                 const std::vector<std::string>& args) {
  std::vector<char*> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "KIV_ROOT=", 9) != 0) env.push_back(*entry);
  }
  env.push_back(nullptr);
  return spawn(program, scratch_dir, args, env.data());
}

}  // namespace kiv::testing
