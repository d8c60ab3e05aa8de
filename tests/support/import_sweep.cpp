#include "import_sweep.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "core/paths.h"
#include "import/collection_file.h"
#include "import/collection_writer.h"
#include "tool_run.h"

namespace kiv::testing::sweep {

namespace fs = std::filesystem;

ImportWork ImportWork::demo(const std::string& scratch, int students) {
  ImportWork work;
  work.school = scratch + "/school";
  fs::remove_all(work.school);
  const ToolRun made =
      run_tool(scratch, {"demo", "--root", work.school, "--every-case", "--students", std::to_string(students)});
  if (made.status != 0) throw std::runtime_error("kiv2700 demo failed: " + made.err);
  work.file = SuitePaths{work.school}.staging_file();
  std::ifstream in(work.file, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > import::kShortLine && import::record_kind(line) == import::RecordKind::detail) {
      work.lines.push_back(line);
    }
  }
  if (work.lines.empty()) throw std::runtime_error("kiv2700 demo made no collection file in " + work.school);
  return work;
}

void ImportWork::copy_school(const std::string& root) const {
  fs::remove_all(root);
  fs::copy(school, root, fs::copy_options::recursive);
}

void ImportWork::write_first_lines(const std::string& path, std::size_t count) const {
  write_collection(path, std::vector<std::string>(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(
                                                                                     std::min(count, lines.size()))));
}

void write_collection(const std::string& path, const std::vector<std::string>& details) {
  std::string content;
  Cents file_amt = 0, posted_amt = 0;
  std::int64_t posted_cnt = 0;
  for (const std::string& line : details) {
    content += line + "\r\n";
    const Cents cents = import::detail_amount(line);
    file_amt += cents;
    if (!import::detail_transfer_failed(line)) {
      ++posted_cnt;
      posted_amt += cents;
    }
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      << content << import::format_trailer(static_cast<std::int64_t>(details.size()), file_amt, posted_cnt, posted_amt)
      << "\r\n";
}

}  // namespace kiv::testing::sweep
