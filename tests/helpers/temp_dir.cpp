#include "helpers/temp_dir.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <system_error>

namespace palisard {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  for (;;) {
    std::filesystem::path candidate = std::filesystem::temp_directory_path() /
                                      ("palisard-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::Write(const std::string& name, const std::string& text) const {
  std::filesystem::path file = path_ / name;
  std::ofstream(file, std::ios::binary) << text;
  return file;
}

}  // namespace palisard
