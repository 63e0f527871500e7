#pragma once
// Test support: runs a streaming stage (Feed/Finish appending to one output) over a text cut
// at the given offsets, for comparison with the stage's one-shot result.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::test_support {

template <class Stage>
std::string FeedInPieces(Stage& stage, std::string_view text, const std::vector<std::size_t>& cuts) {
    std::string out;
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        stage.Feed(text.substr(from, cut - from), out);
        from = cut;
    }
    stage.Feed(text.substr(from), out);
    stage.Finish(out);
    return out;
}

}  // namespace korvane::test_support
