// Shared by the libFuzzer targets: each runs in a fresh work folder of its
// own (so that "no file left behind" can be checked after every input),
// with Xerces initialised once. Header-only.
#pragma once

#include <sanitizer/asan_interface.h>
#include <unistd.h>
#include <xercesc/framework/MemoryManager.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/system.h"

namespace korvo::fuzz {

// Stops the run with a message libFuzzer reports as a crash.
[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
  std::abort();
}

inline void Check(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

// Xerces' memory, kept in blocks of power-of-two sizes for reuse. Every
// parse allocates and frees tens of kilobytes of buffers, and through the
// sanitizer's allocator that cost more than the parse. A freed block stays
// poisoned until it is handed out again, and the slack behind each block
// is poisoned, so reads after free and past the end are still caught;
// blocks in use are not referenced from here, so leaks are still found.
class XercesMemory final : public xercesc::MemoryManager {
 public:
  xercesc::MemoryManager* getExceptionMemoryManager() override { return this; }

  void* allocate(XMLSize_t size) override {
    const size_t size_class = ClassOf(size + kHeader);
    if (size_class >= kClasses) return Tagged(std::malloc(size + kHeader), size_class);
    char* block = nullptr;
    std::vector<char*>& free = free_[size_class];
    if (!free.empty()) {
      block = free.back();
      free.pop_back();
      ASAN_UNPOISON_MEMORY_REGION(block, size_t(1) << size_class);
    } else {
      block = static_cast<char*>(std::malloc(size_t(1) << size_class));
    }
    ASAN_POISON_MEMORY_REGION(block + kHeader + size, (size_t(1) << size_class) - kHeader - size);
    return Tagged(block, size_class);
  }

  void deallocate(void* p) override {
    if (!p) return;
    char* block = static_cast<char*>(p) - kHeader;
    size_t size_class = 0;
    std::memcpy(&size_class, block, sizeof size_class);
    if (size_class >= kClasses) return std::free(block);
    ASAN_POISON_MEMORY_REGION(block, size_t(1) << size_class);
    free_[size_class].push_back(block);
  }

 private:
  static constexpr size_t kHeader = 16;  // keeps Xerces' alignment
  static constexpr size_t kClasses = 20;

  static size_t ClassOf(size_t n) {
    size_t c = 5;
    while ((size_t(1) << c) < n) ++c;
    return c;
  }
  static void* Tagged(void* block, size_t size_class) {
    if (!block) throw xercesc::OutOfMemoryException();
    std::memcpy(block, &size_class, sizeof size_class);
    return static_cast<char*>(block) + kHeader;
  }

  std::vector<char*> free_[kClasses];
};

// Initialises Xerces with the reusing memory above. Before the library's
// own initialisation, which then only counts.
inline void InitialiseXerces() {
  static XercesMemory* memory = new XercesMemory();
  xercesc::XMLPlatformUtils::Initialize(xercesc::XMLUni::fgXercescDefaultLocale, nullptr, nullptr,
                                        memory);
}

// Enters a new folder under the system's temporary folder and initialises
// Xerces. Call from LLVMFuzzerInitialize.
inline void EnterWorkFolder(const char* name) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() /
                 ("korvo-fuzz-" + std::string(name) + "-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::current_path(dir);
  InitialiseXerces();
  static struct Cleaner {
    fs::path dir;
    ~Cleaner() {
      std::error_code ec;
      fs::remove_all(dir, ec);
    }
  } cleaner{dir};
}

inline void WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
  UniqueFile f(OpenFileUtf8(path, "wb"));
  Check(f && std::fwrite(data, 1, size, f.get()) == size, "cannot write " + path);
}

inline void WriteText(const std::string& path, const std::string& text) {
  WriteBytes(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// The file's bytes, or "<missing>".
inline std::string ReadBytes(const std::string& path) {
  UniqueFile f(OpenFileUtf8(path, "rb"));
  if (!f) return "<missing>";
  std::string bytes;
  char chunk[65536];
  for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, f.get())) > 0;)
    bytes.append(chunk, got);
  return bytes;
}

// Fails when the work folder holds anything besides `expected`; else
// empties it. Reading a folder costs more than a small parse, so the
// targets call this only after an input that wrote files.
inline void CheckOnlyAndClear(const std::vector<std::string>& expected) {
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    std::string name = entry.path().filename().string();
    bool known = false;
    for (const std::string& e : expected) known = known || e == name;
    if (!known) Fail("left behind: " + name);
    std::filesystem::remove_all(entry.path());
  }
}

// Streams over memory, with buffers kept from stream to stream: stdio, or
// open_memstream, would allocate new ones each time, at more cost than the
// code under test.
class MemoryInput {
 public:
  std::FILE* Open(const std::string& bytes) {
    // fmemopen refuses an empty buffer on some C libraries.
    std::FILE* in = bytes.empty()
                        ? std::tmpfile()
                        : fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
    Check(in != nullptr, "no input stream");
    std::setvbuf(in, buffer_, _IOFBF, sizeof buffer_);
    return in;
  }

 private:
  char buffer_[8192];
};

class MemoryOutput {
 public:
  // A stream that takes up to `capacity` bytes, unbuffered; writing more
  // fails.
  std::FILE* Open(size_t capacity) {
    if (buffer_.size() < capacity) buffer_.resize(capacity);
    file_ = fmemopen(buffer_.data(), capacity, "wb");
    Check(file_ != nullptr, "no output stream");
    std::setvbuf(file_, nullptr, _IONBF, 0);
    return file_;
  }
  // Closes the stream: what was written.
  std::string Close() {
    const long written = std::ftell(file_);
    std::fclose(file_);
    return std::string(buffer_.data(), written > 0 ? size_t(written) : 0);
  }

 private:
  std::vector<char> buffer_;
  std::FILE* file_ = nullptr;
};

// True for about one input in `n`, chosen by content so that a finding
// reproduces: for the parts of a target that cost too much to run on all.
inline bool OneIn(uint32_t n, const uint8_t* data, size_t size) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
  return h % n == 0;
}

// Splits fuzz input at the first occurrence of `separator` (a byte that
// rarely occurs in the documents fuzzed): what is before, and after.
inline std::pair<std::string, std::string> SplitAt(const uint8_t* data, size_t size,
                                                  char separator) {
  std::string all(reinterpret_cast<const char*>(data), size);
  size_t at = all.find(separator);
  if (at == std::string::npos) return {all, std::string()};
  return {all.substr(0, at), all.substr(at + 1)};
}

}  // namespace korvo::fuzz
