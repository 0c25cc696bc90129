#include "core/scratch_directory.h"

#include <cstdlib>
#include <system_error>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace tav {

std::string ScratchDirectory::File(const std::string& name) {
  if (path_.empty()) {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) return "";
#if defined(_WIN32)
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const std::filesystem::path candidate =
          base / ("tav-" + std::to_string(std::rand()) + "-" + std::to_string(attempt));
      if (std::filesystem::create_directory(candidate, error)) path_ = candidate;
    }
#else
    // mkdtemp makes the directory with a fresh name, readable by this user only.
    std::string pattern = (base / "tav-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
#endif
    if (path_.empty()) return "";
  }
  return (path_ / name).string();
}

void ScratchDirectory::Remove() {
  if (path_.empty()) return;
  std::error_code error;
  std::filesystem::remove_all(path_, error);
  path_.clear();
}

}  // namespace tav
