#include <cstdio>

int main() {
  std::puts("rowpress " ROWPRESS_VERSION);
  return 0;
}
