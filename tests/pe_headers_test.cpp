// The Windows programs as Windows sees them, read from their headers with
// objdump: 32-bit PE files (PE32, not PE32+) for the console subsystem that
// call KERNEL32 for what their code does, and need no DLL beyond the
// system's own (KERNEL32 and the C runtime, msvcrt).
#include <gtest/gtest.h>
#include <stdio.h>

#include <map>
#include <set>
#include <sstream>

#include "tests/harness.h"

namespace {

struct Headers {
  std::string magic;      // "010b (PE32)"
  std::string subsystem;  // "00000003 (Windows CUI)"
  std::map<std::string, std::set<std::string>> imports;  // by DLL name
};

std::string Trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? "" : s.substr(b, e + 1 - b);
}

// The value of a "Name<tabs>value" line of objdump -p, tabs made single
// spaces.
std::string FieldValue(const std::string& line) {
  std::string v = Trimmed(line.substr(line.find_first_of(" \t")));
  std::string out;
  for (char c : v) out += c == '\t' ? ' ' : c;
  return out;
}

// Reads the output of objdump -p.
Headers ParseHeaders(const std::string& dump) {
  Headers h;
  std::istringstream lines(dump);
  std::string line, dll;
  while (std::getline(lines, line)) {
    if (line.rfind("Magic", 0) == 0) h.magic = FieldValue(line);
    if (line.rfind("Subsystem", 0) == 0) h.subsystem = FieldValue(line);
    const std::string dllMark = "\tDLL Name: ";
    if (line.rfind(dllMark, 0) == 0) {
      dll = Trimmed(line.substr(dllMark.size()));
      h.imports[dll];
      continue;
    }
    // "\t<vma>\t <hint>  <name>" under the current DLL.
    unsigned vma, hint;
    char name[256];
    if (!dll.empty() && sscanf(line.c_str(), "\t%x\t%u %255s", &vma, &hint, name) == 3)
      h.imports[dll].insert(name);
    if (line.empty()) dll.clear();
  }
  return h;
}

Headers ReadHeaders(const std::string& path, std::string* errors) {
  RunResult r = RunProgram({OBJDUMP_PATH, "-p", path}, "", {});
  *errors = r.err;
  return r.status == 0 ? ParseHeaders(r.out) : Headers();
}

// What objdump -p prints of a 64-bit program for the graphical subsystem,
// cut down to the lines read here: the checks below must tell it apart.
TEST(PeHeadersTest, ParsesWhatObjdumpPrints) {
  const std::string dump =
      "Magic\t\t\t020b\t(PE32+)\n"
      "Subsystem\t\t00000002\t(Windows GUI)\n"
      "\n"
      "\tDLL Name: KERNEL32.dll\n"
      "\tvma:  Hint/Ord Member-Name Bound-To\n"
      "\tf2c4\t  136  CloseHandle\n"
      "\tf2d2\t  199  CreateFileA\n"
      "\n"
      "\tDLL Name: libstdc++-6.dll\n"
      "\tvma:  Hint/Ord Member-Name Bound-To\n"
      "\tf526\t   58  _ZSt4cout\n";
  Headers h = ParseHeaders(dump);
  EXPECT_EQ(h.magic, "020b (PE32+)");
  EXPECT_EQ(h.subsystem, "00000002 (Windows GUI)");
  EXPECT_EQ(h.imports["KERNEL32.dll"], (std::set<std::string>{"CloseHandle", "CreateFileA"}));
  EXPECT_EQ(h.imports["libstdc++-6.dll"], (std::set<std::string>{"_ZSt4cout"}));
}

struct Program {
  const char* name;
  const char* path;
  std::vector<std::string> kernelCalls;  // imported from KERNEL32.dll
};

void PrintTo(const Program& p, std::ostream* os) { *os << p.name; }

class PeHeaders : public ::testing::TestWithParam<Program> {};

TEST_P(PeHeaders, Pe32ConsoleProgramCallingKernel32) {
  const Program& p = GetParam();
  std::string errors;
  Headers h = ReadHeaders(p.path, &errors);
  ASSERT_FALSE(h.magic.empty()) << p.path << " cannot be read: " << errors;
  EXPECT_EQ(h.magic, "010b (PE32)") << p.name << " must be a 32-bit program, not PE32+";
  EXPECT_EQ(h.subsystem, "00000003 (Windows CUI)") << p.name << " must be a console program";

  const std::set<std::string> system = {"KERNEL32.dll", "msvcrt.dll"};
  for (const auto& [dll, calls] : h.imports)
    EXPECT_TRUE(system.count(dll)) << p.name << " needs " << dll << ", which Windows does not have";
  const std::set<std::string>& kernel = h.imports["KERNEL32.dll"];
  for (const std::string& call : p.kernelCalls)
    EXPECT_TRUE(kernel.count(call)) << p.name << " does not import " << call << " from KERNEL32.dll";
}

const Program kPrograms[] = {
    {"unpack",
     WINDOWS_UNPACK_PATH,
     {"CreateFileA", "WriteFile", "FlushFileBuffers", "CloseHandle", "MoveFileA", "DeleteFileA",
      "FindFirstFileA", "FindClose", "GetFileAttributesA", "SetFileAttributesA", "LocalAlloc",
      "LocalFree", "GetLastError", "SetLastError", "lstrcpyA", "lstrcatA", "lstrcmpA"}},
    {"Vellomar",
     WINDOWS_VELLOMAR_PATH,
     {"GetDiskFreeSpaceExA", "FindFirstFileA", "FindClose", "lstrcmpiA", "lstrcpyA"}},
    {"pack",
     WINDOWS_PACK_PATH,
     {"CreateFileA", "ReadFile", "FindFirstFileA", "FindNextFileA", "FindClose", "CreateDirectoryA",
      "MoveFileExA", "DeleteFileA", "GetFileInformationByHandle", "GetDiskFreeSpaceExA", "GetTickCount64",
      "GetVolumePathNameA", "GetVolumeInformationA", "GetDiskFreeSpaceA", "GetFileInformationByHandleEx"}},
};

INSTANTIATE_TEST_SUITE_P(Windows, PeHeaders, ::testing::ValuesIn(kPrograms),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
