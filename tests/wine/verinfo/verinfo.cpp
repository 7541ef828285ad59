// Reads a program file's version information as Explorer and other
// programs do, through version.dll: GetFileVersionInfoA and VerQueryValueA.
// Prints "Key=value" for each string of the first translation, and
// "Binary=a.b.c.d" for the fixed file version. Exit status 1 when the file
// has no version information.
// usage: vantrel-verinfo.exe FILE
#include <windows.h>

#include <cstdio>
#include <vector>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vantrel-verinfo FILE\n");
    return 2;
  }
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(argv[1], &handle);
  if (size == 0) {
    std::printf("none (error %lu)\n", GetLastError());
    return 1;
  }
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(argv[1], 0, size, data.data())) {
    std::printf("unreadable (error %lu)\n", GetLastError());
    return 1;
  }
  void *value = nullptr;
  UINT length = 0;
  if (VerQueryValueA(data.data(), "\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    const VS_FIXEDFILEINFO *fixed = static_cast<const VS_FIXEDFILEINFO *>(value);
    std::printf("Binary=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
                LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                LOWORD(fixed->dwFileVersionLS));
  }
  WORD *translation = nullptr;
  if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                      reinterpret_cast<void **>(&translation), &length) ||
      length < 4) {
    std::printf("no translation\n");
    return 1;
  }
  const char *keys[] = {"ProductName", "ProductVersion",  "FileVersion",
                        "CompanyName", "FileDescription", "LegalCopyright"};
  for (const char *key : keys) {
    char path[128];
    std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", translation[0],
                  translation[1], key);
    char *text = nullptr;
    if (VerQueryValueA(data.data(), path, reinterpret_cast<void **>(&text), &length)) {
      std::printf("%s=%s\n", key, length ? text : "");
    } else {
      std::printf("%s is missing\n", key);
    }
  }
  return 0;
}
