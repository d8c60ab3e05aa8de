#pragma once

#include <string>

namespace kiv {

// Where the suite keeps its files. Everything follows from `root`.
struct SuitePaths {
  std::string root;  // root_path

  std::string db_path() const { return root + "/mdb/KIV.mdb"; }
  std::string mdb_dir() const { return root + "/mdb"; }
  std::string work_dir() const { return root + "/medi"; }
  std::string default_path() const { return root + "/medi/"; }
  std::string staging_file() const { return root + "/medi/post1003.dat"; }
  std::string exe_dir() const { return root + "/exe"; }
  std::string program(const std::string& name) const { return root + "/exe/" + name; }
};

// root_path: KIV_ROOT when set and not empty, else the executable's folder
// with its last four characters cut off (/opt/suite/exe -> /opt/suite).
std::string root_from_executable_dir(const std::string& exe_dir);
std::string resolve_root(const std::string& exe_dir);

// The floppy drive's mount folder: KIV_FLOPPY when set, else /media/floppy.
std::string floppy_dir();
std::string floppy_file();

// Folder and regular-file tests as the rules mean them: a folder where a file
// is expected counts as missing.
bool folder_exists(const std::string& path);
bool regular_file_exists(const std::string& path);

}  // namespace kiv
