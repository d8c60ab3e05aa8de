#include "tool_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
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

pid_t start_tool(const std::string& scratch_dir, const std::vector<std::string>& args) {
  const std::string out_path = scratch_dir + "/stdout.txt";
  const std::string err_path = scratch_dir + "/stderr.txt";
  std::vector<std::string> all = {KIV_CLI_PATH};
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
  const int spawned = posix_spawn(&pid, KIV_CLI_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error(std::string("cannot start ") + KIV_CLI_PATH);
  return pid;
}

ToolRun end_of(pid_t pid, const std::string& scratch_dir) {
  int status = 0;
  waitpid(pid, &status, 0);
  ToolRun run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = slurp(scratch_dir + "/stdout.txt");
  run.err = slurp(scratch_dir + "/stderr.txt");
  return run;
}

}  // namespace

ToolRun run_tool(const std::string& scratch_dir, const std::vector<std::string>& args) {
  return end_of(start_tool(scratch_dir, args), scratch_dir);
}

std::vector<ToolRun> run_tools_together(const std::string& scratch_dir,
                                        const std::vector<std::vector<std::string>>& args) {
  std::vector<std::string> dirs;
  for (std::size_t i = 0; i < args.size(); ++i) {
    dirs.push_back(scratch_dir + "/" + std::to_string(i));
    std::filesystem::create_directories(dirs.back());
  }
  std::vector<pid_t> pids;
  for (std::size_t i = 0; i < args.size(); ++i) pids.push_back(start_tool(dirs[i], args[i]));
  std::vector<ToolRun> runs;
  for (std::size_t i = 0; i < args.size(); ++i) runs.push_back(end_of(pids[i], dirs[i]));
  return runs;
}

}  // namespace kiv::testing
