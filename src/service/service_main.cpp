// palisard-service: the community's ban service. The commands live in the
// service library; this is the entry only.
#include <cstdio>

int main() {
  std::puts("palisard-service: not built yet");
  return 1;
}
