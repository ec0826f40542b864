#include <gtest/gtest.h>

#include <sstream>

#include "settings/SettingsFile.h"

namespace {

// Every field at its default, its lowest and its highest value goes through a
// settings file and comes back as the same packet.
TEST(SettingsFile, WrittenAndReadBackAtTheEndsOfEveryRange) {
  SettingsRecord lowest, highest;
  for (const SettingsField& field : kSettingsFields) {
    field.set(lowest, field.minimum);
    field.set(highest, field.maximum);
  }
  for (SettingsRecord record : {SettingsRecord{}, lowest, highest}) {
    record.BuildPacket();
    std::stringstream file;
    WriteSettingsFile(file, record);
    SettingsRecord read;
    read.lineAValue = 1;  // not what the file holds
    std::string problem;
    ASSERT_TRUE(ReadSettingsFile(file, read, problem)) << problem << "\n" << file.str();
    EXPECT_EQ(read.packet, record.packet) << file.str();
    for (const SettingsField& field : kSettingsFields) EXPECT_EQ(field.get(read), field.get(record)) << field.name;
  }
}

TEST(SettingsFile, ARefusedFileLeavesTheRecordAsItWas) {
  SettingsRecord record;
  record.lineBValue = 321;
  record.BuildPacket();
  const SettingsRecord before = record;
  std::istringstream file(std::string(kSettingsFileSignature) + "\nlineAMode = 1\n");
  std::string problem;
  EXPECT_FALSE(ReadSettingsFile(file, record, problem));
  EXPECT_EQ(problem, "deviceFlag is missing");
  EXPECT_EQ(record.packet, before.packet);
  EXPECT_EQ(record.lineAMode, before.lineAMode);
}

}  // namespace
