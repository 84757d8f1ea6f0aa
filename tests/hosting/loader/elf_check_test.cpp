// The module file is checked before dlopen maps it: a truncated or foreign file is a message, never SIGBUS.
#include "hosting/loader/elf_check.h"

#include <elf.h>
#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <quorlen/module.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting;
using quorlen::hosting_test::slurp;
using quorlen::hosting_test::TempDir;

std::string write(const TempDir& dir, const std::string& name, const std::string& bytes) {
  const std::string path = dir / name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

TEST(ElfCheck, TheBuiltModulePasses) { EXPECT_EQ(elf_module_problem(QUORLEN_TEST_PLUGIN), ""); }

TEST(ElfCheck, RefusesTruncatedForeignAndNonElfFiles) {
  TempDir dir;
  const std::string module = slurp(QUORLEN_TEST_PLUGIN);
  ASSERT_GT(module.size(), 8192u);

  // A copy cut at its first page, as an interrupted copy or a full disk leaves it.
  std::string problem = elf_module_problem(write(dir, "cut.so", module.substr(0, 4096)));
  EXPECT_NE(problem.find("truncated: loadable segment"), std::string::npos) << problem;
  EXPECT_NE(problem.find("the file holds 4096 bytes"), std::string::npos) << problem;
  // Cut inside its program headers.
  problem = elf_module_problem(write(dir, "headers.so", module.substr(0, sizeof(Elf64_Ehdr) + 8)));
  EXPECT_NE(problem.find("truncated: its program headers end at byte"), std::string::npos) << problem;
  std::string other = module;
  Elf64_Ehdr header;
  std::memcpy(&header, other.data(), sizeof header);
  // Missing one byte of its furthest loadable segment: whole up to there, still refused.
  std::size_t segments_end = 0;
  for (int i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr segment;
    std::memcpy(&segment, module.data() + header.e_phoff + static_cast<std::size_t>(i) * sizeof segment,
                sizeof segment);
    if (segment.p_type == PT_LOAD)
      segments_end = std::max<std::size_t>(segments_end, segment.p_offset + segment.p_filesz);
  }
  ASSERT_GT(segments_end, 4096u);
  EXPECT_EQ(elf_module_problem(write(dir, "whole.so", module.substr(0, segments_end))), "");
  problem = elf_module_problem(write(dir, "short.so", module.substr(0, segments_end - 1)));
  EXPECT_NE(problem.find("truncated"), std::string::npos) << problem;

  header.e_machine = EM_RISCV;
  std::memcpy(other.data(), &header, sizeof header);
  problem = elf_module_problem(write(dir, "riscv.so", other));
  EXPECT_NE(problem.find("a shared object for another machine"), std::string::npos) << problem;

  header.e_machine = EM_X86_64;
  header.e_type = ET_EXEC;
  std::memcpy(other.data(), &header, sizeof header);
  EXPECT_EQ(elf_module_problem(write(dir, "exec.so", other)), "an ELF file but not a shared object");

  // A segment whose declared offset would wrap around when its length is added.
  std::string wrap = module;
  for (int i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr segment;
    const std::size_t at = header.e_phoff + static_cast<std::size_t>(i) * sizeof segment;
    std::memcpy(&segment, wrap.data() + at, sizeof segment);
    if (segment.p_type != PT_LOAD) continue;
    segment.p_offset = 16;
    segment.p_filesz = ~0ull - 8;
    std::memcpy(wrap.data() + at, &segment, sizeof segment);
    break;
  }
  problem = elf_module_problem(write(dir, "wrap.so", wrap));
  EXPECT_NE(problem.find("truncated: loadable segment"), std::string::npos) << problem;

  EXPECT_EQ(elf_module_problem(write(dir, "text.so", std::string(100, 'x'))), "not an ELF shared object");
  EXPECT_NE(elf_module_problem(write(dir, "tiny.so",
                                     "\x7f"
                                     "ELF"))
                .find("too short"),
            std::string::npos);
  EXPECT_EQ(elf_module_problem(dir / "absent.so"), "cannot open it");
}

TEST(ElfCheck, LoadingATruncatedModuleIsAPluginErrorNamingTheFile) {
  TempDir dir;
  const std::string path = write(dir, "Quorlen.so", slurp(QUORLEN_TEST_PLUGIN).substr(0, 4096));
  try {
    load_module(path);
    FAIL() << "a truncated module loaded";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::module);
    EXPECT_EQ(std::string(e.what()).rfind("cannot load plug-in \"" + path + "\": truncated", 0), 0u)
        << e.what();
  }
}

}  // namespace
