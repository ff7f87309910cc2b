#pragma once

#include <optional>
#include <string>
#include <string_view>

// File names on Windows are UTF-16; the programs carry every name as bytes, as on Linux. A name
// travels as UTF-8, with an unpaired surrogate (which Windows allows) in UTF-8's three-byte form,
// so that it prints escaped as an invalid name on Linux does and still opens the same file.
namespace imaging {

// The UTF-8 bytes of a UTF-16 name; an unpaired surrogate becomes its own three bytes.
[[nodiscard]] std::string NameFromUtf16(std::u16string_view wide);

// The UTF-16 name for bytes from NameFromUtf16 (also ones with encoded surrogates); nullopt for
// bytes that are not UTF-8, which no Windows name can have.
[[nodiscard]] std::optional<std::u16string> Utf16FromName(std::string_view name);

} // namespace imaging
