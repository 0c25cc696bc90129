#include "core/scratch_directory.h"

#include <system_error>
#include <vector>

#include "core/windows_api.h"
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
    // The temporary directory is the user's own on Windows. The process's id keeps runs apart;
    // a name left by an earlier process of the same id is passed over (create_directory makes
    // a directory only where none is).
    const std::string stem = "tav-" + std::to_string(GetCurrentProcessId()) + "-";
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const std::filesystem::path candidate = base / (stem + std::to_string(attempt));
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
