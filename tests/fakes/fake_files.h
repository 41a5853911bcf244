// Files over a real temporary directory, and a variant that fails on demand.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <span>
#include <string>

#include "core/surroundings.h"

namespace quorvane::fakes {

class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("quorvane-core-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Path(const std::string& name) const { return (path_ / name).string(); }
  bool Exists(const std::string& name) const { return std::filesystem::exists(path_ / name); }
  std::string Read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path_ / name, std::ios::binary) << bytes;
  }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

 private:
  std::filesystem::path path_;
};

class RealFiles : public Files {
 public:
  int openFiles = 0;

  FileHandle OpenForReading(const char* path) override { return Opened(std::fopen(path, "rb")); }
  FileHandle CreateAnew(const char* path) override { return Opened(std::fopen(path, "wb")); }
  int32_t Read(FileHandle file, std::span<char> buffer) override {
    if (file == kNoFile) return 0;
    return static_cast<int32_t>(std::fread(buffer.data(), 1, buffer.size(), Stream(file)));
  }
  void MoveBack(FileHandle file, int32_t distance) override {
    std::fseek(Stream(file), -static_cast<long>(distance), SEEK_CUR);
  }
  bool Write(FileHandle file, std::span<const char> bytes) override {
    return std::fwrite(bytes.data(), 1, bytes.size(), Stream(file)) == bytes.size();
  }
  bool Flush(FileHandle file) override { return std::fflush(Stream(file)) == 0; }
  void Close(FileHandle file) override {
    if (file == kNoFile) return;
    std::fclose(Stream(file));
    --openFiles;
  }
  // std::filesystem::rename overwrites an existing target on Windows too.
  bool Replace(const char* from, const char* to) override {
    std::error_code error;
    std::filesystem::rename(from, to, error);
    return !error;
  }
  void Remove(const char* path) override {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }

 private:
  FileHandle Opened(std::FILE* stream) {
    if (stream == nullptr) return kNoFile;
    ++openFiles;
    return reinterpret_cast<FileHandle>(stream);
  }
  static std::FILE* Stream(FileHandle file) { return reinterpret_cast<std::FILE*>(file); }
};

// Fails one chosen step of a save. A failing write still writes half its
// bytes, as a full disk would.
class FaultyFiles final : public RealFiles {
 public:
  bool failCreate = false;
  int failWrite = 0;  // 1-based number of the write that fails; 0 for none
  bool failFlush = false;
  bool failReplace = false;

  FileHandle CreateAnew(const char* path) override {
    return failCreate ? kNoFile : RealFiles::CreateAnew(path);
  }
  bool Write(FileHandle file, std::span<const char> bytes) override {
    if (++writes_ != failWrite) return RealFiles::Write(file, bytes);
    RealFiles::Write(file, bytes.first(bytes.size() / 2));
    return false;
  }
  bool Flush(FileHandle file) override { return !failFlush && RealFiles::Flush(file); }
  bool Replace(const char* from, const char* to) override {
    return !failReplace && RealFiles::Replace(from, to);
  }

 private:
  int writes_ = 0;
};

}  // namespace quorvane::fakes
