#pragma once
// The names of the model file's five members, in the order in which the
// file lists them (ascending, as the JSON object holds its keys).

#include <string_view>

namespace vorn::typing::text {

inline constexpr std::string_view kMemberB = "_b";
inline constexpr std::string_view kMemberDocCount = "_doc_count";
inline constexpr std::string_view kMemberAverage = "_doc_length_average";
inline constexpr std::string_view kMemberTokens = "_doc_token_frequency";
inline constexpr std::string_view kMemberK1 = "_k1";

}  // namespace vorn::typing::text
