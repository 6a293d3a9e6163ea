// A reusable list of text fields kept in one buffer, so splitting a million lines allocates nothing
// once the buffer has grown to the longest line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace knn {

class FieldList {
public:
    std::size_t size() const { return ends.size(); }
    bool empty() const { return ends.empty(); }
    std::string_view operator[](std::size_t i) const {
        const std::size_t begin = i == 0 ? 0 : ends[i - 1];
        return std::string_view(text).substr(begin, ends[i] - begin);
    }
    void clear() {
        text.clear();
        ends.clear();
    }
    void add(std::string_view field) {
        text.append(field);
        ends.push_back(text.size());
    }
    /// Starts a field whose characters are then appended one run at a time with `extendLast`.
    void addEmpty() { ends.push_back(text.size()); }
    void extendLast(std::string_view part) {
        text.append(part);
        ends.back() = text.size();
    }

private:
    std::string text;              ///< every field, back to back
    std::vector<std::size_t> ends; ///< end offset of each field in `text`
};

} // namespace knn
