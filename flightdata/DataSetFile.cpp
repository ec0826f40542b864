// The data set file: one flight's raw packets, the settings record as it stood
// and the user's comment.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "device/Altimeter.h"
#include "device/TraceLog.h"
#include "device/Utf8.h"
#include "flightdata/ReplacingFile.h"

namespace {

constexpr uint8_t kMagic[16] = {0x78, 0x5A, 0xA7, 0xFF, 0x32, 0x04, 0x82, 0x4C,
                                0x93, 0x9F, 0x89, 0x2D, 0x31, 0xA4, 0x7A, 0xBC};
constexpr uint16_t kFileVersion = 0x0200;
constexpr uint16_t kFileVersionMask = 0xFFF0;
constexpr uint16_t kReservedWord = 0x0400;
constexpr size_t kPacketBytes = 64;

void Write16(std::ostream& out, uint16_t v) {
  const char bytes[2] = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
  out.write(bytes, 2);
}

void Write32(std::ostream& out, uint32_t v) {
  const char bytes[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                         static_cast<char>(v >> 24)};
  out.write(bytes, 4);
}

bool Read16(std::istream& in, uint16_t& v) {
  uint8_t b[2];
  if (!in.read(reinterpret_cast<char*>(b), 2)) return false;
  v = static_cast<uint16_t>(b[0] | (b[1] << 8));
  return true;
}

bool Read32(std::istream& in, uint32_t& v) {
  uint8_t b[4];
  if (!in.read(reinterpret_cast<char*>(b), 4)) return false;
  v = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
      (static_cast<uint32_t>(b[3]) << 24);
  return true;
}

std::string UpToNul(const std::string& text) { return text.substr(0, std::min(text.find('\0'), text.size())); }

// What a seekable stream still holds; 0 when it cannot tell (a pipe), which
// only costs the reader its reservation.
uintmax_t BytesLeft(std::istream& in) {
  std::streampos at = in.tellg();
  if (at < 0) return 0;
  in.seekg(0, std::ios::end);
  std::streampos end = in.tellg();
  in.seekg(at);
  if (!in || end < at) {
    in.clear(in.rdstate() & ~std::ios::failbit);
    return 0;
  }
  return static_cast<uintmax_t>(end - at);
}

}  // namespace

bool CAltimeter::SaveDataSet(const std::wstring& path, int32_t set) {
  TraceLog << "Selected set to save: " << set << std::endl;
  CReplacingFile file(path);
  if (!file.IsOpen()) return false;
  WriteDataSet(file.Stream(), set);
  return file.Commit();
}

void CAltimeter::WriteDataSet(std::ostream& out, int32_t set) {
  std::lock_guard<std::recursive_mutex> lock(dataLock);

  out.write(reinterpret_cast<const char*>(kMagic), sizeof kMagic);
  Write16(out, kFileVersion);
  for (int i = 0; i < 3; ++i) Write16(out, kReservedWord);
  int32_t s = FirstPacketOfSet(set);
  TraceLog << "Set address: " << s << std::endl;
  uint16_t count = PacketCountOfSet(set);
  TraceLog << "Packet Count: " << count << std::endl;
  Write16(out, count);
  for (uint16_t i = 0; i < count && out.good(); ++i) {
    std::array<uint8_t, 64> bytes = packets[static_cast<size_t>(s) + i].ToBytes();
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  settings.WriteToStream(out);

  std::string comment;
  if (set >= 0 && static_cast<size_t>(set) < comments.size()) comment = UpToNul(comments[static_cast<size_t>(set)]);
  TraceLog << "Comment: " << comment << std::endl;
  if (out.good()) {
    Write32(out, static_cast<uint32_t>(comment.size() + 1));
    out.write(comment.c_str(), static_cast<std::streamsize>(comment.size() + 1));
  }
}

DataSetFileStatus ReadDataSetFile(const std::wstring& path, DataSetFileContents& contents) {
  std::ifstream in(FilePath(path), std::ios::in | std::ios::binary);
  if (!in.is_open()) return DataSetFileStatus::CannotOpen;
  return ReadDataSet(in, contents);
}

DataSetFileStatus ReadDataSet(std::istream& in, DataSetFileContents& contents) {
  uint8_t magic[16] = {};
  in.read(reinterpret_cast<char*>(magic), sizeof magic);
  if (!in || std::memcmp(magic, kMagic, sizeof kMagic) != 0) {
    TraceLog << "Not an ULK file." << std::endl;
    return DataSetFileStatus::NotDataSetFile;
  }
  uint16_t version = 0;
  if (!Read16(in, version)) return DataSetFileStatus::Truncated;
  if ((version & kFileVersionMask) != kFileVersion) return DataSetFileStatus::WrongVersion;
  uint16_t reserved = 0;
  for (int i = 0; i < 3; ++i) Read16(in, reserved);
  TraceLog << "Correct version." << std::endl;

  uint16_t count = 0;
  Read16(in, count);
  TraceLog << "Packet count: " << count << std::endl;
  contents.packets.clear();
  // The count is the file's word: reserve no more than the stream can hold.
  contents.packets.reserve(static_cast<size_t>(std::min<uintmax_t>(count, BytesLeft(in) / kPacketBytes)));
  for (uint16_t i = 0; i < count; ++i) {
    if (!in.good()) return DataSetFileStatus::Truncated;
    uint8_t bytes[kPacketBytes];
    if (!in.read(reinterpret_cast<char*>(bytes), sizeof bytes)) return DataSetFileStatus::Truncated;
    TraceLog << "Read packet " << i << std::endl;
    contents.packets.push_back(CFlashPacket::FromBytes(bytes));
  }

  if (!in.good()) return DataSetFileStatus::Truncated;
  bool settingsValid = contents.settings.ReadFromStream(in);

  // Likewise the comment length: it grows only by what actually arrives.
  contents.comment.clear();
  uint32_t length = 0;
  if (in.good() && Read32(in, length)) {
    char chunk[4096];
    while (length > 0 && in) {
      in.read(chunk, std::min<std::streamsize>(length, sizeof chunk));
      contents.comment.append(chunk, static_cast<size_t>(in.gcount()));
      length -= static_cast<uint32_t>(in.gcount());
    }
    contents.comment = UpToNul(contents.comment);
  }
  return settingsValid ? DataSetFileStatus::Read : DataSetFileStatus::InvalidSettings;
}

bool CAltimeter::LoadDataSet(const std::wstring& path) {
  std::ifstream in(FilePath(path), std::ios::in | std::ios::binary);
  if (!in.is_open()) return false;
  return LoadDataSet(in);
}

bool CAltimeter::LoadDataSet(std::istream& in) {
  // Everything is read aside and taken over only when the whole file proved
  // sound, so a damaged file never destroys an unsaved download.
  DataSetFileContents contents;
  {
    std::lock_guard<std::recursive_mutex> lock(dataLock);
    contents.settings = settings;
  }
  if (ReadDataSet(in, contents) != DataSetFileStatus::Read) return false;
  std::lock_guard<std::recursive_mutex> lock(dataLock);
  packets = std::move(contents.packets);
  settings = contents.settings;
  comments.assign(1, contents.comment);
  TraceLog << "Comment: " << contents.comment << std::endl;
  return true;
}
