#include "child_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "tool_run.h"

namespace kiv::testing {

namespace {

// VmHWM of a running process in KiB; 0 once it is gone, and 0 until it has
// become the tool (before exec it is a copy of this test program).
long high_water_kib(pid_t pid) {
  static const auto tool = std::filesystem::canonical(KIV_CLI_PATH);
  std::error_code ec;
  if (std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec) != tool) return 0;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

}  // namespace

ChildEnd run_child(const ChildSetup& setup) {
  const std::string out_path = setup.scratch_dir + "/child_stdout.txt";
  const std::string err_path = setup.scratch_dir + "/child_stderr.txt";
  std::vector<std::string> all = {KIV_CLI_PATH};
  all.insert(all.end(), setup.args.begin(), setup.args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  const auto started = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (setup.file_size_limit) {
      // An ignored signal stays ignored across exec: writes past the limit
      // then fail with EFBIG, as on a full disk, instead of killing the tool.
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{*setup.file_size_limit, *setup.file_size_limit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }

  ChildEnd end;
  int status = 0;
  if (setup.kill_after) {
    std::this_thread::sleep_until(started + *setup.kill_after);
    kill(pid, SIGKILL);  // a child that has ended already is a zombie until waited for: no harm
    waitpid(pid, &status, 0);
  } else if (setup.watch_memory) {
    while (waitpid(pid, &status, WNOHANG) == 0) {
      end.peak_rss_kib = std::max(end.peak_rss_kib, high_water_kib(pid));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  } else {
    waitpid(pid, &status, 0);
  }
  end.elapsed = std::chrono::steady_clock::now() - started;
  end.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  end.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  end.out = slurp(out_path);
  end.err = slurp(err_path);
  return end;
}

}  // namespace kiv::testing
