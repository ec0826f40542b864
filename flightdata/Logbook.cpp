#include "flightdata/Logbook.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

#include "device/Altimeter.h"
#include "device/Utf8.h"
#include "flightdata/FlightJson.h"

namespace fs = std::filesystem;

namespace {

std::string PathText(const fs::path& path) {
#ifdef _WIN32
  return ToUtf8(path.wstring());
#else
  return path.string();
#endif
}

bool HasDataSetExtension(const fs::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return extension == ".ulk";
}

std::string StatusText(DataSetFileStatus status) {
  switch (status) {
    case DataSetFileStatus::NotDataSetFile: return "not a data set file";
    case DataSetFileStatus::WrongVersion: return "a data set file of an unknown version";
    case DataSetFileStatus::Truncated: return "damaged: the file ends inside its flight data";
    default: return "cannot be read";
  }
}

class LogbookRun {
 public:
  LogbookRun(const std::function<void(const LogbookRow&)>& row, std::istream* standardInput)
      : row_(row), standardInput_(standardInput) {}

  void Path(const fs::path& path) {
    if (standardInput_ && path == "-") return Read(path, *standardInput_);
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) return Error(path, "no such file or folder");
    if (fs::is_directory(status)) return Folder(path);
    File(path);
  }

  bool AllRead() const { return allRead_; }

 private:
  void Error(const fs::path& path, std::string reason) {
    allRead_ = false;
    LogbookRow row;
    row.file = PathText(path);
    row.error = std::move(reason);
    row_(row);
  }

  // Only the names of one folder are held at a time, sorted so that the walk
  // goes in path order. A link to a folder is not followed: it could loop.
  void Folder(const fs::path& folder) {
    struct Entry {
      fs::path path;
      bool folder;
    };
    std::vector<Entry> entries;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
      std::error_code typeError;
      if (it->is_directory(typeError) && !it->is_symlink(typeError)) {
        entries.push_back({it->path(), true});
      } else if (HasDataSetExtension(it->path())) {
        // A dangling link is listed, with the reason it cannot be read; a
        // pipe or a device is not a file to open.
        fs::file_type type = it->status(typeError).type();
        if (type == fs::file_type::regular || type == fs::file_type::not_found) entries.push_back({it->path(), false});
      }
    }
    // What could be listed before a failure is still read.
    if (ec) Error(folder, "the folder cannot be read: " + ec.message());
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.path < b.path; });
    for (const Entry& entry : entries) {
      if (entry.folder) {
        Folder(entry.path);
      } else {
        File(entry.path);
      }
    }
  }

  void File(const fs::path& path) {
    errno = 0;
    std::ifstream in(path, std::ios::in | std::ios::binary);
    if (!in.is_open()) {
      int error = errno;
      return Error(path, error ? "cannot be opened: " + std::generic_category().message(error) : "cannot be opened");
    }
    Read(path, in);
  }

  void Read(const fs::path& path, std::istream& in) {
    if (in.peek() == std::istream::traits_type::eof()) {
      if (in.bad()) return Error(path, "cannot be read");
      return Error(path, "empty file");
    }
    DataSetFileContents contents;
    DataSetFileStatus status = ReadDataSet(in, contents);
    if (in.bad()) return Error(path, "cannot be read");
    // A settings record that fails its checksum does not touch the flights.
    if (status != DataSetFileStatus::Read && status != DataSetFileStatus::InvalidSettings)
      return Error(path, StatusText(status));

    altimeter_.packets = std::move(contents.packets);
    LogbookRow row;
    row.file = PathText(path);
    const int32_t sets = altimeter_.CountDataSets();
    if (sets == 0) {
      // Listed all the same, so that a file without a flight is seen.
      row.comment = contents.comment;
      row_(row);
      return;
    }
    for (int32_t set = 0; set < sets; ++set) {
      // As a fresh process decodes a file: an implausible first sample takes
      // 0, not the altitude of whatever was decoded before.
      SetLastValidAltitude(0.0f);
      altimeter_.SelectDataSet(set);
      row.set = set + 1;
      row.summary = SummariseFlight(altimeter_.flight);
      if (set == 0) {
        row.comment = contents.comment;
      } else {
        row.comment.reset();
      }
      row_(row);
    }
  }

  const std::function<void(const LogbookRow&)>& row_;
  std::istream* standardInput_;
  CAltimeter altimeter_;
  bool allRead_ = true;
};

