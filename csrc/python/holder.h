#pragma once
// How both Python classes hold their native object.

#include <memory>

namespace vorn::typing::text {

// Methods of both classes take the holder, not the object: pybind11 hands a
// method of an instance whose __init__ never ran (BM25.__new__(BM25)) freshly
// allocated, unconstructed memory as the object, but refuses with a
// RuntimeError to hand out a holder that was never constructed.
template <typename Native>
using Holder = std::shared_ptr<Native>;

}  // namespace vorn::typing::text
