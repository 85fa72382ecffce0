#pragma once
// Reading a model file's text without a tree: the strict reader of the JSON
// library walks the text once to check that parse would read it without a
// message, a substitute or an exception, and to find the members; the token
// object is then read a second time straight into the model's table, sized
// once for all of it. Where the strict reader gives up, nothing has changed
// and load parses the text instead.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "json/code_units.h"
#include "json/json_value.h"
#include "token_table/token_table.h"

namespace vorn::typing::text {

// The members of a model file as load takes them: each scalar as the last
// member of its name holds it (Null when there is none).
struct ModelScan {
    JsonValue doc_count;
    JsonValue doc_length_average;
    JsonValue b;
    JsonValue k1;
    // Whether the last "_doc_token_frequency" is an object; where it starts,
    // and how many members it has (a repeated key counted each time).
    bool has_tokens = false;
    std::size_t tokens_at = 0;
    std::size_t token_members = 0;
};

// False when the text needs the lenient parser: anything parse would report,
// substitute or throw on, a token value that is not an Integer, a value of a
// kind other than a number or the token object. The text is UTF-8 in a
// std::string_view, or code points in a UnitText (json/code_units.h).
bool scan_model_text(std::string_view text, ModelScan& scan);
bool scan_model_text(const Latin1Text& text, ModelScan& scan);
bool scan_model_text(const Ucs2Text& text, ModelScan& scan);
bool scan_model_text(const Ucs4Text& text, ModelScan& scan);

// Stores the token object's counts into `table`, sized once for all of them,
// as though in the text's order (a repeated token keeps the count read last),
// and raises `bound` to the largest of them. `scan` must come from
// scan_model_text on this text.
void read_model_tokens(std::string_view text, const ModelScan& scan, TokenTable& table,
                       std::int32_t& bound);
void read_model_tokens(const Latin1Text& text, const ModelScan& scan, TokenTable& table,
                       std::int32_t& bound);
void read_model_tokens(const Ucs2Text& text, const ModelScan& scan, TokenTable& table,
                       std::int32_t& bound);
void read_model_tokens(const Ucs4Text& text, const ModelScan& scan, TokenTable& table,
                       std::int32_t& bound);

}  // namespace vorn::typing::text