// --- formats

// The keys of a row in their order, each with its value as the CSV has it:
// null (an empty field), a number's text, or a string.
struct Field {
  const char* key;
  enum Kind { Null, Number, Text } kind;
  std::string value;
};

std::vector<Field> FieldsOf(const LogbookRow& row) {
  const FlightSummary& s = row.summary;
  const bool flight = !row.error;
  auto number = [](const char* key, const std::optional<double>& value) {
    return value ? Field{key, Field::Number, FormatStreamNumber(*value)} : Field{key, Field::Null, {}};
  };
  auto text = [](const char* key, const std::optional<std::string>& value) {
    return value ? Field{key, Field::Text, *value} : Field{key, Field::Null, {}};
  };
  return {
      {"file", Field::Text, row.file},
      row.set ? Field{"set", Field::Number, std::to_string(*row.set)} : Field{"set", Field::Null, {}},
      flight ? Field{"samples", Field::Number, std::to_string(s.samples)} : Field{"samples", Field::Null, {}},
      number("duration", flight ? std::optional<double>(s.duration) : std::nullopt),
      number("groundAltitudeMsl", s.groundAltitudeMsl),
      number("apogeeAgl", s.apogeeAgl),
      number("apogeeTime", s.apogeeTime),
      number("maxVelocity", s.maxVelocity),
      number("maxVelocityTime", s.maxVelocityTime),
      number("lineAFirstFired", s.lineAFirstFired),
      number("lineBFirstFired", s.lineBFirstFired),
      number("batteryMin", s.batteryMin),
      number("temperatureMin", s.temperatureMin),
      number("temperatureMax", s.temperatureMax),
      text("comment", row.comment),
      text("error", row.error),
  };
}

// --- the table: fixed widths, so that a row is written as soon as its file is read

struct Column {
  const char* heading;
  int width;
};

// The figures first, so that they line up whatever the length of a path; then
// the set and the file, and the comment last.
constexpr Column kFigureColumns[] = {
    {"samples", 7},  {"time s", 7}, {"ground m", 8}, {"apogee m", 8}, {"at s", 6},   {"vmax m/s", 8},
    {"at s", 6},     {"line A s", 8}, {"line B s", 8}, {"batt V", 6},  {"tmin C", 6}, {"tmax C", 6},
};
constexpr int kSetWidth = 3;
constexpr int kFileWidth = 32;
constexpr const char* kGap = "  ";

