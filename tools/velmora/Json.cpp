#include "Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace velmora_cli {

std::string JsonQuote(const std::string& text)
{
    std::string q = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': q += "\\\""; break;
        case '\\': q += "\\\\"; break;
        case '\n': q += "\\n"; break;
        case '\r': q += "\\r"; break;
        case '\t': q += "\\t"; break;
        case '\b': q += "\\b"; break;
        case '\f': q += "\\f"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                q += buf;
            } else {
                q += static_cast<char>(c); // UTF-8 passes through unchanged
            }
        }
    }
    q += '"';
    return q;
}

void JsonWriter::BeforeValue()
{
    if (m_done)
        throw std::logic_error("JSON document already complete");
    if (m_stack.empty())
        return;
    Level& top = m_stack.back();
    if (top.isObject) {
        if (!top.keyPending)
            throw std::logic_error("JSON object value without a key");
        top.keyPending = false;
    } else {
        if (!top.empty)
            m_out << ',';
        top.empty = false;
    }
}

void JsonWriter::AfterValue()
{
    if (m_stack.empty())
        m_done = true;
}

JsonWriter& JsonWriter::BeginObject()
{
    BeforeValue();
    m_out << '{';
    m_stack.push_back({true, true, false});
    return *this;
}

JsonWriter& JsonWriter::EndObject()
{
    if (m_stack.empty() || !m_stack.back().isObject || m_stack.back().keyPending)
        throw std::logic_error("unbalanced JSON object");
    m_stack.pop_back();
    m_out << '}';
    AfterValue();
    return *this;
}

JsonWriter& JsonWriter::BeginArray()
{
    BeforeValue();
    m_out << '[';
    m_stack.push_back({false, true, false});
    return *this;
}

JsonWriter& JsonWriter::EndArray()
{
    if (m_stack.empty() || m_stack.back().isObject)
        throw std::logic_error("unbalanced JSON array");
    m_stack.pop_back();
    m_out << ']';
    AfterValue();
    return *this;
}

JsonWriter& JsonWriter::Key(const std::string& key)
{
    if (m_stack.empty() || !m_stack.back().isObject || m_stack.back().keyPending)
        throw std::logic_error("JSON key outside an object");
    Level& top = m_stack.back();
    if (!top.empty)
        m_out << ',';
    top.empty = false;
    top.keyPending = true;
    m_out << JsonQuote(key) << ':';
    return *this;
}

JsonWriter& JsonWriter::String(const std::string& value)
{
    BeforeValue();
    m_out << JsonQuote(value);
    AfterValue();
    return *this;
}

JsonWriter& JsonWriter::Number(double value)
{
    BeforeValue();
    if (!std::isfinite(value)) {
        m_out << "null";
    } else {
        // 17 significant digits read back to the same double.
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.17g", value);
        m_out << buf;
    }
    AfterValue();
    return *this;
}

JsonWriter& JsonWriter::Integer(int64_t value)
{
    BeforeValue();
    m_out << value;
    AfterValue();
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value)
{
    BeforeValue();
    m_out << (value ? "true" : "false");
    AfterValue();
    return *this;
}

JsonWriter& JsonWriter::Null()
{
    BeforeValue();
    m_out << "null";
    AfterValue();
    return *this;
}

bool JsonValue::AsBool() const
{
    if (m_type != Type::Bool)
        throw std::runtime_error("JSON value is not a boolean");
    return m_bool;
}

double JsonValue::AsNumber() const
{
    if (m_type != Type::Number)
        throw std::runtime_error("JSON value is not a number");
    return m_number;
}

const std::string& JsonValue::AsString() const
{
    if (m_type != Type::String)
        throw std::runtime_error("JSON value is not a string");
    return m_string;
}

const std::vector<JsonValue>& JsonValue::AsArray() const
{
    if (m_type != Type::Array)
        throw std::runtime_error("JSON value is not an array");
    return m_array;
}

const std::map<std::string, JsonValue>& JsonValue::AsObject() const
{
    if (m_type != Type::Object)
        throw std::runtime_error("JSON value is not an object");
    return m_object;
}

const JsonValue* JsonValue::Find(const std::string& key) const
{
    if (m_type != Type::Object)
        return nullptr;
    const auto it = m_object.find(key);
    return it == m_object.end() ? nullptr : &it->second;
}

// Recursive descent over the text; depth is bounded so hostile input cannot
// exhaust the stack.
class JsonParser {
public:
    explicit JsonParser(const std::string& text) : m_text(text) {}

    JsonValue ParseDocument()
    {
        JsonValue v = ParseValue(0);
        SkipSpace();
        if (m_pos != m_text.size())
            Fail("unexpected text after the value");
        return v;
    }

private:
    static constexpr int kMaxDepth = 200;

