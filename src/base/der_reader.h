// DER, the one encoding of ASN.1 that allows a single form for each value, as keys are
// written in. The updater reads the vendor's public key with it and varno-pack its private
// keys; both refuse anything DER does not allow, so a key reads the same everywhere or not
// at all.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace varno {

// Reads DER elements one after the other from a run of bytes. An element is refused when
// its tag is not the one asked for, its length is indefinite, not in its shortest form or
// longer than four bytes, or it runs past the bytes: the reader then stays where it was.
class DerReader {
 public:
  explicit DerReader(std::string_view bytes) : rest_(bytes) {}
  bool AtEnd() const { return rest_.empty(); }
  bool Peek(unsigned char tag) const { return !rest_.empty() && static_cast<unsigned char>(rest_[0]) == tag; }

  // The next element whole (its tag and length included) when it has this tag.
  std::optional<std::string_view> Element(unsigned char tag);
  // The contents of the next element when it has this tag.
  std::optional<std::string_view> Next(unsigned char tag);
  // The magnitude of the next element when it is a non-negative INTEGER in its shortest
  // form: big-endian, without leading zero bytes, empty for zero.
  std::optional<std::string> Unsigned();

 private:
  struct Framed {
    std::string_view element;
    size_t header = 0;
  };
  std::optional<Framed> Take(unsigned char tag);

  std::string_view rest_;
};

}  // namespace varno
