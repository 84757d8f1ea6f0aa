/// \file elf_check.cpp  ELF header and loadable segments against the file's length.
#include "hosting/loader/elf_check.h"

#include <elf.h>
#include <fmt/format.h>

#include <cstring>
#include <fstream>
#include <vector>

namespace quorlen::hosting {
namespace {

#if defined(__x86_64__)
constexpr int kMachine = EM_X86_64;
constexpr const char* kMachineName = "x86-64";
#elif defined(__aarch64__)
constexpr int kMachine = EM_AARCH64;
constexpr const char* kMachineName = "AArch64";
#else
#error "the module check knows no ELF machine for this architecture"
#endif
static_assert(sizeof(void*) == 8, "the module check reads 64-bit ELF");

}  // namespace

std::string elf_module_problem(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return "cannot open it";
  const auto end = in.tellg();
  if (end < 0) return "cannot read it";
  const auto size = static_cast<unsigned long long>(end);
  in.seekg(0);

  Elf64_Ehdr header{};
  if (size < sizeof header)
    return fmt::format("not an ELF shared object ({} bytes, too short for an ELF header)", size);
  in.read(reinterpret_cast<char*>(&header), sizeof header);
  if (!in) return "cannot read its ELF header";
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return "not an ELF shared object";
  if (header.e_ident[EI_CLASS] != ELFCLASS64) return "not a 64-bit ELF object";
  if (header.e_ident[EI_DATA] != ELFDATA2LSB) return "not a little-endian ELF object";
  if (header.e_type != ET_DYN) return "an ELF file but not a shared object";
  if (header.e_machine != kMachine)
    return fmt::format("a shared object for another machine (ELF machine {}, this is {})", header.e_machine,
                       kMachineName);
  if (header.e_phentsize != sizeof(Elf64_Phdr))
    return fmt::format("its program header size is {} bytes, not {}", header.e_phentsize, sizeof(Elf64_Phdr));

  const unsigned long long table_end = static_cast<unsigned long long>(header.e_phoff) +
                                       static_cast<unsigned long long>(header.e_phnum) * sizeof(Elf64_Phdr);
  if (header.e_phoff > size || table_end > size)
    return fmt::format("truncated: its program headers end at byte {}, but the file holds {} bytes",
                       table_end, size);
  std::vector<Elf64_Phdr> segments(header.e_phnum);
  in.seekg(static_cast<std::streamoff>(header.e_phoff));
  in.read(reinterpret_cast<char*>(segments.data()),
          static_cast<std::streamsize>(segments.size() * sizeof(Elf64_Phdr)));
  if (!in) return "cannot read its program headers";
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const Elf64_Phdr& s = segments[i];
    if (s.p_type != PT_LOAD) continue;
    // Compared without adding, so no declared offset or length can wrap around.
    if (s.p_offset > size || s.p_filesz > size - s.p_offset)
      return fmt::format(
          "truncated: loadable segment {} ends at byte {}, but the file holds {} bytes (an incomplete copy?)",
          i, static_cast<unsigned long long>(s.p_offset) + s.p_filesz, size);
  }
  return {};
}

}  // namespace quorlen::hosting
