#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/TestSupport.h"

namespace {

// A shell command's standard output, and its exit status.
std::string Capture(const std::string& command, int& status) {
  const ToolRun run = RunCommand(command);
  status = run.status;
  return run.out;
}

std::string Capture(const std::string& command) {
  int status = 0;
  return Capture(command, status);
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// The Debian version of a program version, as the build makes it.
std::string DebianVersion(const std::string& version) {
  int status = 0;
  std::string out = Capture("'" ULK_CMAKE_COMMAND "' -DULKUSB_VERSION=" + version + " -P '" ULK_SOURCE_DIR
                            "/cmake/Version.cmake' 2>&1",
                            status);
  EXPECT_EQ(status, 0) << out;
  return FirstLine(out);
}

bool DpkgLess(const std::string& a, const std::string& b) {
  return std::system(("dpkg --compare-versions '" + a + "' lt '" + b + "'").c_str()) == 0;
}

// The program counts its versions in hex; dpkg must put them in that order.
TEST(DebianVersion, DpkgOrdersThePackagesAsTheProgramCountsItsVersions) {
  const std::pair<const char*, const char*> mapped[] = {
      {"4.00", "4.0.0"}, {"4.09", "4.0.9"}, {"4.0a", "4.0.10"}, {"4.0f", "4.0.15"}, {"4.10", "4.1.0"},
      {"4.ff", "4.15.15"}, {"1a.00", "26.0.0"},
  };
  for (const auto& [version, debian] : mapped) EXPECT_EQ(DebianVersion(version), debian) << version;

  std::vector<std::string> ascending;
  for (int minor = 0; minor <= 0x0f; ++minor) {
    char version[8];
    std::snprintf(version, sizeof version, "4.%02x", minor);
    ascending.push_back(version);
  }
  for (const char* later : {"4.10", "4.1f", "4.a0", "4.ff", "5.00", "a.00", "10.00"}) ascending.push_back(later);
  std::string previous;
  for (const std::string& version : ascending) {
    std::string debian = DebianVersion(version) + "-1";
    if (!previous.empty()) {
      EXPECT_TRUE(DpkgLess(previous, debian)) << previous << " < " << debian << " (" << version << ")";
    }
    previous = debian;
  }
  // The earlier packages were versioned "4.00": the first of these replaces them.
  EXPECT_TRUE(DpkgLess("4.00", DebianVersion("4.00") + "-1"));

  EXPECT_NE(Capture("'" ULK_CMAKE_COMMAND "' -DULKUSB_VERSION=4.0 -P '" ULK_SOURCE_DIR "/cmake/Version.cmake' 2>&1")
                .find("is not M.mm"),
            std::string::npos);
}

// Packs this build tree's ulktool once, as `ninja deb` does, for the tests below.
class DebianPackage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = std::make_unique<ScratchDir>();
    out_ = scratch_->Root();
    int status = 0;
    std::string log = Capture(std::string("'" ULK_CPACK_COMMAND "' -G DEB --config '" ULK_BINARY_DIR
                                          "/CPackConfig.cmake' -B '") +
                                  out_ + "' 2>&1",
                              status);
    ASSERT_EQ(status, 0) << log;
    for (const auto& entry : std::filesystem::directory_iterator(out_))
      if (entry.path().extension() == ".deb") deb_ = entry.path().string();
    ASSERT_FALSE(deb_.empty()) << log;
  }
  static void TearDownTestSuite() { scratch_.reset(); }

  void SetUp() override { ASSERT_FALSE(deb_.empty()) << "the package was not made"; }

  static std::string Field(const std::string& name) { return FirstLine(Capture("dpkg-deb -f '" + deb_ + "' " + name)); }
  static std::string Member(const std::string& path, bool gunzip = false) {
    return Capture("dpkg-deb --fsys-tarfile '" + deb_ + "' | tar -xOf - ." + path + (gunzip ? " | gzip -dc" : ""));
  }

  static std::unique_ptr<ScratchDir> scratch_;
  static std::string out_;
  static std::string deb_;
};

std::unique_ptr<ScratchDir> DebianPackage::scratch_;
std::string DebianPackage::out_;
std::string DebianPackage::deb_;

