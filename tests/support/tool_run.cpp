#include "tool_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kiv::testing {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

namespace {

pid_t start(const std::string& program, const std::string& scratch_dir, const std::vector<std::string>& args,
            std::optional<rlim_t> file_size_limit, bool without_root) {
  const std::string out_path = scratch_dir + "/stdout.txt", err_path = scratch_dir + "/stderr.txt";
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY), out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
              err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    if (file_size_limit) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{*file_size_limit, *file_size_limit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    if (without_root) unsetenv("KIV_ROOT");
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

ToolRun end_of(pid_t pid, const std::string& scratch_dir) {
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(scratch_dir + "/stdout.txt"),
          slurp(scratch_dir + "/stderr.txt")};
}

}  // namespace

ToolRun run_tool(const std::string& scratch_dir, const std::vector<std::string>& args,
                 std::optional<rlim_t> file_size_limit) {
  return end_of(start(KIV_CLI_PATH, scratch_dir, args, file_size_limit, false), scratch_dir);
}

ToolRun run_program_without_root(const std::string& program, const std::string& scratch_dir,
                                 const std::vector<std::string>& args) {
  return end_of(start(program, scratch_dir, args, std::nullopt, true), scratch_dir);
}

std::vector<ToolRun> run_tools_together(const std::string& scratch_dir,
                                        const std::vector<std::vector<std::string>>& args) {
  std::vector<std::string> dirs;
  for (std::size_t i = 0; i < args.size(); ++i) {
    dirs.push_back(scratch_dir + "/" + std::to_string(i));
    std::filesystem::create_directories(dirs.back());
  }
  std::vector<pid_t> pids;
  for (std::size_t i = 0; i < args.size(); ++i) pids.push_back(start(KIV_CLI_PATH, dirs[i], args[i], {}, false));
  std::vector<ToolRun> runs;
  for (std::size_t i = 0; i < args.size(); ++i) runs.push_back(end_of(pids[i], dirs[i]));
  return runs;
}

std::string json_field(const std::string& json, const std::string& key) {
  const auto at = json.find("\"" + key + "\":");
  if (at == std::string::npos) return "";
  const auto from = at + key.size() + 3;
  if (json[from] == '"') return json.substr(from + 1, json.find('"', from + 1) - from - 1);
  if (json[from] == '[' || json[from] == '{') {
    return json.substr(from, json.find(json[from] == '[' ? ']' : '}', from) + 1 - from);
  }
  return json.substr(from, json.find_first_of(",}", from) - from);
}

}  // namespace kiv::testing
