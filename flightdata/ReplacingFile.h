// A file written beside its target and put in its place only once every byte
// is on disk, so that a failed write never leaves a truncated file where the
// user's earlier one was.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

class CReplacingFile {
 public:
  explicit CReplacingFile(const std::wstring& target);
  ~CReplacingFile();
  CReplacingFile(const CReplacingFile&) = delete;
  CReplacingFile& operator=(const CReplacingFile&) = delete;

  // False when the target cannot be written (its folder, or an existing file
  // that is read-only or locked).
  bool IsOpen() const { return open_; }
  std::ostream& Stream() { return out_; }
  // Flushes and closes the temporary file and moves it over the target; false
  // (and the target untouched) when any write failed.
  bool Commit();

 private:
  std::filesystem::path target_;
  std::filesystem::path temp_;
  std::ofstream out_;
  bool open_ = false;
  bool committed_ = false;
};
