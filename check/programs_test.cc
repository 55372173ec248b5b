#include "check/programs.h"

#include <elf.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace launcher::check {
namespace {

class ProgramsTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/launcher-programs-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  // Writes `content` to `name` below the directory with `mode`; returns its path.
  std::string Write(const std::string& name, const std::string& content, int mode = 0755) const {
    const std::string path = dir_ + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
    std::filesystem::permissions(path, static_cast<std::filesystem::perms>(mode));
    return path;
  }
  // An ELF header for `machine`, then `body`.
  static std::string Elf(unsigned machine, const std::string& body = "") {
    std::string header(64, '\0');
    header.replace(0, 4, ELFMAG);
    header[4] = ELFCLASS64;
    header[5] = ELFDATA2LSB;
    header[18] = static_cast<char>(machine & 0xFF);
    header[19] = static_cast<char>(machine >> 8);
    return header + body;
  }
  static unsigned OtherMachine() {
#if defined(__aarch64__)
    return EM_X86_64;
#else
    return EM_AARCH64;
#endif
  }
  static unsigned Machine() {
#if defined(__aarch64__)
    return EM_AARCH64;
#else
    return EM_X86_64;
#endif
  }

  std::string dir_;
};

TEST_F(ProgramsTest, WhatAFileIs) {
  const std::string texts = std::string("..init.ini..Executable not found: \"..");
  EXPECT_EQ(IdentifyProgram(Write("launcher", Elf(Machine(), texts)).c_str()).kind,
            ProgramKind::kLauncher);
  const ProgramFile foreign = IdentifyProgram(Write("arm", Elf(OtherMachine(), texts)).c_str());
  EXPECT_EQ(foreign.kind, ProgramKind::kOtherMachine);
  EXPECT_NE(foreign.machine, std::string(ThisMachine()));
  EXPECT_EQ(
      IdentifyProgram(Write("check", Elf(Machine(), texts + "Usage: launcher-check")).c_str()).kind,
      ProgramKind::kCheck);
  EXPECT_EQ(IdentifyProgram(Write("true", Elf(Machine(), "nothing of the launcher")).c_str()).kind,
            ProgramKind::kOtherProgram);
  const ProgramFile script = IdentifyProgram(Write("script", "#!/bin/sh\nexec java\n").c_str());
  EXPECT_EQ(script.kind, ProgramKind::kScript);
  EXPECT_EQ(script.first_line, "#!/bin/sh");
  const ProgramFile text = IdentifyProgram(Write("text", "<!DOCTYPE html>\n<html>", 0644).c_str());
  EXPECT_EQ(text.kind, ProgramKind::kText);
  EXPECT_EQ(text.first_line, "<!DOCTYPE html>");
  EXPECT_EQ(IdentifyProgram(Write("data", std::string("\x01\x02\0\xFF", 4)).c_str()).kind,
            ProgramKind::kData);
  const ProgramFile missing = IdentifyProgram((dir_ + "/none").c_str());
  EXPECT_EQ(missing.kind, ProgramKind::kUnreadable);
  EXPECT_EQ(missing.error, ENOENT);
  // The texts may straddle any boundary of the reads.
  const std::string padding(512 - 64 - 4, 'x');
  EXPECT_EQ(IdentifyProgram(Write("split", Elf(Machine(), padding + texts)).c_str()).kind,
            ProgramKind::kLauncher);
}

// Only installations of this processor, with an executable bin/java, and no links, are named.
TEST_F(ProgramsTest, InstalledJavasOfThisProcessorOnly) {
  Write("jvm/jdk-b/bin/java", Elf(Machine()));
  Write("jvm/jdk-a/bin/java", "#!/bin/sh\n");
  Write("jvm/jdk-arm/bin/java", Elf(OtherMachine()));
  Write("jvm/jdk-not-executable/bin/java", Elf(Machine()), 0644);
  std::filesystem::create_directories(dir_ + "/jvm/jdk-empty/bin");
  std::filesystem::create_directory_symlink(dir_ + "/jvm/jdk-b", dir_ + "/jvm/jdk-link");
  EXPECT_EQ(InstalledJavas((dir_ + "/jvm").c_str()),
            (std::vector<std::string>{dir_ + "/jvm/jdk-a", dir_ + "/jvm/jdk-b"}));
  EXPECT_TRUE(InstalledJavas((dir_ + "/none").c_str()).empty());
}

}  // namespace
}  // namespace launcher::check
