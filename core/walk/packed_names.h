#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace murako {

// Names end to end, each found by where it ends: a directory of a million subdirectories costs their bytes
// and an end each, not a string each. Copies share the names, so the walk and the rows of a search hold one
// set; names are only added while a listing is made, before any copy is taken.
class PackedNames {
public:
    void Add(std::string_view name)
    {
        if (!names_)
            names_ = std::make_shared<Names>();
        names_->bytes.append(name);
        names_->ends.push_back(names_->bytes.size());
    }

    size_t Size() const { return names_ ? names_->ends.size() : 0; }
    bool Empty() const { return Size() == 0; }

    std::string_view operator[](size_t index) const
    {
        const size_t begin = index > 0 ? names_->ends[index - 1] : 0;
        return std::string_view(names_->bytes).substr(begin, names_->ends[index] - begin);
    }

    // Lets go of the room kept for names to come once the listing is done, where it is worth a copy.
    void Fit()
    {
        constexpr size_t kWorthCopying = 64 * 1024;
        if (names_ && names_->bytes.capacity() - names_->bytes.size() > kWorthCopying)
            names_->bytes.shrink_to_fit();
        if (names_ && (names_->ends.capacity() - names_->ends.size()) * sizeof(size_t) > kWorthCopying)
            names_->ends.shrink_to_fit();
    }

private:
    struct Names {
        std::string bytes;
        std::vector<size_t> ends;
    };
    std::shared_ptr<Names> names_;
};

}  // namespace murako
