#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string Capture(const std::string& command, int& status) {
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    status = -1;
    return text;
  }
  char chunk[4096];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
  status = pclose(pipe);
  return text;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Packs this build tree's ulktool as `ninja deb` does and looks inside.
TEST(DebianPackage, HoldsTheToolAndTheUdevRuleAndDependsOnItsLibraries) {
  char dir[] = "/tmp/ulk-deb-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string out = dir;
  int status = 0;
  std::string log = Capture(std::string("'" ULK_CPACK_COMMAND "' -G DEB --config '" ULK_BINARY_DIR "/CPackConfig.cmake' -B '") +
                            out + "' 2>&1",
                        status);
  ASSERT_EQ(status, 0) << log;
  std::string deb;
  for (const auto& entry : std::filesystem::directory_iterator(out))
    if (entry.path().extension() == ".deb") deb = entry.path().string();
  ASSERT_FALSE(deb.empty()) << log;

  std::string contents = Capture("dpkg-deb -c '" + deb + "'", status);
  ASSERT_EQ(status, 0);
  EXPECT_NE(contents.find(" ./usr/bin/ulktool\n"), std::string::npos) << contents;
  EXPECT_NE(contents.find(" ./usr/lib/udev/rules.d/70-ulkusb.rules\n"), std::string::npos) << contents;
  // Nothing of the build's tests or benchmarks goes in.
  EXPECT_EQ(contents.find("ulk_tests"), std::string::npos) << contents;

  std::string rule = Capture("dpkg-deb --fsys-tarfile '" + deb + "' | tar -xOf - ./usr/lib/udev/rules.d/70-ulkusb.rules",
                         status);
  EXPECT_EQ(rule, Slurp(ULK_SOURCE_DIR "/packaging/linux/70-ulkusb.rules"));

  EXPECT_EQ(Capture("dpkg-deb -f '" + deb + "' Package", status), "ulktool\n");
  std::string depends = Capture("dpkg-deb -f '" + deb + "' Depends", status);
  EXPECT_NE(depends.find("libc6"), std::string::npos) << depends;
  EXPECT_NE(depends.find("libcairo2"), std::string::npos) << depends;
#ifdef ULK_HAVE_HIDAPI
  EXPECT_NE(depends.find("libhidapi-hidraw0"), std::string::npos) << depends;
#else
  EXPECT_EQ(depends.find("hidapi"), std::string::npos) << depends;
#endif
  std::filesystem::remove_all(out);
}

}  // namespace
