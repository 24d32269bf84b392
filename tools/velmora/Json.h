#pragma once
// A small JSON writer for the tool's --json output and a reader for the
// model's calibration file. Only what the tool needs: no comments, no streaming input.
#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace velmora_cli {

// Writes one JSON document; commas and nesting are tracked for the caller.
// Misuse (a value where a key is due, unbalanced End calls) throws std::logic_error.
class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : m_out(out) {}

    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& Key(const std::string& key);
    JsonWriter& String(const std::string& value);
    JsonWriter& Number(double value); // NaN and infinities become null
    JsonWriter& Integer(int64_t value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

    // True once the outermost value is complete.
    bool Complete() const { return m_done; }

private:
    struct Level {
        bool isObject;
        bool empty;
        bool keyPending;
    };
    void BeforeValue();
    void AfterValue();

    std::ostream& m_out;
    std::vector<Level> m_stack;
    bool m_done = false;
};

std::string JsonQuote(const std::string& text);

// A parsed JSON value.
class JsonValue {
public:
    enum class Type { Null, Bool, Number, String, Array, Object };

    Type type() const { return m_type; }
    bool IsNull() const { return m_type == Type::Null; }
    bool AsBool() const;
    double AsNumber() const;
    const std::string& AsString() const;
    const std::vector<JsonValue>& AsArray() const;
    const std::map<std::string, JsonValue>& AsObject() const;
    // Member of an object, or null when this is no object or has no such key.
    const JsonValue* Find(const std::string& key) const;

    // Parses a whole document; throws std::runtime_error naming the offset of a fault.
    static JsonValue Parse(const std::string& text);

private:
    friend class JsonParser;
    Type m_type = Type::Null;
    bool m_bool = false;
    double m_number = 0.0;
    std::string m_string;
    std::vector<JsonValue> m_array;
    std::map<std::string, JsonValue> m_object;
};

} // namespace velmora_cli
