// Stands where Windows would look first for a program named by an unquoted path with a space in
// it. If it ever runs, it leaves the file named by DECOY_MARKER behind.

#include <cstdio>
#include <cstdlib>

int main() {
  if (const char* marker = std::getenv("DECOY_MARKER")) {
    if (std::FILE* file = std::fopen(marker, "w")) {
      std::fclose(file);
    }
  }
  return 0;
}
