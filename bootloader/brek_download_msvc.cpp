// BrekLoad.dll's exports in Microsoft's C++ ABI, the one the device maker's
// library has, so that Korvo.dll binds either library the same way:
// BrekLoad.def gives each of these __thiscall entry points the decorated
// name of the member it stands for. Nothing may unwind out of them: the
// caller may be built by another compiler.
#include <new>

#include "bootloader/brek_download.h"

#define BREK_THISCALL __attribute__((thiscall))

extern "C" {

// Microsoft's constructors return the object.
BREK_THISCALL CBrekDownload* BrekConstruct(CBrekDownload* self, TyBrekSend send,
                                           TyBrekReceive receive, TyBrekProgress progress,
                                           TyBrekResult result,
                                           TyBrekDriverMode driver_mode) noexcept {
  return new (self) CBrekDownload(send, receive, progress, result, driver_mode);
}

BREK_THISCALL void BrekDestruct(CBrekDownload* self) noexcept { self->~CBrekDownload(); }

BREK_THISCALL bool BrekOpenDownloadFile(CBrekDownload* self, const char* path,
                                        bool image_only) noexcept {
  return self->OpenDownloadFile(path, image_only);
}

BREK_THISCALL bool BrekIsFileOpen(CBrekDownload* self) noexcept { return self->IsFileOpen(); }

BREK_THISCALL void BrekCloseDownloadFile(CBrekDownload* self) noexcept {
  self->CloseDownloadFile();
}

BREK_THISCALL const char* BrekGetBootModePara(CBrekDownload* self) noexcept {
  return self->GetBootModePara();
}

BREK_THISCALL bool BrekIsInBootMode(CBrekDownload* self) noexcept { return self->IsInBootMode(); }

BREK_THISCALL void BrekSetDownloadBaudrate(CBrekDownload* self, const char* baud_rate) noexcept {
  self->SetDownloadBaudrate(baud_rate);
}

BREK_THISCALL bool BrekExecuteDownload(CBrekDownload* self) noexcept {
  return self->ExecuteDownload();
}

}  // extern "C"
