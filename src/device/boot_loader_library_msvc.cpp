// The boot-loader library in Microsoft's C++ ABI for 32-bit Windows, the one
// the device maker's library exports: members are __thiscall (the object in
// ECX, the callee pops the arguments), which mingw's g++ speaks by attribute.
// Callbacks stay plain __cdecl functions, the compiler's default.
#include "device/boot_loader_library.h"

#define KORVO_THISCALL __attribute__((thiscall))

namespace korvo {
namespace {

using Callbacks = BootLoaderCallbacks;
// Like every constructor of that ABI it returns the object.
using ConstructCall = void*(KORVO_THISCALL*)(void*, decltype(Callbacks::send),
                                             decltype(Callbacks::receive),
                                             decltype(Callbacks::progress),
                                             decltype(Callbacks::result),
                                             decltype(Callbacks::driver_mode));
using VoidCall = void(KORVO_THISCALL*)(void*);
using BoolCall = bool(KORVO_THISCALL*)(void*);
using OpenCall = bool(KORVO_THISCALL*)(void*, const char*, bool);
using TextCall = const char*(KORVO_THISCALL*)(void*);
using SetTextCall = void(KORVO_THISCALL*)(void*, const char*);

template <typename Call>
Call Entry(void* entry) {
  return reinterpret_cast<Call>(entry);
}

}  // namespace

const char* BootLoaderLibrary::FileName() { return "BrekLoad.dll"; }

const BootLoaderSymbols& BootLoaderLibrary::Symbols() { return kMicrosoftSymbols; }

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
