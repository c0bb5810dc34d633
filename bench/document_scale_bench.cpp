// The three documents at 1,000 and 10,000 devices: every operation should
// grow with the document, not with its square, so the 10,000-device times
// should be about ten times the 1,000-device ones (the "per_device" counter
// stays flat). Cases: a key file whose matching device is the last, read as
// the access checks read it; a configuration read entry by entry as a
// download and `korvo inspect` read it; a project made entry by entry as a
// front end makes it, and built.
#include <benchmark/benchmark.h>
#include <xercesc/util/PlatformUtils.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/config_document.h"
#include "config/configuration_builder.h"
#include "config/project_document.h"
#include "config/splay_compressor.h"
#include "keys/key_document.h"
#include "platform/system.h"

namespace {

using korvo::KeyDocument;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "document_scale_bench: %s failed\n", what);
    std::exit(1);
  }
}

std::string KeyName(int device) { return "KEY-" + std::to_string(device); }

// A key file of `devices` devices, each with two identification rules and
// one signature that grants three levels, one of them by two rules.
std::string KeyFile(int devices) {
  const std::string path = "scale_keys_" + std::to_string(devices) + ".key";
  KeyDocument keys;
  Check(keys.Open("scale_keys.xml", false) == 0, "key file open");
  for (int d = 0; d < devices; ++d) {
    int rc = keys.AddKeyDevice() | keys.SetDeviceKey(d, KeyName(d)) |
             keys.AddKeyIdentficationRule(d, 1, "DeviceIdent", "SCANNER.*", 0) |
             keys.AddKeyIdentficationRule(d, 1, "SerialNumber", "[0-9]+", 0) |
             keys.AddKeySignature(d) | keys.SetKeySignatureAttributes(d, 0, ".*", "Signature");
    for (int level = 2; level <= 4; ++level)
      rc |= keys.SetKeyUserAccess(d, 0, level, level == 4 ? 2 : 0);
    rc |= keys.AddKeyUserRule(d, 0, 4, 3, 2, "100", "FirmwareVersion", 1, 0) |
          keys.AddKeyUserRule(d, 0, 4, 0, 0, "A.*", "HardwareVersion", 1, 0);
    Check(rc == 0, "key file edit");
  }
  Check(keys.Close(true) == 0 && keys.Compress("scale_keys.xml", path) == 0, "key file save");
  korvo::RemoveFile("scale_keys.xml");
  return path;
}

void BM_KeyFileLastDevice(benchmark::State& state) {
  const int devices = int(state.range(0));
  const std::string path = KeyFile(devices);
  for (auto _ : state) {
    KeyDocument keys;
    int count = 0, access = 0;
    std::string value, name;
    int type = 0;
    uint32_t index = 0;
    Check(keys.Open(path, true) == 0 && keys.SelectDevice(KeyName(devices - 1)) == 0 &&
              keys.GetIdentificationCount(count) == 0 && keys.SelectSignature(0) == 0,
          "key file read");
    for (int i = 0; i < count; ++i) keys.GetIdentification(i, value, name, type, index);
    keys.GetUserAccess(4, access);
    keys.GetRuleCount(4, count);
    for (int i = 0; i < count; ++i) {
      std::vector<std::string> values;
      int datatype = 0, op = 0;
      keys.GetRule(4, i, values, name, type, index, datatype, op);
    }
    keys.Close(false);
  }
  state.counters["per_device"] =
      benchmark::Counter(double(devices), benchmark::Counter::kIsIterationInvariantRate |
                                              benchmark::Counter::kInvert);
  korvo::RemoveFile(path);
}
BENCHMARK(BM_KeyFileLastDevice)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// A configuration as the builder writes it, with small payloads.
std::string Configuration(int devices) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<download_configuration>\n  <Header>\n"
      "    <System2>\n      <TavisDevice>true</TavisDevice>\n      <Logging>true</Logging>\n"
      "    </System2>\n";
  for (int d = 0; d < devices; ++d) {
    xml += "    <Device>\n      <PROGRAM_MEMORY_SIZE transparent=\"true\">8</PROGRAM_MEMORY_SIZE>\n"
           "      <DATA_TYPE transparent=\"true\">FILE</DATA_TYPE>\n      <Name>D" +
           std::to_string(d) +
           "</Name>\n      <DEVICE_TYPE>PARAM</DEVICE_TYPE>\n      <Log>first</Log>\n"
           "      <Log>second</Log>\n      <DOWNLOAD_CONSTRAINT communicationName=\"Version\" "
           "comparison=\"1\" operator=\"&gt;=\" type=\"variable\" datatype=\"int\" index=\"0\" "
           "strlen=\"0\"/>\n    </Device>\n";
  }
  xml += "  </Header>\n  <Data>\n";
  for (int d = 0; d < devices; ++d) xml += "    <Device>AAAAAAAAAAA=</Device>\n";
  xml += "  </Data>\n</download_configuration>\n";
  const std::string plain = "scale_config.xml", path = "scale_" + std::to_string(devices) + ".cfg";
  {
    korvo::UniqueFile f(korvo::OpenFileUtf8(plain, "wb"));
    Check(f && std::fwrite(xml.data(), 1, xml.size(), f.get()) == xml.size(), "config write");
  }
  Check(korvo::SplayCompressor().Compress(plain, path) == 0, "config compress");
  korvo::RemoveFile(plain);
  return path;
}

