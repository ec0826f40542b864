// What the user is told about an update: the lines of each result and the
// progress lines.
#include "firmware/UpdateMessages.h"

#include "tests/TestSupport.h"

namespace {

TEST(UpdateMessagesTest, EachResultIsToldWithItsLines) {
  const std::wstring removed = L"This was most likely caused by prematurely removing the device.";
  const std::wstring retry = L"Please reconnect and try again.";
  // Every version different, so that each line shows which one it tells.
  const UpdateVersions versions{0x0101, 0x0302, 0x0410, 0x0500};
  const std::pair<UpdateResult, std::vector<std::wstring>> cases[] = {
      {UpdateOk, {L"New firmware version: 5.00", L"Firmware updated successfully."}},
      {UpdateFileNotOpened, {L"The file could not be opened."}},
      {UpdateNotFirmwareFile, {L"This is not a valid firmware file."}},
      {UpdateWrongFormatVersion, {L"Incorrect file version.", L"File version: 1.01", L"Expected version: 1.00"}},
      {UpdateWrongFirmwareVersion,
       {L"The firmware version is not intended for use with this software version.", L"New firmware version: 5.00",
        L"Expected version: 4.00"}},
      {UpdateWrongBootloaderVersion,
       {L"The firmware version is not intended for use with this bootloader version.",
        L"Your device bootloader version: 4.00", L"Expected version: 4.10"}},
      {UpdateWrongHardwareVersion,
       {L"The firmware version is not intended for use with your hardware version.", L"Your hardware version: 3.02",
        L"Expected version: 4.00"}},
      {UpdateIoError, {L"There was a timeout on a read operation.", removed, retry}},
      {UpdateProtocolError, {L"There was a protocol error.", removed, retry}},
      {UpdateNotInBootloaderMode, {L"The device is not in bootloader mode."}},
      {UpdateChannelNotOpened, {}},
  };
  for (const auto& [result, lines] : cases) {
    SCOPED_TRACE(result);
    EXPECT_EQ(UpdateResultLines(result, versions), lines);
  }
  EXPECT_EQ(std::wstring(kUpdateFailed), L"Failed to update firmware.");
}

// Runs one update's reports (0 to lastBlock of lastBlock) and answers the lines told.
std::vector<std::wstring> RunUpdate(UpdateProgressLines& progress, int lastBlock) {
  std::vector<std::wstring> told;
  for (int block = 0; block <= lastBlock; ++block) {
    std::wstring line = progress.OnProgress(block, lastBlock);
    if (!line.empty()) told.push_back(line);
  }
  return told;
}

TEST(UpdateMessagesTest, ProgressTellsEachNewTenAndRemembersTheLastAcrossUpdates) {
  const std::vector<std::wstring> tens = {L"10%", L"20%", L"30%", L"40%", L"50%",
                                          L"60%", L"70%", L"80%", L"90%", L"100%"};
  std::vector<std::wstring> again = tens;
  again.insert(again.begin(), L"0%");

  UpdateProgressLines progress;
  EXPECT_EQ(RunUpdate(progress, 16), tens);   // 0%, 6% ... fall in the starting ten: no line
  EXPECT_EQ(RunUpdate(progress, 16), again);  // after 100% the next update starts with 0%
  EXPECT_EQ(RunUpdate(progress, 3), (std::vector<std::wstring>{L"0%", L"30%", L"60%", L"100%"}));

  // A file of less than one block: a single report of 100%, told only when 100% is new.
  UpdateProgressLines single;
  TraceCapture trace;
  EXPECT_EQ(RunUpdate(single, 0), std::vector<std::wstring>{L"100%"});
  EXPECT_EQ(RunUpdate(single, 0), std::vector<std::wstring>{});
  EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"100", "100"}));
}

TEST(UpdateMessagesTest, EveryPercentageIsTraced) {
  UpdateProgressLines progress;
  TraceCapture trace;
  RunUpdate(progress, 7);
  EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"0", "14", "28", "42", "57", "71", "85", "100"}));
}

}  // namespace
