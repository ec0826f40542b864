#include "flightdata/ReplacingFile.h"

#include <system_error>

#include "device/Utf8.h"

namespace fs = std::filesystem;

CReplacingFile::CReplacingFile(const std::wstring& target) {
  if (target.empty()) return;
  target_ = FilePath(target);
  std::error_code ec;
  fs::file_status status = fs::status(target_, ec);
  if (fs::exists(status)) {
    if (!fs::is_regular_file(status)) return;
    // Replacing a file that could not be opened for writing would sidestep its
    // protection: probe it without creating or truncating anything.
    std::fstream probe(target_, std::ios::in | std::ios::out | std::ios::binary);
    if (!probe.is_open()) return;
  }
  temp_ = target_;
  temp_ += ".~ulktmp";
  out_.open(temp_, std::ios::out | std::ios::binary | std::ios::trunc);
  open_ = out_.is_open() && out_.good();
}

CReplacingFile::~CReplacingFile() {
  if (out_.is_open()) out_.close();
  if (open_ && !committed_) {
    std::error_code ec;
    fs::remove(temp_, ec);
  }
}

bool CReplacingFile::Commit() {
  if (!open_ || committed_) return false;
  out_.flush();
  bool good = out_.good();
  out_.close();
  good = good && !out_.fail();
  if (!good) return false;
  std::error_code ec;
  fs::rename(temp_, target_, ec);
  if (ec) return false;
  committed_ = true;
  return true;
}
