// The names under which the boot-loader library exports CBrekDownload's
// constructor, destructor and the seven members the bridge calls, in each
// C++ ABI, for these signatures (callbacks as plain functions):
//
//   CBrekDownload(bool (*)(unsigned char*, unsigned long),
//                 int (*)(unsigned char*, unsigned long, unsigned char),
//                 void (*)(const char*, double), void (*)(int),
//                 void (*)(TyDriverMode));
//   ~CBrekDownload();
//   bool OpenDownloadFile(const char*, bool);   bool IsFileOpen();
//   void CloseDownloadFile();                   const char* GetBootModePara();
//   bool IsInBootMode();                        void SetDownloadBaudrate(const char*);
//   bool ExecuteDownload();
//
// A test has the compiler derive both tables from that declaration and
// compares them with these, so a name cannot drift from its signature.
#pragma once

namespace korvo {

enum BootLoaderEntry : int {
  kEntryConstructor,
  kEntryDestructor,
  kEntryOpenDownloadFile,
  kEntryIsFileOpen,
  kEntryCloseDownloadFile,
  kEntryGetBootModePara,
  kEntryIsInBootMode,
  kEntrySetDownloadBaudrate,
  kEntryExecuteDownload,
  kBootLoaderEntries
};

struct BootLoaderSymbols {
  const char* names[kBootLoaderEntries];
};

// g++ and clang on Linux: complete-object constructor and destructor (C1, D1).
inline constexpr BootLoaderSymbols kItaniumSymbols = {{
    "_ZN13CBrekDownloadC1EPFbPhmEPFiS0_mhEPFvPKcdEPFviEPFv12TyDriverModeE",
    "_ZN13CBrekDownloadD1Ev",
    "_ZN13CBrekDownload16OpenDownloadFileEPKcb",
    "_ZN13CBrekDownload10IsFileOpenEv",
    "_ZN13CBrekDownload17CloseDownloadFileEv",
    "_ZN13CBrekDownload15GetBootModeParaEv",
    "_ZN13CBrekDownload12IsInBootModeEv",
    "_ZN13CBrekDownload19SetDownloadBaudrateEPKc",
    "_ZN13CBrekDownload15ExecuteDownloadEv",
}};

// Microsoft's compiler for 32-bit Windows: public __thiscall members (QAE),
// __cdecl callbacks (P6A).
inline constexpr BootLoaderSymbols kMicrosoftSymbols = {{
    "??0CBrekDownload@@QAE@P6A_NPAEK@ZP6AH0KE@ZP6AXPBDN@ZP6AXH@ZP6AXW4TyDriverMode@@@Z@Z",
    "??1CBrekDownload@@QAE@XZ",
    "?OpenDownloadFile@CBrekDownload@@QAE_NPBD_N@Z",
    "?IsFileOpen@CBrekDownload@@QAE_NXZ",
    "?CloseDownloadFile@CBrekDownload@@QAEXXZ",
    "?GetBootModePara@CBrekDownload@@QAEPBDXZ",
    "?IsInBootMode@CBrekDownload@@QAE_NXZ",
    "?SetDownloadBaudrate@CBrekDownload@@QAEXPBD@Z",
    "?ExecuteDownload@CBrekDownload@@QAE_NXZ",
}};

}  // namespace korvo
