#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tool_run.h"

namespace kiv::testing {

struct Child {
  std::vector<std::string> args;
  std::optional<std::chrono::microseconds> kill_after{};
  std::optional<rlim_t> file_size_limit{};
  bool watch_memory = false;
};

struct ChildEnd {
  bool killed = false;
  int status = -1;
  std::string out;
  double seconds = 0;
  long peak_kib = 0;
};

inline long high_water_kib(pid_t pid) {
  static const auto tool = std::filesystem::canonical(KIV_CLI_PATH);
  std::error_code ec;
  if (std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec) != tool) return 0;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  }
  return 0;
}

inline ChildEnd run_child(const Child& child, const std::string& scratch_dir) {
  const std::string out_path = scratch_dir + "/child_out.txt";
  std::vector<std::string> all = {KIV_CLI_PATH};
  all.insert(all.end(), child.args.begin(), child.args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto started = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(126);
    if (child.file_size_limit) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{*child.file_size_limit, *child.file_size_limit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  ChildEnd end;
  int status = 0;
  if (child.kill_after) {
    std::this_thread::sleep_until(started + *child.kill_after);
    kill(pid, SIGKILL);
  }
  while (child.watch_memory && waitpid(pid, &status, WNOHANG) == 0) {
    end.peak_kib = std::max(end.peak_kib, high_water_kib(pid));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!child.watch_memory) waitpid(pid, &status, 0);
  end.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  end.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  end.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  end.out = slurp(out_path);
  return end;
}

inline std::string json_field(const std::string& json, const std::string& key) {
  const std::string name = "\"" + key + "\":";
  auto at = json.find(name);
  if (at == std::string::npos) return "";
  at += name.size();
  if (at < json.size() && json[at] == '"') {
    std::string value;
    for (std::size_t i = at + 1; i < json.size() && json[i] != '"'; ++i) {
      if (json[i] == '\\' && i + 1 < json.size()) value += json[i++];
      value += json[i];
    }
    return value;
  }
  const char close = at < json.size() && json[at] == '[' ? ']' : '\0';
  const auto end = close != '\0' ? json.find(close, at) + 1 : json.find_first_of(",}", at);
  return json.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

}  // namespace kiv::testing
