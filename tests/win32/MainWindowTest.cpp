// Start-up and the main window, driven in-process with the message boxes and
// file dialogs answered by the test.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/DialogWindow.h"
#include "app/MainWindow.h"
#include "device/Altimeter.h"
#include "resources/resource.h"
#include "tests/TestSupport.h"
#include "tests/win32/WaitBound.h"

namespace {

std::wstring Fixture(const char* name) { return FixturePath(name).wstring(); }

struct Asked {
  UINT id;
  std::wstring text;
  UINT style;
};

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    CAltimeter& altimeter = Altimeter();
    altimeter.packets.clear();
    altimeter.flight = FlightData();
    SetMessageSeam([this](HWND owner, UINT id, const std::wstring& text, UINT style) {
      EXPECT_EQ(owner, MainWindowHandle());
      asked.push_back({id, text, style});
      return answer;
    });
    SetFileDialogSeam([this](OPENFILENAMEW& request, bool save) {
      requests.push_back(request.lpstrTitle ? request.lpstrTitle : L"");
      requestFlags.push_back(request.Flags);
      (void)save;
      if (chosen.empty()) return false;
      wcsncpy(request.lpstrFile, chosen.c_str(), request.nMaxFile - 1);
      return true;
    });
  }
  void TearDown() override {
    SetMessageSeam(nullptr);
    SetFileDialogSeam(nullptr);
    // A quit left by a closed main window must not end later tests' dialogs.
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }

  ScratchDir dir;
  std::vector<Asked> asked;
  std::vector<std::wstring> requests;
  std::vector<DWORD> requestFlags;
  std::wstring chosen;
  int answer = IDYES;
};

TEST_F(MainWindow, StartsOnAFileQuotedOrNotAndShowsSetZero) {
  const std::wstring path = Fixture("small-flight.ulk");
  for (const std::wstring& commandLine : {L"\"" + path + L"\"", path}) {
    SCOPED_TRACE(std::string(commandLine.begin(), commandLine.end()));
    Altimeter().flight = FlightData();
    TraceCapture trace;
    CProgram program(GetModuleHandleW(nullptr));
    ASSERT_TRUE(program.Start(commandLine));
    EXPECT_TRUE(asked.empty());
    EXPECT_TRUE(trace.Has("Loaded data set."));
    EXPECT_EQ(trace.Lines().at(0), "- ULK USB -");
    EXPECT_EQ(trace.Lines().at(1), "");
    HWND window = MainWindowHandle();
    ASSERT_TRUE(IsWindow(window));
    EXPECT_TRUE(IsZoomed(window));
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    EXPECT_STREQ(title, L"ULK USB 4.00");
    EXPECT_EQ(Altimeter().flight.selectedSet, 0);
    EXPECT_FALSE(Altimeter().flight.altitudeMsl.empty());
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(Altimeter().plotFrame.width, client.right);
    EXPECT_EQ(Altimeter().plotFrame.height, client.bottom);

    // Closing, confirmed, ends the loop.
    answer = IDYES;
    PostMessageW(window, WM_CLOSE, 0, 0);
    {
      WaitBound bound([] { return std::string("the main window's message loop"); }, kRunBoundMs,
                      [window] { DestroyWindow(window); }, window);
      program.Run();
    }
    EXPECT_FALSE(IsWindow(window));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].id, static_cast<UINT>(IDS_ARE_YOU_SURE));
    EXPECT_EQ(asked[0].text, L"Are you sure?");
    EXPECT_EQ(asked[0].style, static_cast<UINT>(MB_YESNO | MB_ICONWARNING));
    asked.clear();
  }
}

TEST_F(MainWindow, ADamagedFileShowsMessage109AndEnds) {
  const std::wstring path = dir.WidePath("ulk-damaged.ulk");
  WriteFileBytes(path, "not a data set file at all");
  CProgram program(GetModuleHandleW(nullptr));
  EXPECT_FALSE(program.Start(L"\"" + path + L"\""));
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].id, static_cast<UINT>(IDS_LOAD_FAILED));
  EXPECT_EQ(asked[0].text, L"Could not load file. Make sure the file is valid and not locked.");
  EXPECT_EQ(asked[0].style, static_cast<UINT>(MB_ICONERROR));
}

