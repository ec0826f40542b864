// A data set file in a logbook: whatever its bytes, the JSON is valid JSON
// (UTF-8, every key in every row), the CSV has a record of every key for each
// row, the table a line for each, and the comment comes through: as stored
// in CSV, and in JSON as the same text wherever it is UTF-8.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "flightdata/FlightData.h"
#include "flightdata/Logbook.h"
#include "fuzz/FuzzSupport.h"

namespace {

const std::vector<std::string> kKeys = {"file",           "set",          "samples",         "duration",
                                        "groundAltitudeMsl", "apogeeAgl", "apogeeTime",      "maxVelocity",
                                        "maxVelocityTime", "lineAFirstFired", "lineBFirstFired", "batteryMin",
                                        "temperatureMin", "temperatureMax", "comment",       "error"};

// Strict UTF-8, written apart from the logbook's own reading of it.
bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return false;
    uint32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (size_t k = 1; k < n; ++k) {
      unsigned char d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The JSON grammar, enough of it to take the logbook apart: an array of
// objects whose values are null, numbers or strings.
class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : s_(text) {}

  bool Rows(std::vector<std::vector<std::pair<std::string, std::string>>>& rows) {
    Space();
    if (!Take('[')) return false;
    Space();
    if (Take(']')) return End();
    do {
      Space();
      rows.emplace_back();
      if (!Object(rows.back())) return false;
      Space();
    } while (Take(','));
    return Take(']') && End();
  }

 private:
  bool End() {
    Space();
    return i_ == s_.size();
  }
  void Space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t')) ++i_;
  }
  bool Take(char c) {
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool Object(std::vector<std::pair<std::string, std::string>>& fields) {
    if (!Take('{')) return false;
    do {
      Space();
      std::string key, value;
      if (!String(key)) return false;
      Space();
      if (!Take(':')) return false;
      Space();
      if (s_.compare(i_, 4, "null") == 0) {
        i_ += 4;
        value = "null";
      } else if (i_ < s_.size() && s_[i_] == '"') {
        if (!String(value)) return false;
        value = "s" + value;
      } else if (!Number(value)) {
        return false;
      }
      fields.emplace_back(key, value);
      Space();
    } while (Take(','));
    return Take('}');
  }
  bool Digits() {
    size_t from = i_;
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
    return i_ > from;
  }
  bool Number(std::string& value) {
    size_t from = i_;
    Take('-');
    if (Take('0')) {
    } else if (i_ < s_.size() && s_[i_] >= '1' && s_[i_] <= '9') {
      Digits();
    } else {
      return false;
    }
    if (Take('.') && !Digits()) return false;
    if (Take('e') || Take('E')) {
      if (!Take('+')) Take('-');
      if (!Digits()) return false;
    }
    value = "n" + s_.substr(from, i_ - from);
    return true;
  }
  bool String(std::string& out) {
    if (!Take('"')) return false;
    size_t rawFrom = i_;
    while (i_ < s_.size() && s_[i_] != '"') {
      unsigned char c = static_cast<unsigned char>(s_[i_++]);
      if (c < 0x20) return false;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (i_ >= s_.size()) return false;
      char e = s_[i_++];
      const char* simple = "\"\\/bfnrt";
      const char* meant = "\"\\/\b\f\n\r\t";
      if (const char* at = e ? std::strchr(simple, e) : nullptr) {
        out += meant[at - simple];
      } else if (e == 'u' && i_ + 4 <= s_.size()) {
        uint32_t cp = 0;
        for (int k = 0; k < 4; ++k) {
          char h = s_[i_++];
          int digit = h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10 : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
          if (digit < 0) return false;
          cp = cp * 16 + static_cast<uint32_t>(digit);
        }
        // The logbook writes \u only below U+0100: no surrogates to pair.
        if (cp >= 0xD800 && cp <= 0xDFFF) return false;
        AppendUtf8(out, cp);
      } else {
        return false;
      }
    }
    // JSON text is UTF-8, inside strings too.
    return Take('"') && IsUtf8(s_.substr(rawFrom, i_ - 1 - rawFrom));
  }

  const std::string& s_;
  size_t i_ = 0;
};

std::vector<std::vector<std::string>> ParseCsv(const std::string& text, bool& ok) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  bool quoted = false, wasQuoted = false;
  ok = true;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      // A quote opens a field and nowhere else.
      if (!field.empty() || wasQuoted) ok = false;
      quoted = wasQuoted = true;
    } else if (c == ',' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
      record.push_back(field);
      field.clear();
      wasQuoted = false;
      if (c == '\r') {
        records.push_back(record);
        record.clear();
        ++i;
      }
    } else {
      // Unquoted, a field holds no quote or line break.
      if (c == '\n' || c == '\r' || wasQuoted) ok = false;
      field += c;
    }
  }
  if (quoted || !field.empty() || !record.empty()) ok = false;
  return records;
}

std::string Logbook(const std::filesystem::path& file, LogbookFormat format, bool& allRead) {
  std::ostringstream out;
  allRead = WriteLogbook({file}, format, out);
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietFuzzing();
  static const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("ulk-fuzz-logbook-" + std::to_string(::getpid()) + ".ulk");
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  DataSetFileContents contents;
  MemoryStream in(data, size);
  DataSetFileStatus status = ReadDataSet(in, contents);
  const bool readable = status == DataSetFileStatus::Read || status == DataSetFileStatus::InvalidSettings;

  bool jsonRead = false, csvRead = false, tableRead = false;
  const std::string json = Logbook(file, LogbookFormat::Json, jsonRead);
  const std::string csv = Logbook(file, LogbookFormat::Csv, csvRead);
  const std::string table = Logbook(file, LogbookFormat::Table, tableRead);
  std::filesystem::remove(file);
  FUZZ_CHECK(jsonRead == readable && csvRead == readable && tableRead == readable);

  std::vector<std::vector<std::pair<std::string, std::string>>> rows;
  FUZZ_CHECK(JsonReader(json).Rows(rows));
  FUZZ_CHECK(!rows.empty());
  for (const auto& row : rows) {
    FUZZ_CHECK(row.size() == kKeys.size());
    for (size_t k = 0; k < kKeys.size(); ++k) FUZZ_CHECK(row[k].first == kKeys[k]);
  }
  // The file's comment is its first row's: in JSON the same text where it is UTF-8.
  if (readable) {
    FUZZ_CHECK(rows[0][14].second.rfind("s", 0) == 0);
    if (IsUtf8(contents.comment)) FUZZ_CHECK(rows[0][14].second == "s" + contents.comment);
  } else {
    FUZZ_CHECK(rows.size() == 1 && rows[0][15].second != "null");
  }

  bool csvOk = false;
  std::vector<std::vector<std::string>> records = ParseCsv(csv, csvOk);
  FUZZ_CHECK(csvOk);
  FUZZ_CHECK(records.size() == rows.size() + 1);
  FUZZ_CHECK(records[0] == kKeys);
  for (size_t r = 0; r < rows.size(); ++r) {
    FUZZ_CHECK(records[r + 1].size() == kKeys.size());
    // A number or nothing as in JSON; text as stored.
    for (size_t k = 1; k < 14; ++k) {
      const std::string& value = rows[r][k].second;
      FUZZ_CHECK(records[r + 1][k] == (value == "null" ? "" : value.substr(1)));
    }
  }
  if (readable) FUZZ_CHECK(records[1][14] == contents.comment);

  size_t lines = 0;
  for (char c : table) lines += c == '\n';
  FUZZ_CHECK(lines == rows.size() + 1 && !table.empty() && table.back() == '\n');
  return 0;
}
