// The boot-loader library (BrekLoad), bound at run time: its class
// CBrekDownload is reached through the exported names of its constructor,
// destructor and seven members in the C++ ABI of the platform's compiler
// (the Itanium ABI on Linux, Microsoft's on Windows; one source file each),
// so that a missing or different library fails the boot-loader download
// only, never the loading of this library.
//
// Thread safety: one object per download, used by one thread; the
// library's callbacks run on that thread, inside IsInBootMode and
// ExecuteDownload.
#pragma once

#include <memory>
#include <string>

#include "device/boot_loader_symbols.h"

// The line settings the library asks for, under the library's own name:
// the driver-mode callback must have the very type the library calls it
// through (an int-sized enumeration in both ABIs).
enum TyDriverMode {
  kDriverInitial = 0,   // the host's initial line
  kDriverBootMode = 1,  // the line of GetBootModePara
  kDriverDownload = 2,  // the download baud rate
  kDriverRestart = 3,   // purge and reopen, settings unchanged
};

namespace korvo {

class SharedLibrary;

// The five callbacks, plain (cdecl) functions as the library calls them.
struct BootLoaderCallbacks {
  bool (*send)(unsigned char* bytes, unsigned long count);
  // Bytes stored up to `maximum`; zero bytes dropped, `terminator` not stored.
  int (*receive)(unsigned char* buffer, unsigned long maximum, unsigned char terminator);
  void (*progress)(const char* text, double value);
  void (*result)(int code);
  void (*driver_mode)(TyDriverMode mode);
};

class BootLoaderLibrary {
 public:
  // The library's file name on this platform ("libBrekLoad.so", "BrekLoad.dll").
  static const char* FileName();

  // Loads the library from the folder of the module holding this code,
  // else through the system's normal search, and creates its object with
  // `callbacks`. Null when no library loads, or the one found lacks an
  // entry point; then `*error` names the file and what it lacks.
  static std::unique_ptr<BootLoaderLibrary> Load(const BootLoaderCallbacks& callbacks,
                                                 std::string* error);
  // The same from `path` only (a bare name goes through the normal search).
  static std::unique_ptr<BootLoaderLibrary> LoadFrom(const std::string& path,
                                                     const BootLoaderCallbacks& callbacks,
                                                     std::string* error);

  // Destroys the object, then unloads the library.
  ~BootLoaderLibrary();
  BootLoaderLibrary(const BootLoaderLibrary&) = delete;
  BootLoaderLibrary& operator=(const BootLoaderLibrary&) = delete;

  bool OpenDownloadFile(const char* path, bool image_only);
  bool IsFileOpen();
  void CloseDownloadFile();
  const char* GetBootModePara();
  bool IsInBootMode();
  void SetDownloadBaudrate(const char* baud_rate);
  bool ExecuteDownload();

  // The entry-point names of this build's ABI.
  static const BootLoaderSymbols& Symbols();

 private:
  BootLoaderLibrary() = default;
  static std::unique_ptr<BootLoaderLibrary> Bind(std::unique_ptr<SharedLibrary> library,
                                                 const std::string& path,
                                                 const BootLoaderCallbacks& callbacks,
                                                 std::string* error);
  // In the ABI's file: the constructor on `memory`, the destructor on object_.
  void Construct(void* memory, const BootLoaderCallbacks& callbacks);
  void Destroy();

  std::unique_ptr<SharedLibrary> library_;
  void* entries_[kBootLoaderEntries] = {};
  void* object_ = nullptr;
};

}  // namespace korvo