    [[noreturn]] void Fail(const std::string& what) const
    {
        throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(m_pos));
    }

    void SkipSpace()
    {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' ||
                                         m_text[m_pos] == '\n' || m_text[m_pos] == '\r'))
            ++m_pos;
    }

    bool Consume(const char* word)
    {
        size_t i = 0;
        while (word[i] != '\0') {
            if (m_pos + i >= m_text.size() || m_text[m_pos + i] != word[i])
                return false;
            ++i;
        }
        m_pos += i;
        return true;
    }

    JsonValue ParseValue(int depth)
    {
        if (depth > kMaxDepth)
            Fail("nesting too deep");
        SkipSpace();
        if (m_pos >= m_text.size())
            Fail("unexpected end");
        JsonValue v;
        const char c = m_text[m_pos];
        if (c == '{') {
            ++m_pos;
            v.m_type = JsonValue::Type::Object;
            SkipSpace();
            if (m_pos < m_text.size() && m_text[m_pos] == '}') {
                ++m_pos;
                return v;
            }
            for (;;) {
                SkipSpace();
                if (m_pos >= m_text.size() || m_text[m_pos] != '"')
                    Fail("object key expected");
                std::string key = ParseString();
                SkipSpace();
                if (m_pos >= m_text.size() || m_text[m_pos] != ':')
                    Fail("':' expected");
                ++m_pos;
                v.m_object[key] = ParseValue(depth + 1);
                SkipSpace();
                if (m_pos < m_text.size() && m_text[m_pos] == ',') {
                    ++m_pos;
                    continue;
                }
                if (m_pos < m_text.size() && m_text[m_pos] == '}') {
                    ++m_pos;
                    return v;
                }
                Fail("',' or '}' expected");
            }
        }
        if (c == '[') {
            ++m_pos;
            v.m_type = JsonValue::Type::Array;
            SkipSpace();
            if (m_pos < m_text.size() && m_text[m_pos] == ']') {
                ++m_pos;
                return v;
            }
            for (;;) {
                v.m_array.push_back(ParseValue(depth + 1));
                SkipSpace();
                if (m_pos < m_text.size() && m_text[m_pos] == ',') {
                    ++m_pos;
                    continue;
                }
                if (m_pos < m_text.size() && m_text[m_pos] == ']') {
                    ++m_pos;
                    return v;
                }
                Fail("',' or ']' expected");
            }
        }
        if (c == '"') {
            v.m_type = JsonValue::Type::String;
            v.m_string = ParseString();
            return v;
        }
        if (Consume("true")) {
            v.m_type = JsonValue::Type::Bool;
            v.m_bool = true;
            return v;
        }
        if (Consume("false")) {
            v.m_type = JsonValue::Type::Bool;
            return v;
        }
        if (Consume("null"))
            return v;
        v.m_type = JsonValue::Type::Number;
        v.m_number = ParseNumber();
        return v;
    }

    double ParseNumber()
    {
        // Grammar check first; strtod then does the conversion.
        const size_t start = m_pos;
        auto digits = [&]() {
            const size_t d = m_pos;
            while (m_pos < m_text.size() && m_text[m_pos] >= '0' && m_text[m_pos] <= '9')
                ++m_pos;
            return m_pos - d;
        };
        if (m_pos < m_text.size() && m_text[m_pos] == '-')
            ++m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == '0') {
            ++m_pos;
        } else if (digits() == 0) {
            Fail("value expected");
        }
        if (m_pos < m_text.size() && m_text[m_pos] == '.') {
            ++m_pos;
            if (digits() == 0)
                Fail("digits expected after '.'");
        }
        if (m_pos < m_text.size() && (m_text[m_pos] == 'e' || m_text[m_pos] == 'E')) {
            ++m_pos;
            if (m_pos < m_text.size() && (m_text[m_pos] == '+' || m_text[m_pos] == '-'))
                ++m_pos;
            if (digits() == 0)
                Fail("digits expected in exponent");
        }
        return std::strtod(m_text.substr(start, m_pos - start).c_str(), nullptr);
    }

    unsigned ParseHex4()
    {
        if (m_pos + 4 > m_text.size())
            Fail("short \\u escape");
        unsigned u = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = m_text[m_pos++];
            u <<= 4;
            if (h >= '0' && h <= '9')
                u |= static_cast<unsigned>(h - '0');
            else if (h >= 'a' && h <= 'f')
                u |= static_cast<unsigned>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
                u |= static_cast<unsigned>(h - 'A' + 10);
            else
                Fail("bad \\u escape");
        }
        return u;
    }

    static void AppendUtf8(std::string& s, unsigned cp)
    {
        if (cp < 0x80) {
            s += static_cast<char>(cp);
        } else if (cp < 0x800) {
            s += static_cast<char>(0xC0 | (cp >> 6));
            s += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            s += static_cast<char>(0xE0 | (cp >> 12));
            s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | (cp >> 18));
            s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    std::string ParseString()
    {
        ++m_pos; // opening quote
        std::string s;
        for (;;) {
            if (m_pos >= m_text.size())
                Fail("unterminated string");
            const unsigned char c = static_cast<unsigned char>(m_text[m_pos++]);
            if (c == '"')
                return s;
            if (c < 0x20)
                Fail("control character in string");
            if (c != '\\') {
                s += static_cast<char>(c);
                continue;
            }
            if (m_pos >= m_text.size())
                Fail("unterminated escape");
            const char e = m_text[m_pos++];
            switch (e) {
            case '"': s += '"'; break;
            case '\\': s += '\\'; break;
            case '/': s += '/'; break;
            case 'b': s += '\b'; break;
            case 'f': s += '\f'; break;
            case 'n': s += '\n'; break;
            case 'r': s += '\r'; break;
            case 't': s += '\t'; break;
            case 'u': {
                unsigned cp = ParseHex4();
                if (cp >= 0xD800 && cp < 0xDC00 && m_pos + 1 < m_text.size() &&
                    m_text[m_pos] == '\\' && m_text[m_pos + 1] == 'u') {
                    m_pos += 2;
                    const unsigned lo = ParseHex4();
                    if (lo < 0xDC00 || lo > 0xDFFF)
                        Fail("bad surrogate pair");
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                }
                AppendUtf8(s, cp);
                break;
            }
            default:
                Fail("bad escape");
            }
        }
    }

    const std::string& m_text;
    size_t m_pos = 0;
};

JsonValue JsonValue::Parse(const std::string& text)
{
    return JsonParser(text).ParseDocument();
}

} // namespace velmora_cli
