#include "bm25/model_text.h"

#include "bm25/model_members.h"
#include "json/object_writer.h"

namespace vorn::typing::text {

namespace {

constexpr std::string_view kIndent = "  ";
// Room for the lines around the tokens: five keys, and three floats of up
// to 317 characters each ("%f" of the largest double).
constexpr std::size_t kFrameRoom = 2048;
// A token's line beyond its key: indentation, quotes, separators, count.
constexpr std::size_t kLineRoom = 32;

}  // namespace

ModelText::ModelText(const ModelStatistics& statistics, const TokenTable& table)
    : statistics_(statistics), keys_(table) {
    buffer_.reserve(kPieceSize + keys_.longest() + kLineRoom + kFrameRoom);
}

void ModelText::write(const ContentSink& sink) const {
    std::string& out = buffer_;
    out.clear();
    ObjectWriter root(out, 1, kIndent);
    root.key(kMemberB);
    write_float(out, statistics_.b);
    root.key(kMemberDocCount);
    write_integer(out, statistics_.doc_count);
    root.key(kMemberAverage);
    write_float(out, statistics_.doc_length_average);
    root.key(kMemberTokens);
    {
        ObjectWriter tokens(out, 2, kIndent);
        keys_.for_each([&](std::string_view key, std::int32_t count) {
            tokens.integer_member_padded(key, count);
            if (out.size() >= kPieceSize) {
                sink(out);
                out.clear();
            }
        });
        tokens.close();
    }
    root.key(kMemberK1);
    write_float(out, statistics_.k1);
    root.close();
    sink(out);
    out.clear();
}

std::string ModelText::str() const {
    std::string text;
    write([&text](std::string_view piece) { text += piece; });
    return text;
}

}  // namespace vorn::typing::text
