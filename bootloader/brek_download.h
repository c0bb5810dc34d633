// BrekLoad: a boot-loader library that programs a device in boot mode over
// a line it never touches itself. The host moves bytes, switches the line
// and shows progress through five callbacks; any library offering the same
// class and calls can take its place (README.md says under which names).
//
// Use: construct with the callbacks; OpenDownloadFile; bring the device
// into boot mode (the host sends its own request, then asks IsInBootMode);
// SetDownloadBaudrate; ExecuteDownload; CloseDownloadFile. The callbacks
// are called only on the calling thread, during IsInBootMode and
// ExecuteDownload. One object serves one download; it is not thread-safe.
//
// The boot protocol
// -----------------
// Frame: type (1 byte), sequence (1), body, CRC-32 (4, little-endian; the
// IEEE polynomial as in zlib) over type, sequence and body. On the line each
// frame is stuffed so that it holds neither 0x00 nor 0xFF, and ends with
// 0xFF. Stuffing groups: a code byte then plain bytes; 0x01+n: n bytes and a
// 0x00 (the last group's 0x00 is dropped), 0x80+n: n bytes and a 0xFF,
// 0x7F: 125 bytes alone; overhead at most one byte in 125. Both rules make
// frames survive a receive that drops zero bytes and stops at a terminator.
// Numbers are little-endian.
//
// The host sends, the device answers every frame it decodes with ACK (u8 0,
// u32 value) or NAK (u8 reason, u32 value) carrying the same sequence; a
// frame it cannot decode gets NAK "bad frame". Host frames:
//   PING  'P' -               ACK value: largest data count per frame
//   BAUD  'B' u32 baud        ACK, then the device switches its line
//   START 'S' u32 length, u32 CRC-32 of the image, u8 n + device type,
//             u8 n + address range
//   DATA  'D' u32 offset + up to 4096 bytes
//             ACK value: next offset the device expects; a repeated frame is
//             acknowledged again and not stored twice; NAK "wrong offset"
//             names the offset the host resumes from
//   END   'E' -               ACK when length and CRC-32 match, else NAK
// One frame is outstanding at a time; with 4 KiB frames the turnaround costs
// about 1 % of the line time. A frame not answered within twice its line
// time plus 500 ms, or answered by NAK "bad frame", is sent again with the
// same sequence, at most four times in all.
//
// Driver modes the library asks for: kDriverBootMode before PING in
// IsInBootMode (line from GetBootModePara); kDriverDownload after the BAUD
// acknowledgement (the download baud rate), then kDriverRestart (purge,
// short first-byte time-out) before START.
//
// Progress: "Boot-loader download" with 0 to 100 percent, after every
// acknowledged DATA frame. Result code: one per ExecuteDownload (and per
// failed check before it), from the kBrek* list below.
#pragma once

// The class's members are exported as they are on Linux; on Windows
// BrekLoad.def exports them in Microsoft's C++ ABI (brek_download_msvc.cpp).
#ifndef BREK_API
#define BREK_API __attribute__((visibility("default")))
#endif

enum TyDriverMode {
  kDriverInitial = 0,   // the host's initial line
  kDriverBootMode = 1,  // the line of GetBootModePara
  kDriverDownload = 2,  // the download baud rate
  kDriverRestart = 3,   // purge and reopen, settings unchanged
};

typedef bool (*TyBrekSend)(unsigned char* bytes, unsigned long count);
// Bytes read up to `maximum`; 0x00 bytes may be dropped, and `terminator`
// ends the read without being stored.
typedef int (*TyBrekReceive)(unsigned char* buffer, unsigned long maximum,
                             unsigned char terminator);
typedef void (*TyBrekProgress)(const char* text, double percent);
typedef void (*TyBrekResult)(int code);
typedef void (*TyBrekDriverMode)(TyDriverMode mode);

// Result codes reported through the result-code callback.
enum BrekResult {
  kBrekOk = 200,
  kBrekNoFile = 201,         // no download file open
  kBrekNotInBootMode = 202,  // ExecuteDownload before IsInBootMode succeeded
  kBrekBaudRefused = 203,    // unusable baud text, or no answer after the switch
  kBrekSendFailed = 204,     // the send callback failed
  kBrekNoAnswer = 205,       // the device stopped answering
  kBrekRejected = 206,       // the device kept refusing a frame
  kBrekImageMismatch = 207,  // the device's image differs at END
};

class BREK_API CBrekDownload {
 public:
  CBrekDownload(TyBrekSend send, TyBrekReceive receive, TyBrekProgress progress,
                TyBrekResult result, TyBrekDriverMode driver_mode);
  ~CBrekDownload();
  CBrekDownload(const CBrekDownload&) = delete;
  CBrekDownload& operator=(const CBrekDownload&) = delete;

  // Reads the whole file. Unless `image_only`, it starts with seven fields
  // each ended by ':' (field 2 the device type, field 3 the address range).
  // False when it cannot be read or the header is incomplete.
  bool OpenDownloadFile(const char* path, bool image_only);
  bool IsFileOpen();
  void CloseDownloadFile();

  // "9600,8,N,1": the line a device in boot mode listens on.
  const char* GetBootModePara();
  // Asks the device once with PING; true when it answered.
  bool IsInBootMode();
  // Decimal text; the download line rate.
  void SetDownloadBaudrate(const char* baud_rate);
  // Transfers the image; true when the device verified it.
  bool ExecuteDownload();

 private:
  struct State;
  State* state_;
};
