// platform_probe: makes the platform calls named on standard input, one per
// line with tab-separated fields, and prints one line for each: what the call
// returned and the last-error code. Built for Linux and for Windows from this
// one source, so that a test can hold both builds against what Windows does.
//
//   find PATH             FindFirstFileA       found | none ERR
//   create PATH always|new|existing   CreateFileA   handle ERR | invalid ERR
//   write-nothing PATH    WriteFile of 0 bytes from no buffer to a new file
//   write-invalid         WriteFile on INVALID_HANDLE_VALUE
//   delete PATH           DeleteFileA          TRUE | FALSE ERR
//   move FROM TO          MoveFileA            TRUE | FALSE ERR
//   replace FROM TO       MoveFileExA, replacing   TRUE | FALSE ERR
//   attributes PATH       GetFileAttributesA   0xWORD (low 16 bits) | invalid ERR
//   set PATH WORD         SetFileAttributesA   TRUE | FALSE ERR
//   free PATH             GetDiskFreeSpaceExA ("-" for no path)   TRUE | FALSE ERR
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/win32.h"

namespace {

void PrintResult(BOOL ok) {
  if (ok)
    puts("TRUE");
  else
    printf("FALSE %lu\n", (unsigned long)GetLastError());
}

HANDLE Create(const char* path, DWORD disposition) {
  return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, disposition,
                     FILE_ATTRIBUTE_NORMAL, NULL);
}

void Run(const char* call, const char* a, const char* b) {
  if (strcmp(call, "find") == 0) {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(a, &data);
    if (h == INVALID_HANDLE_VALUE) return (void)printf("none %lu\n", (unsigned long)GetLastError());
    FindClose(h);
    puts("found");
  } else if (strcmp(call, "create") == 0) {
    const DWORD disposition = strcmp(b, "new") == 0        ? CREATE_NEW
                              : strcmp(b, "existing") == 0 ? OPEN_EXISTING
                                                           : CREATE_ALWAYS;
    HANDLE h = Create(a, disposition);
    const unsigned long error = GetLastError();
    printf("%s %lu\n", h == INVALID_HANDLE_VALUE ? "invalid" : "handle", error);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  } else if (strcmp(call, "write-nothing") == 0) {
    HANDLE h = Create(a, CREATE_ALWAYS);
    DWORD written = 1;
    PrintResult(WriteFile(h, NULL, 0, &written, NULL) && written == 0);
    CloseHandle(h);
  } else if (strcmp(call, "write-invalid") == 0) {
    DWORD written = 1;
    PrintResult(WriteFile(INVALID_HANDLE_VALUE, "x", 1, &written, NULL));
  } else if (strcmp(call, "delete") == 0) {
    PrintResult(DeleteFileA(a));
  } else if (strcmp(call, "move") == 0) {
    PrintResult(MoveFileA(a, b));
  } else if (strcmp(call, "replace") == 0) {
    PrintResult(MoveFileExA(a, b, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
  } else if (strcmp(call, "attributes") == 0) {
    DWORD word = GetFileAttributesA(a);
    if (word == INVALID_FILE_ATTRIBUTES)
      printf("invalid %lu\n", (unsigned long)GetLastError());
    else
      printf("0x%lx\n", (unsigned long)(word & 0xFFFF));
  } else if (strcmp(call, "set") == 0) {
    PrintResult(SetFileAttributesA(a, (DWORD)strtoul(b, NULL, 16)));
  } else if (strcmp(call, "free") == 0) {
    ULARGE_INTEGER free;
    PrintResult(GetDiskFreeSpaceExA(strcmp(a, "-") == 0 ? NULL : a, NULL, NULL, &free));
  } else {
    puts("unknown call");
  }
}

}  // namespace

int main() {
  char line[4096];
  while (fgets(line, sizeof line, stdin)) {
    line[strcspn(line, "\r\n")] = '\0';
    char* fields[3] = {line, (char*)"", (char*)""};
    for (int i = 1; i < 3; ++i) {
      char* tab = strchr(fields[i - 1], '\t');
      if (!tab) break;
      *tab = '\0';
      fields[i] = tab + 1;
    }
    Run(fields[0], fields[1], fields[2]);
    fflush(stdout);
  }
  return 0;
}
