// The logbook: a row for every data set of every data set file under some
// files and folders, written out file by file as a table, JSON or CSV.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "flightdata/FlightSummary.h"

struct LogbookRow {
  std::string file;            // the path as found: UTF-8 on Windows, the name's own bytes elsewhere
  std::optional<int32_t> set;  // from 1; none for a file that holds no data set
  FlightSummary summary;
  // A file carries one comment, which a loaded file gives its first set; the
  // sets after it have none.
  std::optional<std::string> comment;
  // Why the file or folder could not be read; a row with an error has nothing else.
  std::optional<std::string> error;
};

// Hands `row` the rows of each path in the order given: a file whatever its
// name, a folder's data set files (.ulk in any case) through all its
// subfolders in path order, each file's sets in their order. A file is read
// and decoded whole, its rows handed over, and dropped before the next.
// Answers false when any file or folder could not be read (its row says why).
// With standardInput, a path "-" is the data set file read from it.
bool ForEachLogbookRow(const std::vector<std::filesystem::path>& paths,
                       const std::function<void(const LogbookRow&)>& row, std::istream* standardInput = nullptr);

enum class LogbookFormat { Table, Json, Csv };

// Writes the rows as they come, flushing after each.
class LogbookWriter {
 public:
  LogbookWriter(std::ostream& out, LogbookFormat format);
  void Begin();
  void Write(const LogbookRow& row);
  void End();

 private:
  std::ostream& out_;
  LogbookFormat format_;
  bool first_ = true;
};

// The whole logbook of the paths; answers as ForEachLogbookRow.
bool WriteLogbook(const std::vector<std::filesystem::path>& paths, LogbookFormat format, std::ostream& out,
                  std::istream* standardInput = nullptr);

// A CSV field as RFC 4180 has it: quoted, with quotes doubled, when it holds a
// comma, a quote or a line break.
std::string CsvField(const std::string& text);
