// Korvo.dll's natives in a Windows process: this program plays the JVM
// (jni_host.h) and the Java front end. It loads Korvo.dll with LoadLibrary
// from its own folder, resolves every native by its plain name and calls
// each as __stdcall, as a 32-bit Windows JVM does. Each scenario named on
// the command line checks exact results; the exit status is 0 only when
// every check passed and the natives broke no JNI rule.
//
//   korvo_jni_host download first-stage edit boot-loader   beside BrekLoad.dll
//   korvo_jni_host boot-loader-missing                     with no BrekLoad.dll
//
// The device behind the Java callbacks answers on a thread of its own
// through ReceiveBytes, from tests/data/example_download.txt, which the
// Linux JVM test reads too; the boot-mode device plays on COM6 while the
// library opens COM5 (windows/test links the two).
#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "interface/jni_natives.h"
#include "jni_host.h"
#include "sim/boot_device.h"
#include "sim/firmware_device.h"
#include "sim/line.h"
#include "sim/profile.h"

namespace fs = std::filesystem;

namespace {

// --- checks ---

int g_checks = 0;
int g_failures = 0;

void Check(bool ok, const std::string& what) {
  ++g_checks;
  if (ok) return;
  ++g_failures;
  std::printf("FAILED: %s\n", what.c_str());
  std::fflush(stdout);
}

template <typename A, typename B>
void Equal(const A& want, const B& got, const std::string& what) {
  std::ostringstream w, g;
  w << want;
  g << got;
  Check(w.str() == g.str(), what + " (expected <" + w.str() + ">, got <" + g.str() + ">)");
}

uint32_t Crc32(uint32_t crc, const std::string& bytes) {
  crc = ~crc;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  Check(bool(out), "wrote " + path.u8string());
}

std::string Utf8Path(const fs::path& path) { return path.u8string(); }

// --- Korvo.dll and its natives ---

HMODULE g_korvo = nullptr;
std::map<std::string, void*> g_natives;

#define KORVO_NATIVES(X)                                                                           \
  X(Configurator, CreateConfigFileIF)                                                              \
  X(Configurator, OpenProjectDocumentIF)                                                           \
  X(Configurator, CloseProjectDocumentIF) X(Configurator, SetProjectConfigFilenameEntryIF)         \
      X(Configurator, SetProjectSystemEntryIF) X(Configurator, AddProjectDeviceIF)                 \
          X(Configurator, SetProjectDeviceConfigurationEntryIF) X(                                 \
              Configurator, AddProjectDeviceConfigurationEntryIF)                                  \
              X(Configurator, SetProjectDeviceConversionEntryAttributeIF) X(                       \
                  Configurator, SetProjectDeviceConversionEntryIF) X(Executor, ExecuteDownloadIF)  \
                  X(FirstStageExecutor, ExecuteFirstStageDownloadIF) X(KeyFile, OpenKeyDocumentIF) \
                      X(KeyFile, CloseKeyDocumentIF) X(KeyFile, AddKeyDeviceIF)                    \
                          X(KeyFile, SetDeviceKeyIF) X(KeyFile, AddKeySignatureIF)                 \
                              X(KeyFile, SetKeySignatureAttributesIF)                              \
                                  X(KeyFile, AddKeyIdentficationRuleIF)                            \
                                      X(KeyFile, SetKeyUserAccessIF) X(KeyFile, AddKeyUserRuleIF)  \
                                          X(KeyFile, CompressIF) X(KeyFile, DeCompressIF)          \
                                              X(TAVISInterface, SetupJNI)                          \
                                                  X(TAVISInterface, ConnectDeviceIF)               \
                                                      X(TAVISInterface, LoginDeviceIF)             \
                                                          X(TAVISInterface, ReceiveBytes)

// Loads Korvo.dll from this program's folder and finds every native by the
// name a JVM looks up.
bool LoadKorvo() {
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (n == 0 || n == MAX_PATH) return false;
  fs::path folder = fs::path(self).parent_path();
  g_korvo = LoadLibraryW((folder / L"Korvo.dll").wstring().c_str());
  Check(g_korvo != nullptr, "LoadLibrary of Korvo.dll, error " + std::to_string(GetLastError()));
  if (!g_korvo) return false;
#define KORVO_RESOLVE(cls, name)                                                 \
  g_natives[#cls "_" #name] = reinterpret_cast<void*>(                           \
      GetProcAddress(g_korvo, "Java_quarnel_firmwaredownload_" #cls "_" #name)); \
  Check(g_natives[#cls "_" #name] != nullptr, "GetProcAddress of the native " #cls "." #name);
  KORVO_NATIVES(KORVO_RESOLVE)
#undef KORVO_RESOLVE
  return g_failures == 0;
}

// A native of Korvo.dll with the prototype the library declares for it.
#define NATIVE(cls, name)                                                    \
  reinterpret_cast<decltype(&Java_quarnel_firmwaredownload_##cls##_##name)>( \
      g_natives.at(#cls "_" #name))

// Calls a native as the JVM does: in a frame of its own, every reference
// argument a local reference of that frame.
template <typename R, typename... A, typename... B>
R Run(R(JNICALL* native)(JNIEnv*, A...), B... args) {
  jni_host::NativeFrame frame;
  return native(jni_host::ThreadEnv(), frame.Pass(static_cast<A>(args))...);
}

jstring Str(const std::string& utf8) { return jni_host::NewJavaString(utf8); }

// --- the front end's objects and the device behind its callbacks ---

struct Command {
  std::string type;  // "MN", "RN", "EN"
  std::string name;
  std::optional<std::string> parameters;
};

// What tests/data/example_download.txt says.
struct Expectations {
  std::map<std::string, std::optional<std::string>> answers;  // name -> "KIND TEXT"; none: silent
  std::map<std::string, std::string> records;                 // "download", "first-stage"
};

class CallbackDevice {
 public:
  CallbackDevice() : thread_([this] { Deliver(); }) {}
  ~CallbackDevice() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  void SetAnswers(std::map<std::string, std::optional<std::string>> answers) {
    std::lock_guard<std::mutex> hold(mutex_);
    answers_ = std::move(answers);
  }
  void SetReceiver(jobject tavis) {
    std::lock_guard<std::mutex> hold(mutex_);
    tavis_ = tavis;
  }

  jint Send(const std::string& type, jstring name, jbyteArray parameters, bool has_parameters) {
    std::string method = jni_host::StringText(name);
    std::lock_guard<std::mutex> hold(mutex_);
    commands_.push_back(Command{type, method,
                                has_parameters
                                    ? std::optional<std::string>(jni_host::ArrayBytes(parameters))
                                    : std::nullopt});
    auto it = answers_.find(method);
    std::optional<std::string> reply =
        it == answers_.end() ? std::optional<std::string>("AN 0") : it->second;
    if (reply) outbox_.push_back({reply->substr(0, 2), method, reply->substr(2)});
    wake_.notify_all();
    return 0;
  }

  jint Status(jstring text, jint percent) {
    std::lock_guard<std::mutex> hold(mutex_);
    statuses_.push_back(jni_host::StringText(text) + "|" + std::to_string(percent));
    return 0;
  }

  std::vector<Command> Commands() {
    std::lock_guard<std::mutex> hold(mutex_);
    return commands_;
  }
  std::vector<std::string> Statuses() {
    std::lock_guard<std::mutex> hold(mutex_);
    return statuses_;
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    commands_.clear();
    statuses_.clear();
  }

 private:
  struct Answer {
    std::string kind, name, bytes;
  };

  void Deliver() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stop_ || !outbox_.empty(); });
      if (stop_) return;
      Answer a = outbox_.front();
      outbox_.pop_front();
      jobject tavis = tavis_;
      lock.unlock();
      Run(NATIVE(TAVISInterface, ReceiveBytes), tavis, Str(a.kind), Str(a.name),
          jni_host::NewJavaBytes(a.bytes));
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::map<std::string, std::optional<std::string>> answers_;
  jobject tavis_ = nullptr;
  std::vector<Command> commands_;
  std::vector<std::string> statuses_;
  std::deque<Answer> outbox_;
  std::thread thread_;  // last: it uses the members above
};

CallbackDevice* g_device = nullptr;
int g_cleanups = 0;

void DefineClasses() {
  using jni_host::StaticSpec;
  auto send = [](const char* type, bool bytes) {
    return [type, bytes](const std::vector<jvalue>& a) {
      return g_device->Send(type, static_cast<jstring>(a[0].l),
                            bytes ? static_cast<jbyteArray>(a[1].l) : nullptr, bytes);
    };
  };
  jni_host::DefineClass({"quarnel/firmwaredownload/TAVISInterface",
                         {},
                         false,
                         {StaticSpec{"SendCommandMN", "(Ljava/lang/String;[B)I", send("MN", true)},
                          StaticSpec{"SendCommandRN", "(Ljava/lang/String;)I", send("RN", false)},
                          StaticSpec{"SendCommandEN", "(Ljava/lang/String;[B)I", send("EN", true)},
                          StaticSpec{"UpdateStatus", "(Ljava/lang/String;I)I",
                                     [](const std::vector<jvalue>& a) {
                                       return g_device->Status(static_cast<jstring>(a[0].l),
                                                               a[1].i);
                                     }},
                          StaticSpec{"CleanUpInterface", "()I", [](const std::vector<jvalue>&) {
                                       ++g_cleanups;
                                       return jint(0);
                                     }}}});
  jni_host::DefineClass({"quarnel/firmwaredownload/ExeResponse",
                         {{"iManagerError", "I"},
                          {"iDeviceError", "I"},
                          {"sAdditionalInfo", "Ljava/lang/String;"},
                          {"bOnlyAppDownloaded", "Z"},
                          {"iDeviceWhichWasUploaded", "I"}},
                         true,
                         {}});
  for (const char* name : {"Configurator", "Executor", "FirstStageExecutor", "KeyFile"})
    jni_host::DefineClass({std::string("quarnel/firmwaredownload/") + name, {}, false, {}});
}

// "result device-error" of an ExeResponse.
std::string Result(jobject response) {
  if (!response) return "<no ExeResponse>";
  return std::to_string(jni_host::IntField(response, "iManagerError")) + " " +
         std::to_string(jni_host::IntField(response, "iDeviceError"));
}

// The command names (runs as NAME*n) and the CRC-32 of every command but
// the log lines, as example_download.txt gives them.
std::string Record(const std::vector<Command>& sent) {
  std::string names;
  uint32_t crc = 0;
  for (size_t i = 0; i < sent.size();) {
    size_t j = i;
    while (j < sent.size() && sent[j].name == sent[i].name) ++j;
    names +=
        (names.empty() ? "" : " ") + sent[i].name + (j - i > 1 ? "*" + std::to_string(j - i) : "");
    i = j;
  }
  for (const Command& c : sent) {
    if (c.name == "mFDlogwrite") continue;
    crc = Crc32(crc, c.type + " " + c.name + "\n" + c.parameters.value_or("") + "\n");
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(crc));
  return names + " crc " + hex;
}

Expectations ReadExpectations() {
  Expectations e;
  std::istringstream in(ReadAll(fs::u8path(KORVO_SOURCE_DIR) / "tests/data/example_download.txt"));
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string what, name;
    fields >> what >> name;
    std::string rest;
    std::getline(fields, rest);
    if (what == "answer")
      e.answers[name] = rest.substr(1);
    else if (what == "silent")
      e.answers[name] = std::nullopt;
    else
      e.records[what] = name + rest;
  }
  Check(e.records.count("download") && e.records.count("first-stage"), "example_download.txt read");
  return e;
}

// The Base64 text of the nth <Device> of a configuration's <Data>, decoded.
std::string ConfiguredData(const std::string& xml, int n) {
  size_t at = xml.find("<Data>");
  for (int i = 0; at != std::string::npos && i <= n; ++i) at = xml.find("<Device>", at + 1);
  if (at == std::string::npos) return "<no data>";
  size_t end = xml.find("</Device>", at);
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (size_t i = at + 8; i < end; ++i) {
    size_t v = kAlphabet.find(xml[i]);
    if (v == std::string::npos) continue;  // line ends and padding
    bits = bits << 6 | static_cast<uint32_t>(v);
    if ((count += 6) >= 8) out += static_cast<char>(bits >> (count -= 8));
  }
  return out;
}

// --- the scenarios ---

struct Host {
  Expectations expected;
  fs::path work;        // a folder whose name holds characters outside ASCII
  fs::path debug_file;  // where the library's debug lines go
  jobject tavis = jni_host::NewInstance("quarnel/firmwaredownload/TAVISInterface");
  jobject configurator = jni_host::NewInstance("quarnel/firmwaredownload/Configurator");
  jobject keyfile = jni_host::NewInstance("quarnel/firmwaredownload/KeyFile");
  jobject executor = jni_host::NewInstance("quarnel/firmwaredownload/Executor");
  std::string config;  // the example's configuration and key file
  std::string keys;

  void Setup(const std::string& baud, const std::string& port) {
    Run(NATIVE(TAVISInterface, SetupJNI), tavis, Str("Keta A"), Str(baud), Str(port));
  }

  std::string Build(const fs::path& project) {
    return std::to_string(
        Run(NATIVE(Configurator, CreateConfigFileIF), configurator, Str(Utf8Path(project))));
  }

  // The example project and its key file, built through the natives.
  void PrepareExample() {
    for (const char* name : {"project.xml", "firmware.s19", "parameters.bin", "keys.xml"})
      fs::copy_file(fs::u8path(KORVO_SOURCE_DIR) / "examples" / name, work / name,
                    fs::copy_options::overwrite_existing);
    Equal("0", Build(work / "project.xml"), "example built");
    config = Utf8Path(work / "example.cfg");
    keys = Utf8Path(work / "keys.key");
    Equal(0, Run(NATIVE(KeyFile, CompressIF), keyfile, Str(Utf8Path(work / "keys.xml")), Str(keys)),
          "example key file compressed");
  }

  void Download(const std::string& what) {
    g_device->SetAnswers(expected.answers);
    g_device->Clear();
    jstring ident = Run(NATIVE(TAVISInterface, ConnectDeviceIF), tavis);
    Equal("EXAMPLE-SCANNER-01 V1.0", jni_host::StringText(ident), what + ": connect");
    Equal(0, Run(NATIVE(TAVISInterface, LoginDeviceIF), tavis, Str("4"), Str("service")),
          what + ": login");
    jobject r = Run(NATIVE(Executor, ExecuteDownloadIF), executor, Str(config), Str(keys), -1, -1);
    Equal("0 0", Result(r), what + ": download");
    Equal(expected.records["download"], Record(g_device->Commands()),
          what + ": the download's commands");
    std::vector<std::string> statuses = g_device->Statuses();
    Equal("Download finished ...|100", statuses.empty() ? "" : statuses.back(),
          what + ": last status");
  }

  void FirstStage() {
    g_device->SetAnswers(expected.answers);
    g_device->Clear();
    jobject r =
        Run(NATIVE(FirstStageExecutor, ExecuteFirstStageDownloadIF),
            jni_host::FindClassObject("quarnel/firmwaredownload/FirstStageExecutor"), Str(config));
    Equal("0 0", Result(r), "first stage");
    Equal(expected.records["first-stage"], Record(g_device->Commands()),
          "the first stage's commands");
  }

  // A project and a key file edited entry by entry, at paths outside ASCII
  // (one character outside the Basic Multilingual Plane): the wide file calls.
  void Edit() {
    const std::string name = u8"Projekt \u00FC \U0001F680";
    const fs::path project = work / fs::u8path(name + ".xml");
    const std::string cfg_name = u8"Konfiguration \u00E9 \U0001F680.cfg";
    auto p = [&](auto native, auto... args) { return Run(native, configurator, args...); };
    jint rc = p(NATIVE(Configurator, OpenProjectDocumentIF), Str(Utf8Path(project))) |
              p(NATIVE(Configurator, SetProjectConfigFilenameEntryIF), Str(cfg_name)) |
              p(NATIVE(Configurator, SetProjectSystemEntryIF), Str("TavisDevice"), Str("true"),
                jboolean(JNI_FALSE)) |
              p(NATIVE(Configurator, SetProjectSystemEntryIF), Str("Key"), Str("WINE-KEY-7"),
                jboolean(JNI_TRUE)) |
              p(NATIVE(Configurator, AddProjectDeviceIF)) |
              p(NATIVE(Configurator, SetProjectDeviceConfigurationEntryIF), jint(0), Str("Name"),
                Str("Application"), jboolean(JNI_FALSE)) |
              p(NATIVE(Configurator, AddProjectDeviceConfigurationEntryIF), jint(0), Str("Log"),
                Str(u8"from Windows \u00FC"), jboolean(JNI_FALSE)) |
              p(NATIVE(Configurator, SetProjectDeviceConversionEntryIF), jint(0),
                Str("ConversionType"), Str("SRECToBrekXML")) |
              p(NATIVE(Configurator, SetProjectDeviceConversionEntryIF), jint(0),
                Str("DataFilename"), Str("firmware.s19")) |
              p(NATIVE(Configurator, SetProjectDeviceConversionEntryIF), jint(0),
                Str("AddressRangeSelection"), Str("")) |
              p(NATIVE(Configurator, SetProjectDeviceConversionEntryAttributeIF), jint(0),
                Str("AddressRangeSelection"), Str("IncludeAddr"), Str("0x10000")) |
              p(NATIVE(Configurator, SetProjectDeviceConversionEntryAttributeIF), jint(0),
                Str("AddressRangeSelection"), Str("ExcludeAddr"), Str("0x20000")) |
              p(NATIVE(Configurator, AddProjectDeviceIF)) |
              p(NATIVE(Configurator, SetProjectDeviceConfigurationEntryIF), jint(1), Str("Name"),
                Str("Parameters"), jboolean(JNI_TRUE)) |
              p(NATIVE(Configurator, SetProjectDeviceConversionEntryIF), jint(1),
                Str("ConversionType"), Str("File")) |
              p(NATIVE(Configurator, SetProjectDeviceConversionEntryIF), jint(1),
                Str("DataFilename"), Str("parameters.bin"));
    Equal(0, rc, "project entries");
    Equal("-62", Build(project), "no build while the project is open");
    Equal(0, p(NATIVE(Configurator, CloseProjectDocumentIF), jboolean(JNI_TRUE)), "project saved");
    Check(ReadAll(project).find(cfg_name) != std::string::npos,
          "the project at its path names " + cfg_name);
    Equal("0", Build(project), "project built");
    const fs::path cfg = work / fs::u8path(cfg_name);
    Equal("55aa02ff", Hex(ReadAll(cfg).substr(0, 4)), "the configuration at its path, compressed");

    auto k = [&](auto native, auto... args) { return Run(native, keyfile, args...); };
    const fs::path packed_xml = work / fs::u8path(name + " cfg.xml");
    Equal(0, k(NATIVE(KeyFile, DeCompressIF), Str(Utf8Path(cfg)), Str(Utf8Path(packed_xml))),
          "configuration decompressed");
    std::string xml = ReadAll(packed_xml);
    for (const std::string part :
         {"WINE-KEY-7", "00010000-00010c00", u8"from Windows \u00FC", "FILE"})
      Check(xml.find(part) != std::string::npos, "\"" + part + "\" in the configuration");

    const fs::path key_xml = work / fs::u8path(u8"Schl\u00FCssel \U0001F680.xml");
    const fs::path key_packed = work / fs::u8path(u8"Schl\u00FCssel \U0001F680.key");
    const fs::path key_again = work / fs::u8path(u8"Schl\u00FCssel \U0001F680 again.xml");
    rc = k(NATIVE(KeyFile, OpenKeyDocumentIF), Str(Utf8Path(key_xml))) |
         k(NATIVE(KeyFile, AddKeyDeviceIF)) |
         k(NATIVE(KeyFile, SetDeviceKeyIF), jint(0), Str(u8"LMS5xx Ger\u00E4t")) |
         k(NATIVE(KeyFile, AddKeyIdentficationRuleIF), jint(0), jint(1), Str("DeviceIdent"),
           Str("LMS5.*"), jint(0)) |
         k(NATIVE(KeyFile, AddKeySignatureIF), jint(0)) |
         k(NATIVE(KeyFile, SetKeySignatureAttributesIF), jint(0), jint(0), Str("SN-1.*"),
           Str("SerialNumber")) |
         k(NATIVE(KeyFile, SetKeyUserAccessIF), jint(0), jint(0), jint(3), jint(2)) |
         k(NATIVE(KeyFile, SetKeyUserAccessIF), jint(0), jint(0), jint(4), jint(0)) |
         k(NATIVE(KeyFile, AddKeyUserRuleIF), jint(0), jint(0), jint(3), jint(3), jint(2),
           Str("0x20"), Str("FirmwareVersion"), jint(0), jint(1));
    Equal(0, rc, "key file entries");
    Equal(-123,
          k(NATIVE(KeyFile, AddKeyIdentficationRuleIF), jint(0), jint(2), Str("Bad"), Str("x"),
            jint(0)),
          "an identification rule of an unknown type");
    Equal(0, k(NATIVE(KeyFile, CloseKeyDocumentIF), jboolean(JNI_TRUE)), "key file saved");
    std::string keys_text = ReadAll(key_xml);
    Check(keys_text.find(u8"LMS5xx Ger\u00E4t") != std::string::npos,
          "the key file at its path holds the key");
    Equal(0, k(NATIVE(KeyFile, CompressIF), Str(Utf8Path(key_xml)), Str(Utf8Path(key_packed))),
          "compress");
    Equal("55aa02ff", Hex(ReadAll(key_packed).substr(0, 4)), "the compressed key file at its path");
    Equal(0, k(NATIVE(KeyFile, DeCompressIF), Str(Utf8Path(key_packed)), Str(Utf8Path(key_again))),
          "decompress");
    Check(ReadAll(key_again) == keys_text, "decompressed key file equals the saved one");
    Check(k(NATIVE(KeyFile, CompressIF), Str(Utf8Path(work / "missing.xml")),
            Str(Utf8Path(key_packed))) < 0,
          "compressing a missing file fails");
  }

  static std::string Hex(const std::string& bytes) {
    std::string out;
    char b[3];
    for (unsigned char c : bytes) {
      std::snprintf(b, sizeof b, "%02x", c);
      out += b;
    }
    return out;
  }

  // The example's application as a boot-loader image, over the serial channel.
  fs::path BootProject() {
    std::string text = ReadAll(work / "project.xml");
    auto replace = [&](const std::string& from, const std::string& to) {
      size_t at = text.find(from);
      Check(at != std::string::npos, "the example project holds " + from);
      if (at != std::string::npos) text.replace(at, from.size(), to);
    };
    replace("<TavisDevice>true", "<TavisDevice>false");
    replace("<ConversionType>SRECToBrekXML", "<ConversionType>SRECToBrekBinXML");
    // A partial download is the boot loader's way, and needs its part size.
    replace("<PARTIAL_DOWNLOAD>false", "<PARTIAL_DOWNLOAD>true");
    replace("</DataFilename>", "</DataFilename><PartialMemorySize>65536</PartialMemorySize>");
    replace("<FirmwarePackageFilename>example.cfg", "<FirmwarePackageFilename>boot.cfg");
    size_t second = text.find("<Device>", text.find("<Device>") + 1);
    size_t end = text.find("</Device>", second);
    if (second != std::string::npos && end != std::string::npos)
      text.erase(second, end + 9 - second);
    WriteAll(work / "boot.xml", text);
    Equal("0", Build(work / "boot.xml"), "boot-loader project built");
    return work / "boot.cfg";
  }

  // The boot-loader download to the boot-mode device on COM6: with our
  // library the device must hold the configured data; without one the
  // download fails with -150 before a boot request reaches the device.
  void BootLoader(bool library_present) {
    const fs::path cfg = BootProject();
    std::unique_ptr<korvo::sim::Line> line = korvo::sim::OpenPseudoTerminal();
    Check(line != nullptr, "the device's end of the COM port pair");
    if (!line) return;
    korvo::sim::Profile profile;
    std::string error;
    Check(korvo::sim::LoadProfile(KORVO_SOURCE_DIR "/examples/device.profile", profile, error),
          "device profile: " + error);
    profile.access_level = 4;
    korvo::sim::FirmwareDevice firmware(profile);
    korvo::sim::BootDeviceOptions options;
    options.firmware = &firmware;
    korvo::sim::BootDevice device(*line, options);
    device.Start();
    Setup("115200", line->peer_path());
    const int cleanups = g_cleanups;
    jobject r =
        Run(NATIVE(Executor, ExecuteDownloadIF), executor, Str(Utf8Path(cfg)), Str(keys), -1, -1);
    device.Stop();
    Equal(cleanups + 1, g_cleanups, "the front end asked once to let go of the line");
    const std::string debug = ReadAll(debug_file);
    if (library_present) {
      Equal("0 0", Result(r), "boot-loader download");
      Check(device.image_verified(), "the device verified the image");
      const fs::path xml = work / "boot-cfg.xml";
      Equal(0, Run(NATIVE(KeyFile, DeCompressIF), keyfile, Str(Utf8Path(cfg)), Str(Utf8Path(xml))),
            "boot configuration decompressed");
      std::vector<uint8_t> image = device.image();
      Check(std::string(image.begin(), image.end()) == ConfiguredData(ReadAll(xml), 0),
            "the device holds the configured data, " + std::to_string(image.size()) + " bytes");
      Equal(115200u, device.download_baud(), "download baud rate");
      Equal("APP", device.device_type(), "device type");
    } else {
      Equal("-150 0", Result(r), "boot-loader download without BrekLoad.dll");
      std::vector<std::string> telegrams = device.telegrams();
      Check(std::find(telegrams.begin(), telegrams.end(), "download standard") == telegrams.end(),
            "no boot request without a library");
      Check(debug.find("BrekLoad.dll") != std::string::npos,
            "a debug line names BrekLoad.dll: " +
                debug.substr(debug.size() > 400 ? debug.size() - 400 : 0));
    }
    Setup("9600", "COM5");
  }
};

bool Scenario(Host& host, const std::string& name) {
  if (name == "download")
    host.Download("download");
  else if (name == "first-stage")
    host.FirstStage();
  else if (name == "edit")
    host.Edit();
  else if (name == "boot-loader")
    host.BootLoader(true);
  else if (name == "boot-loader-missing") {
    host.BootLoader(false);
    host.Download("download after the failed boot-loader download");
  } else {
    std::printf("korvo_jni_host: no scenario %s\n", name.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf(
        "usage: korvo_jni_host SCENARIO... (download first-stage edit boot-loader "
        "boot-loader-missing)\n");
    return 2;
  }
  DefineClasses();
  Host host;
  host.expected = ReadExpectations();
  host.work =
      fs::current_path() /
      fs::u8path(u8"korvo-host \u00C4\u00F6 \u041F\u0440\u043E\u0448\u0438\u0432\u043A\u0430 " +
                 std::to_string(GetCurrentProcessId()));
  fs::remove_all(host.work);
  fs::create_directories(host.work);
  // The library reads the name once, as narrow text: an ASCII path, set
  // before the library is loaded.
  host.debug_file =
      fs::current_path() / ("korvo-debug-" + std::to_string(GetCurrentProcessId()) + ".txt");
  _wputenv((L"KORVO_DEBUG_FILE=" + host.debug_file.wstring()).c_str());
  fs::current_path(host.work);
  if (!LoadKorvo()) return 1;

  CallbackDevice device;
  g_device = &device;
  device.SetReceiver(host.tavis);
  host.Setup("9600", "COM5");
  host.PrepareExample();
  bool known = true;
  for (int i = 1; i < argc; ++i) {
    int before = g_failures;
    known = Scenario(host, argv[i]) && known;
    std::printf("korvo_jni_host: %s %s\n", argv[i], g_failures == before ? "passed" : "FAILED");
    std::fflush(stdout);
  }

  // Each SetupJNI replaces the one global reference to the front end's class.
  Equal(1u, jni_host::GlobalReferences(), "global references held");
  Equal(0u, jni_host::UnreleasedElements(), "byte-array elements not released");
  for (const std::string& fault : jni_host::Faults()) Check(false, "JNI rule broken: " + fault);
  g_device = nullptr;
  std::printf("korvo_jni_host: %d checks, %d failed\n", g_checks, g_failures);
  fs::current_path(host.work.parent_path());
  if (g_failures == 0) {
    fs::remove_all(host.work);
    // The debug file stays: the library holds it open until the process
    // ends, and Windows removes no open file. Its folder goes with the test.
  }
  return known && g_failures == 0 && g_checks > 0 ? 0 : 1;
}
