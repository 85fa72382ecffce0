// How our JSON text lays out an object, known here and nowhere else. The
// serializer writes every object through ObjectWriter, and a caller whose
// members are not in a tree (the model file's million tokens) writes them one
// at a time through the same code, without building a tree:
//
//   {\n
//   <pad>"key" : <value>,\n
//   <pad>"key" : <value>\n
//   <pad less its first two characters>}
//
// where the pad is the indent unit repeated `depth` times. An object without
// members is "{", two line feeds, the closing pad and "}".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vorn::typing::text {

class ObjectWriter {
  public:
    // Appends the opening brace to `out`. `depth` is the nesting level of the
    // object (the top-level call passes 1); the members' values are written
    // at depth + 1.
    ObjectWriter(std::string& out, int depth, std::string_view indent);

    ObjectWriter(const ObjectWriter&) = delete;
    ObjectWriter& operator=(const ObjectWriter&) = delete;

    // Appends what comes before a member's value: the separator after the
    // member before it, the pad, the key as given (keys are held escaped, so
    // it is written as it is) and " : ". The caller appends the value next,
    // with the value writers below or a nested ObjectWriter. Keys come in
    // ascending byte order, the order in which an object holds them.
    void key(std::string_view key);

    // The same as key(key) followed by write_integer(value), in one append:
    // an object of a million such members spends most of its time here.
    void integer_member(std::string_view key, std::int32_t value);
    // The same for a key of which kPaddedText bytes can be read whatever its
    // size (see escape.h), which spares short keys a branch on their size.
    void integer_member_padded(std::string_view key, std::int32_t value);

    // Appends the closing line. The writer only ever appends, so the caller
    // may write `out` away and clear it between members.
    void close();

  private:
    template <bool kPadded>
    void append_integer_member(std::string_view key, std::int32_t value);

    std::string& out_;
    std::string pad_;
    // What comes before a key after the first member: ",\n", the pad and
    // the quotation mark.
    std::string opening_;
    bool first_ = true;
};

// The values of our JSON text: integers in plain decimal, floats in C's "%f"
// form (six decimals, never an exponent), strings quoted and escaped.
void write_integer(std::string& out, std::int32_t number);
void write_float(std::string& out, double number);
void write_string(std::string& out, std::string_view raw);

}  // namespace vorn::typing::text