void BM_ConfigurationEntryByEntry(benchmark::State& state) {
  const int devices = int(state.range(0));
  const std::string path = Configuration(devices);
  for (auto _ : state) {
    korvo::ConfigDocument doc;
    int count = 0;
    Check(doc.Load(path) == 0 && doc.GetDeviceCount(count) == 0 && count == devices,
          "config load");
    std::string name, value;
    for (int d = 0; d < count; ++d) {
      doc.GetDeviceEntry(d, "DEVICE_TYPE", value);
      doc.GetDeviceEntry(d, "DATA_TYPE", value);
      for (int n = 0; doc.GetTransparentEntry(d, n, name, value) == 0; ++n) {
      }
      for (int k = 0; doc.GetLogText(d, k, value) == 0; ++k) {
      }
      for (int c = korvo::kFirstConstraintNumber; c <= korvo::kLastConstraintNumber; ++c) {
        korvo::DownloadConstraint constraint;
        doc.GetConstraint(d, c, constraint);
      }
    }
    Check(doc.ExtractData(devices - 1, "scale_data.bin") == 0, "config extract");
    doc.Unload();
  }
  state.counters["per_device"] =
      benchmark::Counter(double(devices), benchmark::Counter::kIsIterationInvariantRate |
                                              benchmark::Counter::kInvert);
  korvo::RemoveFile("scale_data.bin");
  korvo::RemoveFile(path);
}
BENCHMARK(BM_ConfigurationEntryByEntry)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// A project made through the editing calls, one File device after another.
void MakeProject(korvo::ProjectDocument& project, int devices) {
  int rc = project.OpenProjectDocument("scale_project.xml") |
           project.SetProjectConfigFilenameEntry("scale_project.cfg") |
           project.SetProjectSystemEntry("TavisDevice", "true", false);
  for (int d = 0; d < devices; ++d) {
    rc |= project.AddProjectDevice() |
          project.SetProjectDeviceConversionEntry(d, "ConversionType", "File") |
          project.SetProjectDeviceConversionEntry(d, "DataFilename", "scale_data.bin") |
          project.SetProjectDeviceConfigurationEntry(d, "Name", "D" + std::to_string(d), false) |
          project.SetProjectDeviceConfigurationEntry(d, "DEVICE_TYPE", "PARAM", false) |
          project.AddProjectDeviceConfigurationEntry(d, "Log", "made", false);
  }
  Check(rc == 0, "project edit");
}

void BM_ProjectMadeAndBuilt(benchmark::State& state) {
  const int devices = int(state.range(0));
  {
    korvo::UniqueFile f(korvo::OpenFileUtf8("scale_data.bin", "wb"));
    Check(f && std::fputs("payload", f.get()) >= 0, "data write");
  }
  korvo::ConfigurationBuilder builder;
  for (auto _ : state) {
    korvo::RemoveFile("scale_project.xml");
    MakeProject(builder.Project(), devices);
    Check(builder.Project().CloseProjectDocument(true) == 0, "project save");
    Check(builder.Build("scale_project.xml") == 0, "project build");
  }
  state.counters["per_device"] =
      benchmark::Counter(double(devices), benchmark::Counter::kIsIterationInvariantRate |
                                              benchmark::Counter::kInvert);
  for (const char* f : {"scale_data.bin", "scale_project.xml", "scale_project.cfg"})
    korvo::RemoveFile(f);
}
BENCHMARK(BM_ProjectMadeAndBuilt)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  xercesc::XMLPlatformUtils::Initialize();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  xercesc::XMLPlatformUtils::Terminate();
  return 0;
}
