#include "DeviceNames.h"

#include <algorithm>

namespace vorlund {

std::vector<std::string> LabelDevices(const std::vector<std::string> &names)
{
    std::vector<std::string> labels;
    labels.reserve(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        std::string label = names[i];
        if (i > 0 && std::find(labels.begin(), labels.end(), label) != labels.end())
            label += " #" + std::to_string(i + 1);
        labels.push_back(std::move(label));
    }
    return labels;
}

std::optional<size_t> SelectDevice(const std::vector<std::string> &names,
                                   const std::vector<std::string> &labels, std::string_view stored)
{
    for (size_t i = 0; i < labels.size() && i < names.size(); ++i) {
        if (labels[i] == stored)
            return i;
    }
    const size_t hash = stored.rfind('#');
    if (hash != std::string_view::npos && hash >= 1 && hash + 1 < stored.size()) {
        const char digit = stored[hash + 1];
        if (digit >= '1' && digit <= '9') {
            const size_t position = size_t(digit - '0');
            if (position <= names.size())
                return position - 1;
        }
    }
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i].find(stored) != std::string::npos)
            return i;
    }
    return std::nullopt;
}

} // namespace vorlund