TEST_F(MainWindow, NoToAreYouSureKeepsTheProgramAndExitAsksToo) {
  CProgram program(GetModuleHandleW(nullptr));
  ASSERT_TRUE(program.Start(L""));
  HWND window = MainWindowHandle();
  answer = IDNO;
  SendMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(window));
  SendMessageW(window, WM_COMMAND, ID_FILE_EXIT, 0);
  EXPECT_TRUE(IsWindow(window));
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[1].id, static_cast<UINT>(IDS_ARE_YOU_SURE));
  answer = IDYES;
  SendMessageW(window, WM_COMMAND, ID_FILE_EXIT, 0);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(asked.size(), 3u);
}

TEST_F(MainWindow, ExportsNeedADataSetAndWriteTheChosenFile) {
  CProgram program(GetModuleHandleW(nullptr));
  ASSERT_TRUE(program.Start(L""));
  HWND window = MainWindowHandle();
  chosen = dir.WidePath("ulk-export.csv");
  SendMessageW(window, WM_COMMAND, ID_FILE_EXPORT_CSV, 0);
  SendMessageW(window, WM_COMMAND, ID_FILE_EXPORT_XML, 0);
  EXPECT_TRUE(requests.empty());  // no data set: nothing at all
  EXPECT_TRUE(asked.empty());

  ASSERT_TRUE(LoadAndShowDataSet(Fixture("small-flight.ulk")));
  SendMessageW(window, WM_COMMAND, ID_FILE_EXPORT_CSV, 0);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], L"Export to CSV");
  EXPECT_EQ(requestFlags[0], static_cast<DWORD>(OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY));
  EXPECT_EQ(ReadFileBytes(chosen), ReadFileBytes(Fixture("small-flight.csv")));

  // A target that cannot be written: message 104.
  chosen = dir.WidePath("no-such-directory\\ulk-export.xml");
  SendMessageW(window, WM_COMMAND, ID_FILE_EXPORT_XML, 0);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1], L"Export to XML");
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].id, static_cast<UINT>(IDS_SAVE_FAILED));

  // Cancelling the dialog does nothing.
  chosen.clear();
  SendMessageW(window, WM_COMMAND, ID_FILE_EXPORT_CSV, 0);
  EXPECT_EQ(requests.size(), 3u);
  EXPECT_EQ(asked.size(), 1u);
}

TEST_F(MainWindow, OpenLoadsTheChosenFileOrSaysItCannot) {
  CProgram program(GetModuleHandleW(nullptr));
  ASSERT_TRUE(program.Start(L""));
  HWND window = MainWindowHandle();
  chosen = Fixture("small-flight.ulk");
  SendMessageW(window, WM_COMMAND, ID_FILE_OPEN, 0);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], L"Load data set");
  EXPECT_EQ(requestFlags[0], static_cast<DWORD>(OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST));
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(Altimeter().flight.selectedSet, 0);
  EXPECT_FALSE(Altimeter().flight.altitudeMsl.empty());

  chosen = dir.WidePath("ulk-missing.ulk");
  SendMessageW(window, WM_COMMAND, ID_FILE_OPEN, 0);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].id, static_cast<UINT>(IDS_LOAD_FAILED));
}

TEST_F(MainWindow, ADownloadLeavingNoSetSelectedShowsSetZero) {
  CProgram program(GetModuleHandleW(nullptr));
  ASSERT_TRUE(program.Start(L""));
  ASSERT_TRUE(Altimeter().LoadDataSet(Fixture("small-flight.ulk")));
  TraceCapture trace;
  ShowDownloadedSet(-1);
  EXPECT_TRUE(trace.Has("Selected Set: -1"));
  EXPECT_EQ(Altimeter().flight.selectedSet, 0);
  EXPECT_FALSE(Altimeter().flight.altitudeMsl.empty());
}

TEST_F(MainWindow, TheWindowCannotBeMadeSmallerThan420By320) {
  CProgram program(GetModuleHandleW(nullptr));
  ASSERT_TRUE(program.Start(L""));
  MINMAXINFO info{};
  SendMessageW(MainWindowHandle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, 420);
  EXPECT_EQ(info.ptMinTrackSize.y, 320);
}

}  // namespace
