#include "tools/svplay/EventLine.h"

#include <cstdio>

namespace SvTools {

std::string EventLine::Format(const std::string& eventName, const ns::Dictionary& attributes) {
    return "event " + eventName + " " + Describe(attributes);
}

std::string EventLine::Describe(const ns::Dictionary& dictionary) {
    std::string out = "{";
    bool first = true;
    for (const ns::Dictionary::Entry& entry : dictionary) {
        if (!first) {
            out += ", ";
        }
        first = false;
        out += Text(entry.first) + "=" + Describe(entry.second);
    }
    return out + "}";
}

std::string EventLine::Describe(const ns::Value& value) {
    switch (value.GetKind()) {
        case ns::Value::Kind::Null: return "null";
        case ns::Value::Kind::Bool: return *value.AsBool() ? "true" : "false";
        case ns::Value::Kind::Int:
        case ns::Value::Kind::UInt:
        case ns::Value::Kind::Decimal: return value.StringValue();
        case ns::Value::Kind::Double: {
            // Nine significant digits tell any two floats apart (the player's rates and ratios are
            // floats); whole numbers show without a point (25, not 25.000000).
            char buffer[40];
            std::snprintf(buffer, sizeof buffer, "%.9g", *value.AsDouble());
            return buffer;
        }
        case ns::Value::Kind::String: return Text(*value.AsString());
        case ns::Value::Kind::Array: {
            std::string out = "[";
            const ns::Array& array = *value.AsArray();
            for (size_t i = 0; i < array.size(); ++i) {
                out += (i ? ", " : "") + Describe(array[i]);
            }
            return out + "]";
        }
        case ns::Value::Kind::Dictionary: return Describe(*value.AsDictionary());
        case ns::Value::Kind::Data: return "<" + std::to_string(value.AsData()->size()) + " bytes>";
        case ns::Value::Kind::Date: return value.AsDate()->ToISO8601();
    }
    return "?";
}

std::string EventLine::Text(const std::string& text) {
    bool plain = !text.empty();
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == ' ' || c == '"' || c == '\\' || c == ',' || c == '=' ||
            c == '{' || c == '}' || c == '[' || c == ']') {
            plain = false;
            break;
        }
    }
    if (plain) {
        return text;
    }
    std::string out = "\"";
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20 || u == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", u);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace SvTools
