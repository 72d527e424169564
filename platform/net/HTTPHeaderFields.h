#ifndef PLATFORM_NET_HTTP_HEADER_FIELDS_H
#define PLATFORM_NET_HTTP_HEADER_FIELDS_H
// HTTP header fields in the order they were set or received. Names compare without regard to
// ASCII case, as HTTP asks; each field keeps the spelling it was first given, so a request goes
// out exactly as the caller wrote it. A response may carry the same name on several lines
// ("Set-Cookie"); Values() returns each line, Value() joins them with ", ".

#include <string>
#include <utility>
#include <vector>

namespace ns {

class HTTPHeaderFields {
public:
    using Field = std::pair<std::string, std::string>;

    // Replaces the value of the first field with this name (keeping its place and spelling)
    // and drops any later ones; appends a new field when there is none. An empty value is kept
    // as a field with an empty value.
    void Set(const std::string& name, const std::string& value);
    // Appends to an existing field's value with "," (one line on the wire), or adds the field.
    void AddValue(const std::string& name, const std::string& value);
    // Appends a field as its own line, even when the name is already there (received headers).
    void Append(const std::string& name, const std::string& value);
    void Remove(const std::string& name);
    // Adds text to the value of the last field (a folded line of a received head); does
    // nothing when there is no field.
    void AppendToLastValue(const std::string& text);

    bool Contains(const std::string& name) const;
    // Every value of the name joined with ", "; empty when absent.
    std::string Value(const std::string& name) const;
    std::vector<std::string> Values(const std::string& name) const;

    const std::vector<Field>& Fields() const { return fields_; }
    size_t Count() const { return fields_.size(); }
    bool Empty() const { return fields_.empty(); }
    void Clear() { fields_.clear(); }

    static bool NameEquals(const std::string& a, const std::string& b);

private:
    std::vector<Field> fields_;
};

}  // namespace ns

#endif
