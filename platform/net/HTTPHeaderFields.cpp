#include "platform/net/HTTPHeaderFields.h"

#include <algorithm>

namespace ns {

bool HTTPHeaderFields::NameEquals(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

void HTTPHeaderFields::Set(const std::string& name, const std::string& value) {
    bool found = false;
    for (auto it = fields_.begin(); it != fields_.end();) {
        if (!NameEquals(it->first, name)) {
            ++it;
        } else if (!found) {
            it->second = value;
            found = true;
            ++it;
        } else {
            it = fields_.erase(it);
        }
    }
    if (!found) fields_.emplace_back(name, value);
}

void HTTPHeaderFields::AddValue(const std::string& name, const std::string& value) {
    for (Field& field : fields_) {
        if (NameEquals(field.first, name)) {
            field.second += "," + value;
            return;
        }
    }
    fields_.emplace_back(name, value);
}

void HTTPHeaderFields::Append(const std::string& name, const std::string& value) {
    fields_.emplace_back(name, value);
}

void HTTPHeaderFields::AppendToLastValue(const std::string& text) {
    if (!fields_.empty()) fields_.back().second += text;
}

void HTTPHeaderFields::Remove(const std::string& name) {
    fields_.erase(std::remove_if(fields_.begin(), fields_.end(),
                                 [&name](const Field& f) { return NameEquals(f.first, name); }),
                  fields_.end());
}

bool HTTPHeaderFields::Contains(const std::string& name) const {
    return std::any_of(fields_.begin(), fields_.end(),
                       [&name](const Field& f) { return NameEquals(f.first, name); });
}

std::string HTTPHeaderFields::Value(const std::string& name) const {
    std::string joined;
    bool first = true;
    for (const Field& field : fields_) {
        if (!NameEquals(field.first, name)) continue;
        if (!first) joined += ", ";
        joined += field.second;
        first = false;
    }
    return joined;
}

std::vector<std::string> HTTPHeaderFields::Values(const std::string& name) const {
    std::vector<std::string> values;
    for (const Field& field : fields_) {
        if (NameEquals(field.first, name)) values.push_back(field.second);
    }
    return values;
}

}  // namespace ns