TEST_F(DebianPackage, HoldsTheToolItsUdevRuleAndDocumentsAndDependsOnItsLibraries) {
  int status = 0;
  std::string contents = Capture("dpkg-deb -c '" + deb_ + "'", status);
  ASSERT_EQ(status, 0);
  for (const char* path : {"/usr/bin/ulktool", "/usr/lib/udev/rules.d/70-ulkusb.rules", "/usr/share/man/man1/ulktool.1.gz",
                           "/usr/share/doc/ulktool/copyright", "/usr/share/doc/ulktool/changelog.Debian.gz"})
    EXPECT_NE(contents.find(std::string(" .") + path + "\n"), std::string::npos) << path << "\n" << contents;
  // Nothing of the build's tests or benchmarks goes in.
  EXPECT_EQ(contents.find("ulk_tests"), std::string::npos) << contents;
  EXPECT_EQ(Member("/usr/lib/udev/rules.d/70-ulkusb.rules"), ReadFileBytes(ULK_SOURCE_DIR "/packaging/linux/70-ulkusb.rules"));

  EXPECT_EQ(Field("Package"), "ulktool");
  std::string depends = Field("Depends");
  EXPECT_NE(depends.find("libc6"), std::string::npos) << depends;
  EXPECT_NE(depends.find("libcairo2"), std::string::npos) << depends;
#ifdef ULK_HAVE_HIDAPI
  EXPECT_NE(depends.find("libhidapi-hidraw0"), std::string::npos) << depends;
#else
  EXPECT_EQ(depends.find("hidapi"), std::string::npos) << depends;
#endif
}

TEST_F(DebianPackage, ItsVersionAndItsChangelogsAreTheProgramsVersion) {
  const std::string version = FirstLine(ReadFileBytes(ULK_SOURCE_DIR "/VERSION"));
  const std::string expected = DebianVersion(version) + "-1";
  EXPECT_EQ(Field("Version"), expected);
  std::string changelog = Member("/usr/share/doc/ulktool/changelog.Debian.gz", true);
  EXPECT_EQ(FirstLine(changelog), "ulktool (" + expected + ") unstable; urgency=medium");
  EXPECT_NE(changelog.find("ulktool " + version + " "), std::string::npos) << changelog;
  std::string man = Member("/usr/share/man/man1/ulktool.1.gz", true);
  size_t title = man.find("\n.TH ");
  ASSERT_NE(title, std::string::npos) << man;
  EXPECT_EQ(FirstLine(man.substr(title + 1)), ".TH ULKTOOL 1 \"\" \"ulktool " + version + "\" \"User Commands\"");
}

TEST_F(DebianPackage, TheCopyrightFileCarriesTheLicenceWordForWord) {
  std::string copyright = Member("/usr/share/doc/ulktool/copyright");
  EXPECT_EQ(FirstLine(copyright), "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/");
  std::istringstream licence(ReadFileBytes(ULK_SOURCE_DIR "/LICENSE"));
  bool body = false;
  int lines = 0;
  for (std::string line; std::getline(licence, line);) {
    if (line.rfind("Copyright (c) ", 0) == 0) {
      body = true;
      EXPECT_NE(copyright.find("\nFiles: *\nCopyright: " + line.substr(14) + "\nLicense: Expat\n"), std::string::npos)
          << copyright;
    } else if (body && !line.empty()) {
      EXPECT_NE(copyright.find("\n " + line + "\n"), std::string::npos) << line;
      ++lines;
    }
  }
  EXPECT_GT(lines, 10);
}

// Every command that --help lists has its entry in the manual page.
TEST_F(DebianPackage, TheManualPageTellsEveryCommand) {
  std::string man = Member("/usr/share/man/man1/ulktool.1.gz", true);
  std::istringstream help(Capture("'" ULKTOOL_PATH "' --help"));
  bool commands = false;
  std::vector<std::string> names;
  for (std::string line; std::getline(help, line);) {
    if (line == "Commands:") commands = true;
    else if (commands && line.empty()) break;  // the list ends at its blank line
    else if (commands && line.size() > 2 && line[2] != ' ') names.push_back(line.substr(2, line.find(' ', 2) - 2));
  }
  // The help was read: its first and last commands are there.
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.front(), "altitude");
  EXPECT_EQ(names.back(), "help");
  for (const std::string& name : names) {
    std::string roff;
    for (char c : name) roff += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_NE(man.find("\n.TP\n\\fB" + roff), std::string::npos) << name;
  }
}

TEST_F(DebianPackage, LintianFindsNoErrorAndNoWarning) {
  if (std::system("command -v lintian >/dev/null 2>&1") != 0) GTEST_SKIP() << "lintian is not installed";
  int status = 0;
  std::string report = Capture("lintian --no-tag-display-limit '" + deb_ + "' 2>&1", status);
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);)
    EXPECT_FALSE(line.rfind("E: ", 0) == 0 || line.rfind("W: ", 0) == 0) << line;
  // lintian ends with 1 when it found an error, 2 when it could not run.
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << report;
}

}  // namespace
