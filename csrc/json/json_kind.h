// The seven kinds a JsonValue can take. The numeric values are fixed (0 to 6)
// because the value type relies on this order to name its payload alternatives.
#pragma once

namespace vorn::typing::text {

enum class JsonKind { Null, Object, Array, String, Float, Integer, Boolean };

}  // namespace vorn::typing::text
