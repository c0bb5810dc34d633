// The boot-loader library in the Itanium C++ ABI (g++ and clang on Linux):
// a member function is a plain function taking the object first.
#include "device/boot_loader_library.h"

namespace korvo {
namespace {

using Callbacks = BootLoaderCallbacks;
using ConstructCall = void (*)(void*, decltype(Callbacks::send), decltype(Callbacks::receive),
                               decltype(Callbacks::progress), decltype(Callbacks::result),
                               decltype(Callbacks::driver_mode));
using VoidCall = void (*)(void*);
using BoolCall = bool (*)(void*);
using OpenCall = bool (*)(void*, const char*, bool);
using TextCall = const char* (*)(void*);
using SetTextCall = void (*)(void*, const char*);

template <typename Call>
Call Entry(void* entry) {
  return reinterpret_cast<Call>(entry);
}

}  // namespace

const char* BootLoaderLibrary::FileName() { return "libBrekLoad.so"; }

const BootLoaderSymbols& BootLoaderLibrary::Symbols() { return kItaniumSymbols; }

void BootLoaderLibrary::Construct(void* memory, const BootLoaderCallbacks& c) {
  Entry<ConstructCall>(entries_[kEntryConstructor])(memory, c.send, c.receive, c.progress, c.result,
                                                    c.driver_mode);
}

void BootLoaderLibrary::Destroy() { Entry<VoidCall>(entries_[kEntryDestructor])(object_); }

bool BootLoaderLibrary::OpenDownloadFile(const char* path, bool image_only) {
  return Entry<OpenCall>(entries_[kEntryOpenDownloadFile])(object_, path, image_only);
}

bool BootLoaderLibrary::IsFileOpen() {
  return Entry<BoolCall>(entries_[kEntryIsFileOpen])(object_);
}

void BootLoaderLibrary::CloseDownloadFile() {
  Entry<VoidCall>(entries_[kEntryCloseDownloadFile])(object_);
}

const char* BootLoaderLibrary::GetBootModePara() {
  return Entry<TextCall>(entries_[kEntryGetBootModePara])(object_);
}

bool BootLoaderLibrary::IsInBootMode() {
  return Entry<BoolCall>(entries_[kEntryIsInBootMode])(object_);
}

void BootLoaderLibrary::SetDownloadBaudrate(const char* baud_rate) {
  Entry<SetTextCall>(entries_[kEntrySetDownloadBaudrate])(object_, baud_rate);
}

bool BootLoaderLibrary::ExecuteDownload() {
  return Entry<BoolCall>(entries_[kEntryExecuteDownload])(object_);
}

}  // namespace korvo
