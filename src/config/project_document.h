// The project document (root "download_project"): the name of the
// configuration file to build, the global entries and, per device, a
// configuration and a conversion section. The Configurator natives edit it
// entry by entry; the configuration builder opens the same object to read it.
//
// Sections and entries are found by name among all descendants of the
// element searched, and must appear exactly once. Devices count from 0 in
// document order. Every operation returns 0 or a negative code of the band
// below; no exception escapes. Not thread-safe: one caller at a time.
#pragma once

#include <xercesc/dom/DOM.hpp>

#include <memory>
#include <string>

#include "config/xml_access.h"

namespace korvo {

constexpr int kProjectParserNotCreated = -61;  // also: entry holds a non-text child
constexpr int kProjectEntryNotText = -61;
constexpr int kProjectAlreadyOpen = -62;
constexpr int kProjectNoImplementation = -63;
constexpr int kProjectOutOfMemory = -64;
constexpr int kProjectXmlException = -65;  // also: an existing file that does not parse or cannot be read, a failed save
constexpr int kProjectDomException = -66;
constexpr int kProjectOtherException = -67;
constexpr int kProjectNotOpen = -68;
constexpr int kProjectNotFound = -69;  // missing or repeated section, entry or device
constexpr int kProjectBusy = -70;      // a build or a project-document call runs (or SetupJNI)

// What a project document code means; "" for a code outside the band.
const char* ProjectResultText(int code);

class ProjectDocument final {
 public:
  ProjectDocument();
  ~ProjectDocument();
  ProjectDocument(const ProjectDocument&) = delete;
  ProjectDocument& operator=(const ProjectDocument&) = delete;

  // Opens the file at `path` (UTF-8). When there is no file there, a new
  // document with an empty FirmwarePackageFilename and an empty System2 is
  // created instead; it is written to `path` only by a saving close.
  // A file that exists but cannot be read or does not parse gives -65 and
  // stays closed, so that a later save cannot overwrite it with less than it
  // held.
  int OpenProjectDocument(const std::string& path);

  // Writes the document to the opened path when `save` is set, then releases
  // it. The file is replaced only once the new text is completely written;
  // a failed write gives -65 and leaves both the old file and the open
  // document untouched.
  int CloseProjectDocument(bool save);

  // Opens project text held in memory, read as a file is. The document has
  // no path: a saving close cannot write it (-65), SaveProjectXml can.
  int OpenProjectXml(const std::string& xml);
  // The text a saving close would write.
  int SaveProjectXml(std::string& out);

  bool IsOpen() const { return open_; }
  // Why the last open could not read its file, and where ("" reason when
  // it could, or when it started a new document).
  const XmlDiagnostic& LoadDiagnostic() const { return diagnostic_; }

  // Editing.
  int SetProjectConfigFilenameEntry(const std::string& filename);
  int SetProjectSystemEntry(const std::string& name, const std::string& value, bool transparent);
  int AddProjectDevice();
  int SetProjectDeviceConfigurationEntry(int device, const std::string& name,
                                         const std::string& value, bool transparent);
  // Appends without looking for an existing entry; the device must already
  // have its Configuration section (-69 otherwise).
  int AddProjectDeviceConfigurationEntry(int device, const std::string& name,
                                         const std::string& value, bool transparent);
  int SetProjectDeviceConversionEntry(int device, const std::string& name,
                                      const std::string& value);
  int SetProjectDeviceConversionEntryAttribute(int device, const std::string& entry,
                                               const std::string& attribute,
                                               const std::string& value);

  // Readers. Text results are untouched on failure; node results are null.
  int GetFirmwarePackageFilename(std::string& text);
  // The one System2, or the one System when there is no System2; its child
  // nodes are the system entries.
  int GetSystemSection(xercesc::DOMElement*& section);
  // Number of Device elements; 0 when closed.
  int GetProjectDeviceCount(int& count);
  int GetDeviceConversionEntry(int device, const std::string& name, std::string& text);
  int GetDeviceConfigurationEntry(int device, const std::string& name, std::string& text);
  // The device's Configuration section; its child nodes are the entries.
  int GetDeviceConfigurationSection(int device, xercesc::DOMElement*& section);
  int GetDeviceConversionElement(int device, const std::string& name,
                                 xercesc::DOMElement*& element);

 private:
  int CheckUsable() const;
  int TakeParsed(int rc, ParserHandle parser, xercesc::DOMDocument* doc,
                 const std::string& path);
  template <typename Body>
  int Guard(Body&& body);
  void Release();

  xercesc::DOMElement* Root() const;
  xercesc::DOMElement* Device(int device);
  xercesc::DOMElement* SystemSection(bool& none);
  int FindSection(int device, const std::string& section, xercesc::DOMElement*& found);
  int FindEntry(int device, const std::string& section, const std::string& name,
                xercesc::DOMElement*& found);
  int SetOrCreateEntry(xercesc::DOMElement* section, const std::string& name,
                       const std::string& value, bool transparent, bool with_attribute);
  // Sets entry `name` of the device's section, which is created when missing.
  int SetSectionEntry(int device, const char* section_name, const std::string& name,
                      const std::string& value, bool transparent, bool with_attribute);

  xercesc::DOMImplementation* implementation_;
  xercesc::DOMDocument* document_ = nullptr;
  ParserHandle parser_;  // owns document_ when parsed
  ElementIndex elements_;                 // of document_
  bool open_ = false;
  std::string path_;
  XmlDiagnostic diagnostic_;
};

// Puts `text` into an element: a childless element gets a new text node, an
// element whose only child is text gets that text replaced (0). One child of
// another kind gives -61, several children -69.
int SetEntryText(xercesc::DOMElement* element, const std::string& text);

}  // namespace korvo
