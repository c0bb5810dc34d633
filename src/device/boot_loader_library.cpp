#include "device/boot_loader_library.h"

#include <cstdlib>

#include "platform/shared_library.h"

namespace korvo {
namespace {

// The library's class size is not exported, so the object's memory is ours
// to guess: Microsoft's compiler lays members out inline, and an object
// holding a file buffer or a frame could well reach some KiB. 1 MiB is far
// beyond any such object; zeroed, once per boot-loader download, it costs
// nothing that matters (the system hands out zero pages as they are used).
constexpr size_t kObjectBytes = size_t{1} << 20;

const char* const kEntryTitles[kBootLoaderEntries] = {
    "the CBrekDownload constructor",
    "the CBrekDownload destructor",
    "OpenDownloadFile",
    "IsFileOpen",
    "CloseDownloadFile",
    "GetBootModePara",
    "IsInBootMode",
    "SetDownloadBaudrate",
    "ExecuteDownload",
};

struct FreeMemory {
  void operator()(void* p) const { std::free(p); }
};

}  // namespace

std::unique_ptr<BootLoaderLibrary> BootLoaderLibrary::Load(const BootLoaderCallbacks& callbacks,
                                                           std::string* error) {
  std::string beside_error;
  std::string path = ThisModuleFolder();
  std::unique_ptr<SharedLibrary> library;
  if (!path.empty()) {
    path += FileName();
    library = SharedLibrary::Open(path, &beside_error);
  }
  if (!library) {
    std::string search_error;
    path = FileName();
    library = SharedLibrary::Open(path, &search_error);
    if (!library) {
      *error = "no boot-loader library: " + (beside_error.empty() ? "" : beside_error + "; ") +
               search_error;
      return nullptr;
    }
  }
  // The first library found is the one: one lacking an entry point is
  // reported, not passed over for another.
  return Bind(std::move(library), path, callbacks, error);
}

std::unique_ptr<BootLoaderLibrary> BootLoaderLibrary::LoadFrom(const std::string& path,
                                                               const BootLoaderCallbacks& callbacks,
                                                               std::string* error) {
  std::string why;
  std::unique_ptr<SharedLibrary> library = SharedLibrary::Open(path, &why);
  if (!library) {
    *error = "no boot-loader library: " + why;
    return nullptr;
  }
  return Bind(std::move(library), path, callbacks, error);
}

std::unique_ptr<BootLoaderLibrary> BootLoaderLibrary::Bind(std::unique_ptr<SharedLibrary> library,
                                                           const std::string& path,
                                                           const BootLoaderCallbacks& callbacks,
                                                           std::string* error) {
  std::unique_ptr<BootLoaderLibrary> bound(new BootLoaderLibrary());
  for (int i = 0; i < kBootLoaderEntries; ++i) {
    const char* name = Symbols().names[i];
    bound->entries_[i] = library->Symbol(name);
    if (!bound->entries_[i]) {
      *error = "boot-loader library " + path + " lacks " + kEntryTitles[i] + " (" + name + ")";
      return nullptr;
    }
  }
  bound->library_ = std::move(library);
  std::unique_ptr<void, FreeMemory> memory(std::calloc(1, kObjectBytes));
  if (!memory) {
    *error = "no memory for the boot-loader object";
    return nullptr;
  }
  bound->Construct(memory.get(), callbacks);
  bound->object_ = memory.release();
  return bound;
}

BootLoaderLibrary::~BootLoaderLibrary() {
  if (!object_) return;
  Destroy();
  std::free(object_);
}

}  // namespace korvo
