// Fixtures of the Linux services tests: a scratch folder removed afterwards,
// and an environment variable restored afterwards.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

// A fresh folder from mkdtemp in /tmp, removed with all it holds (links
// themselves, never their targets) when it goes.
class TScratchFolder {
 public:
  TScratchFolder() : path_("/tmp/diskopt-linux-services-XXXXXX") {
    if (mkdtemp(path_.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  }
  ~TScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sets (or with none, removes) an environment variable until it goes.
class TEnvironmentOverride {
 public:
  TEnvironmentOverride(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    value ? setenv(name, value->c_str(), 1) : unsetenv(name);
  }
  ~TEnvironmentOverride() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;  // not owned: a literal
  std::optional<std::string> old_;
};

// What a shell command printed on standard output and its wait status (for
// WIFEXITED and WEXITSTATUS); status -1 when it could not be started.
struct TCommandResult {
  int status = -1;
  std::string output;
};
inline TCommandResult RunCommand(const std::string& command) {
  TCommandResult result;
  FILE* program = popen(command.c_str(), "r");
  if (program == nullptr) return result;
  char chunk[256];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, program)) > 0) result.output.append(chunk, got);
  result.status = pclose(program);
  return result;
}
