#pragma once

#include <xercesc/dom/DOMException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>

#include <new>

namespace korvo {

template <typename Body>
int GuardXml(Body&& body, int out_of_memory, int xml_exception, int dom_exception,
             int other_exception) {
  try {
    return body();
  } catch (const xercesc::OutOfMemoryException&) {
    return out_of_memory;
  } catch (const std::bad_alloc&) {
    return out_of_memory;
  } catch (const xercesc::XMLException&) {
    return xml_exception;
  } catch (const xercesc::DOMException&) {
    return dom_exception;
  } catch (...) {
    return other_exception;
  }
}

}  // namespace korvo
