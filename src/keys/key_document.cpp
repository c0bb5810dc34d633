#include "keys/key_document.h"

namespace korvo {

KeyDocument::KeyDocument() = default;
KeyDocument::~KeyDocument() = default;

}  // namespace korvo
