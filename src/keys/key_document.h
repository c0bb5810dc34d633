// The key file document (root "download_keys").
#pragma once

namespace korvo {

class KeyDocument final {
 public:
  KeyDocument();
  ~KeyDocument();
  KeyDocument(const KeyDocument&) = delete;
  KeyDocument& operator=(const KeyDocument&) = delete;
};

}  // namespace korvo
