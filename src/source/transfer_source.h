#pragma once

#include <string>

#include "core/operator.h"
#include "core/paths.h"

namespace kiv::source {

// Title of the file-open dialog behind the "..." button.
inline constexpr const char* kChooseFileTitle = "選擇欲載入之檔案";
// Shown when a remembered folder cannot be probed (no medium, I/O error...).
inline constexpr const char* kDiskNotReadyText = "磁 碟 未 就 緒\r\n\r\n回 到 預 設 路 徑";
// Shown when the floppy holds no collection file.
inline constexpr const char* kFloppyFileMissingText = "找 不 到 檔 案 ( post1003.dat )";

// What the window shows for the transfer source: the path box text and the
// folder the file dialog opens in.
struct SourceChoice {
  std::string path_text;
  std::string dialog_dir;
};

// Restores the source remembered in the school's row. Every failure is
// reported to the operator and falls back to the default path; it never throws.
SourceChoice get_dir(const SuitePaths& paths, Operator& op);

// Remembers the path box in the school's row: the first character as the
// drive, the text up to and including its last "/" as the folder.
void update_drive(const SuitePaths& paths, Operator& op, const std::string& path_text);

// Stages the floppy's collection file into the work folder. True only when
// the staging file now holds a complete copy.
bool copy_file(const SuitePaths& paths, Operator& op);

// The "..." button: the path box text after the file dialog, which is the
// chosen file, or `path_text` unchanged when the operator cancels.
std::string choose_source_file(Operator& op, const std::string& dialog_dir, const std::string& path_text);

}  // namespace kiv::source
