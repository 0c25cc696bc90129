#ifndef TAV_ENGINE_CORE_SCRATCH_DIRECTORY_H_
#define TAV_ENGINE_CORE_SCRATCH_DIRECTORY_H_

#include <filesystem>
#include <string>

namespace tav {

// A directory of the run's own for its scratch files, made on first use under the system's
// temporary directory with a name no other run has, and removed with everything in it when the
// run ends (or its state goes), whatever the outcome. Two runs never share a scratch file.
class ScratchDirectory {
 public:
  ScratchDirectory() = default;
  ~ScratchDirectory() { Remove(); }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  // The path of the scratch file name; the directory is made now if need be. Empty when it
  // cannot be made.
  std::string File(const std::string& name);
  // Removes the directory and its files (nothing when it was never made).
  void Remove();

 private:
  std::filesystem::path path_;
};

}  // namespace tav

#endif  // TAV_ENGINE_CORE_SCRATCH_DIRECTORY_H_
