// The Debian package of ulktool, as CPack makes it from this build tree.
#include <filesystem>
#include <string>

#include "tests/TestSupport.h"

namespace {

// Packs this build tree's ulktool as `ninja deb` does and looks inside.
TEST(DebianPackage, HoldsTheToolAndTheUdevRuleAndDependsOnItsLibraries) {
  ScratchDir dir;
  const ToolRun pack = RunCommand(
      "'" ULK_CPACK_COMMAND "' -G DEB --config '" ULK_BINARY_DIR "/CPackConfig.cmake' -B '" + dir.Root() + "'");
  const std::string log = pack.out + pack.err;
  ASSERT_EQ(pack.status, 0) << log;
  std::string deb;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Root()))
    if (entry.path().extension() == ".deb") deb = entry.path().string();
  ASSERT_FALSE(deb.empty()) << log;

  const ToolRun listing = RunCommand("dpkg-deb -c '" + deb + "'");
  ASSERT_EQ(listing.status, 0) << listing.err;
  const std::string& contents = listing.out;
  EXPECT_NE(contents.find(" ./usr/bin/ulktool\n"), std::string::npos) << contents;
  EXPECT_NE(contents.find(" ./usr/lib/udev/rules.d/70-ulkusb.rules\n"), std::string::npos) << contents;
  // Nothing of the build's tests or benchmarks goes in.
  EXPECT_EQ(contents.find("ulk_tests"), std::string::npos) << contents;

  const std::string rule =
      RunCommand("dpkg-deb --fsys-tarfile '" + deb + "' | tar -xOf - ./usr/lib/udev/rules.d/70-ulkusb.rules").out;
  EXPECT_EQ(rule, ReadFileBytes(ULK_SOURCE_DIR "/packaging/linux/70-ulkusb.rules"));

  EXPECT_EQ(RunCommand("dpkg-deb -f '" + deb + "' Package").out, "ulktool\n");
  const std::string depends = RunCommand("dpkg-deb -f '" + deb + "' Depends").out;
  EXPECT_NE(depends.find("libc6"), std::string::npos) << depends;
  EXPECT_NE(depends.find("libcairo2"), std::string::npos) << depends;
#ifdef ULK_HAVE_HIDAPI
  EXPECT_NE(depends.find("libhidapi-hidraw0"), std::string::npos) << depends;
#else
  EXPECT_EQ(depends.find("hidapi"), std::string::npos) << depends;
#endif
}

}  // namespace