// Characters rather than bytes, as a terminal shows UTF-8.
size_t DisplayLength(const std::string& text) {
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

void PadRight(std::string& out, const std::string& text, int width) {
  out += text;
  size_t length = DisplayLength(text);
  if (length < static_cast<size_t>(width)) out.append(static_cast<size_t>(width) - length, ' ');
}

void PadLeft(std::string& out, const std::string& text, int width) {
  size_t length = DisplayLength(text);
  if (length < static_cast<size_t>(width)) out.append(static_cast<size_t>(width) - length, ' ');
  out += text;
}

// One line a flight: line breaks and other control characters become spaces.
std::string OnOneLine(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return text;
}

std::string Fixed1(const std::optional<double>& value) {
  if (!value) return "-";
  char text[64];
  std::snprintf(text, sizeof text, "%.1f", *value);
  return text;
}

std::string TableHeader() {
  std::string line;
  for (const Column& column : kFigureColumns) {
    PadLeft(line, column.heading, column.width);
    line += kGap;
  }
  PadLeft(line, "set", kSetWidth);
  line += kGap;
  PadRight(line, "file", kFileWidth);
  line += kGap;
  line += "comment";
  return line + "\n";
}

std::string TableLine(const LogbookRow& row) {
  std::string line;
  if (row.error) {
    int span = kSetWidth;
    for (const Column& column : kFigureColumns) span += column.width + 2;
    PadRight(line, "error: " + OnOneLine(*row.error), span);
  } else {
    const FlightSummary& s = row.summary;
    const std::string figures[] = {
        std::to_string(s.samples),    Fixed1(s.duration),        Fixed1(s.groundAltitudeMsl),
        Fixed1(s.apogeeAgl),          Fixed1(s.apogeeTime),      Fixed1(s.maxVelocity),
        Fixed1(s.maxVelocityTime),    Fixed1(s.lineAFirstFired), Fixed1(s.lineBFirstFired),
        Fixed1(s.batteryMin),         Fixed1(s.temperatureMin),  Fixed1(s.temperatureMax),
    };
    for (size_t i = 0; i < std::size(kFigureColumns); ++i) {
      PadLeft(line, figures[i], kFigureColumns[i].width);
      line += kGap;
    }
    PadLeft(line, row.set ? std::to_string(*row.set) : "-", kSetWidth);
  }
  line += kGap;
  PadRight(line, OnOneLine(row.file), kFileWidth);
  if (row.comment && !row.comment->empty()) {
    line += kGap;
    line += OnOneLine(*row.comment);
  }
  // What padding a short path left at the end of the line is not kept.
  line.erase(line.find_last_not_of(' ') + 1);
  return line + "\n";
}

std::string CsvRecord(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += ',';
    line += fields[i];
  }
  return line + "\r\n";
}

}  // namespace

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

bool ForEachLogbookRow(const std::vector<fs::path>& paths, const std::function<void(const LogbookRow&)>& row,
                       std::istream* standardInput) {
  // The carried altitude is the process's; the logbook leaves it as it found it.
  const float carried = LastValidAltitude();
  LogbookRun run(row, standardInput);
  for (const fs::path& path : paths) run.Path(path);
  SetLastValidAltitude(carried);
  return run.AllRead();
}

LogbookWriter::LogbookWriter(std::ostream& out, LogbookFormat format) : out_(out), format_(format) {}

void LogbookWriter::Begin() {
  if (format_ == LogbookFormat::Table) {
    out_ << TableHeader();
  } else if (format_ == LogbookFormat::Csv) {
    std::vector<std::string> keys;
    for (const Field& field : FieldsOf(LogbookRow{})) keys.push_back(field.key);
    out_ << CsvRecord(keys);
  } else {
    out_ << "[";
  }
  out_.flush();
}

void LogbookWriter::Write(const LogbookRow& row) {
  if (format_ == LogbookFormat::Table) {
    out_ << TableLine(row);
  } else if (format_ == LogbookFormat::Csv) {
    std::vector<std::string> values;
    for (const Field& field : FieldsOf(row)) values.push_back(field.kind == Field::Text ? CsvField(field.value) : field.value);
    out_ << CsvRecord(values);
  } else {
    // A row a line, with info's keys and values for what they share.
    Json object;
    object["file"] = JsonText(row.file);
    object["set"] = row.set ? Json(*row.set) : Json(nullptr);
    PutSummary(object, row.error ? nullptr : &row.summary);
    object["comment"] = row.comment ? JsonText(*row.comment) : Json(nullptr);
    object["error"] = row.error ? JsonText(*row.error) : Json(nullptr);
    out_ << (first_ ? "\n" : ",\n") << JsonLine(object);
  }
  first_ = false;
  out_.flush();
}

void LogbookWriter::End() {
  if (format_ == LogbookFormat::Json) out_ << (first_ ? "]\n" : "\n]\n");
  out_.flush();
}

bool WriteLogbook(const std::vector<fs::path>& paths, LogbookFormat format, std::ostream& out,
                  std::istream* standardInput) {
  LogbookWriter writer(out, format);
  writer.Begin();
  bool allRead = ForEachLogbookRow(paths, [&](const LogbookRow& row) { writer.Write(row); }, standardInput);
  writer.End();
  return allRead;
}
