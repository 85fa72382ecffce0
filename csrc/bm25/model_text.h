#pragma once
// The token table's part of the model file text, written straight from the
// table: a million tokens would otherwise cost a million tree nodes and
// strings that exist only to be printed once.

#include <string>

#include "bm25/token_table.h"

namespace vorn::typing::text {

// `document` is the serialized model file with "_doc_token_frequency" as an
// empty object; returns it with the table's members inside that object,
// byte for byte as the serializer writes them: keys escaped by key_of_token
// and in ascending byte order, one member a line.
std::string with_token_members(const std::string& document, const TokenTable& table);

}  // namespace vorn::typing::text
