#pragma once
// The XML layer reports three kinds of failure. Callers show all of them alike, but they are
// distinct types so that a caller can tell a broken file from a broken stream or a misuse.
#include <stdexcept>
#include <string>

namespace xml {

// Reading or writing the underlying bytes failed, or a conversion stream was misused.
class EsdStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The text is not a document this layer can read; a kind of stream error.
class EsdXmlFormatError : public EsdStreamError {
public:
    using EsdStreamError::EsdStreamError;
};

// Misuse of the document model, such as a node name holding a blank.
class EsdXmlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace xml
