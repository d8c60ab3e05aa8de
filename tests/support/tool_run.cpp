#include "tool_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace kiv::testing {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

namespace {

long high_water_kib(pid_t pid) {
  static const auto tool = std::filesystem::canonical(KIV_CLI_PATH);
  std::error_code ec;
  if (std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec) != tool) return 0;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  }
  return 0;
}

}  // namespace

ToolRun run_tool(const std::string& scratch_dir, const std::vector<std::string>& args, const ToolOptions& options) {
  const std::string out_path = scratch_dir + "/stdout.txt", err_path = scratch_dir + "/stderr.txt";
  std::vector<std::string> all = {KIV_CLI_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto started = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY), out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
              err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    if (options.file_size_limit) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{*options.file_size_limit, *options.file_size_limit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  ToolRun run;
  int status = 0;
  if (options.kill_after) {
    std::this_thread::sleep_until(started + *options.kill_after);
    kill(pid, SIGKILL);
  }
  while (options.watch_memory && waitpid(pid, &status, WNOHANG) == 0) {
    run.peak_kib = std::max(run.peak_kib, high_water_kib(pid));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!options.watch_memory) waitpid(pid, &status, 0);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  run.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = slurp(out_path);
  run.err = slurp(err_path);
  return run;
}

std::string json_field(const std::string& json, const std::string& key) {
  const auto at = json.find("\"" + key + "\":");
  if (at == std::string::npos) return "";
  const auto from = at + key.size() + 3;
  if (json[from] == '"') return json.substr(from + 1, json.find('"', from + 1) - from - 1);
  if (json[from] == '[') return json.substr(from, json.find(']', from) + 1 - from);
  return json.substr(from, json.find_first_of(",}", from) - from);
}

}  // namespace kiv::testing
