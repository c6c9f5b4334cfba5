#include "service/json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace service {

const Json* Json::Find(std::string_view key) const {
    if (kind_ != Kind::Object) {
        return nullptr;
    }
    for (const auto& [k, v] : object_) {
        if (k == key) {
            return &v;
        }
    }
    return nullptr;
}

Json& Json::Set(std::string key, Json value) {
    if (kind_ != Kind::Object) {
        *this = Json(Object{});
    }
    object_.emplace_back(std::move(key), std::move(value));
    return object_.back().second;
}

namespace {

// The length of the well-formed UTF-8 sequence text starts with (no overlong forms, no
// surrogates, nothing above U+10FFFF); 0 when it is not one.
std::size_t Utf8Length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(0);
    std::size_t length = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    bool Document(Json& value, std::string& error) {
        Blanks();
        if (!Value(value, 0)) {
            error = error_;
            return false;
        }
        Blanks();
        if (at_ != text_.size()) {
            error = "text after the value";
            return false;
        }
        return true;
    }

private:
    bool Fail(const char* why) {
        if (error_.empty()) {
            error_ = why;
        }
        return false;
    }
    void Blanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }
    bool Literal(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) {
            return Fail("unknown literal");
        }
        at_ += word.size();
        return true;
    }
    bool Value(Json& value, int depth) {
        if (depth > kMaxDepth) {
            return Fail("nested too deep");
        }
        if (at_ >= text_.size()) {
            return Fail("value expected");
        }
        switch (text_[at_]) {
        case '{':
            return ObjectValue(value, depth);
        case '[':
            return ArrayValue(value, depth);
        case '"': {
            std::string s;
            if (!String(s)) {
                return false;
            }
            value = Json(std::move(s));
            return true;
        }
        case 't':
            value = Json(true);
            return Literal("true");
        case 'f':
            value = Json(false);
            return Literal("false");
        case 'n':
            value = Json();
            return Literal("null");
        default:
            return Number(value);
        }
    }
    bool ObjectValue(Json& value, int depth) {
        ++at_;
        value = Json(Json::Object{});
        Blanks();
        if (at_ < text_.size() && text_[at_] == '}') {
            ++at_;
            return true;
        }
        while (true) {
            Blanks();
            std::string key;
            if (at_ >= text_.size() || text_[at_] != '"' || !String(key)) {
                return Fail("member name expected");
            }
            Blanks();
            if (at_ >= text_.size() || text_[at_] != ':') {
                return Fail("':' expected");
            }
            ++at_;
            Blanks();
            Json member;
            if (!Value(member, depth + 1)) {
                return false;
            }
            value.Set(std::move(key), std::move(member));
            Blanks();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == '}') {
                ++at_;
                return true;
            }
            return Fail("',' or '}' expected");
        }
    }
    bool ArrayValue(Json& value, int depth) {
        ++at_;
        value = Json(Json::Array{});
        Blanks();
        if (at_ < text_.size() && text_[at_] == ']') {
            ++at_;
            return true;
        }
        while (true) {
            Blanks();
            Json element;
            if (!Value(element, depth + 1)) {
                return false;
            }
            value.Push(std::move(element));
            Blanks();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == ']') {
                ++at_;
                return true;
            }
            return Fail("',' or ']' expected");
        }
    }
    bool Hex4(unsigned& code) {
        if (at_ + 4 > text_.size()) {
            return Fail("short \\u escape");
        }
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            code <<= 4;
            if (c >= '0' && c <= '9') {
                code |= static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                code |= static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                code |= static_cast<unsigned>(c - 'A' + 10);
            } else {
                return Fail("bad \\u escape");
            }
        }
        return true;
    }
    static void Utf8(unsigned code, std::string& out) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    bool String(std::string& out) {
        ++at_;
        while (at_ < text_.size()) {
            const auto c = static_cast<unsigned char>(text_[at_++]);
            if (c == '"') {
                return true;
            }
            if (c < 0x20) {
                return Fail("control character in a string");
            }
            if (c >= 0x80) {
                // Text is UTF-8: what a reply echoes (a name, an id) must read back as such.
                const std::size_t length = Utf8Length(text_.substr(at_ - 1));
                if (length == 0) {
                    return Fail("invalid UTF-8");
                }
                out.append(text_.substr(at_ - 1, length));
                at_ += length - 1;
                continue;
            }
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (at_ >= text_.size()) {
                break;
            }
            const char e = text_[at_++];
            switch (e) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                unsigned code = 0;
                if (!Hex4(code)) {
                    return false;
                }
                if (code >= 0xD800 && code < 0xDC00) {
                    unsigned low = 0;
                    if (text_.substr(at_, 2) != "\\u") {
                        return Fail("lone surrogate");
                    }
                    at_ += 2;
                    if (!Hex4(low) || low < 0xDC00 || low >= 0xE000) {
                        return Fail("lone surrogate");
                    }
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xDC00 && code < 0xE000) {
                    return Fail("lone surrogate");
                }
                Utf8(code, out);
                break;
            }
            default:
                return Fail("bad escape");
            }
        }
        return Fail("unterminated string");
    }
    bool Number(Json& value) {
        const std::size_t start = at_;
        auto digits = [&] {
            const std::size_t from = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
                ++at_;
            }
            return at_ - from;
        };
        if (at_ < text_.size() && text_[at_] == '-') {
            ++at_;
        }
        if (at_ < text_.size() && text_[at_] == '0') {
            ++at_;
        } else if (digits() == 0) {
            return Fail("value expected");
        }
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (digits() == 0) {
                return Fail("digits expected after '.'");
            }
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) {
                ++at_;
            }
            if (digits() == 0) {
                return Fail("digits expected in the exponent");
            }
        }
        double n = 0;
        const std::string_view number = text_.substr(start, at_ - start);
        auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), n);
        // A number too small for a double is as good as zero (1e-400); one too large is not.
        const std::size_t exponent = number.find_first_of("eE");
        if (ec == std::errc::result_out_of_range && exponent != std::string_view::npos &&
            exponent + 1 < number.size() && number[exponent + 1] == '-') {
            n = number.front() == '-' ? -0.0 : 0.0;
            ec = std::errc{};
        }
        if (ec != std::errc{} || end != number.data() + number.size() || !std::isfinite(n)) {
            return Fail("number out of range");
        }
        value = Json(n);
        return true;
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::string error_;
};

void AppendString(const std::string& s, std::string& out) {
    out += '"';
    for (std::size_t at = 0; at < s.size(); ++at) {
        const char ch = s[at];
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80) {
            // Text of our own files (a unit in a table's .cvt, cut at its length, or written in
            // a single-byte code page) may not be UTF-8: a reader would refuse the whole line.
            const std::size_t length = Utf8Length(std::string_view(s).substr(at));
            if (length == 0) {
                out += "\xef\xbf\xbd"; // U+FFFD, the replacement character
            } else {
                out.append(s, at, length);
                at += length - 1;
            }
            continue;
        }
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char text[8];
                std::snprintf(text, sizeof text, "\\u%04x", c);
                out += text;
            } else {
                out += ch;
            }
        }
    }
    out += '"';
}

} // namespace

bool ParseJson(std::string_view text, Json& value, std::string& error) {
    value = Json();
    return Parser(text).Document(value, error);
}

void AppendJson(const Json& value, std::string& out) {
    switch (value.kind()) {
    case Json::Kind::Null:
        out += "null";
        break;
    case Json::Kind::Bool:
        out += value.AsBool() ? "true" : "false";
        break;
    case Json::Kind::Number: {
        const double n = value.AsNumber();
        char text[32];
        if (!std::isfinite(n)) {
            out += "null";
            break;
        }
        if (std::trunc(n) == n && std::fabs(n) < 9007199254740992.0) {
            const auto [end, ec] =
                std::to_chars(text, text + sizeof text, static_cast<long long>(n));
            out.append(text, end);
        } else {
            const auto [end, ec] = std::to_chars(text, text + sizeof text, n);
            out.append(text, end);
        }
        break;
    }
    case Json::Kind::String:
        AppendString(value.AsString(), out);
        break;
    case Json::Kind::Array: {
        out += '[';
        bool first = true;
        for (const Json& e : value.AsArray()) {
            if (!first) {
                out += ',';
            }
            first = false;
            AppendJson(e, out);
        }
        out += ']';
        break;
    }
    case Json::Kind::Object: {
        out += '{';
        bool first = true;
        for (const auto& [k, v] : value.AsObject()) {
            if (!first) {
                out += ',';
            }
            first = false;
            AppendString(k, out);
            out += ':';
            AppendJson(v, out);
        }
        out += '}';
        break;
    }
    }
}

std::string WriteJson(const Json& value) {
    std::string out;
    AppendJson(value, out);
    return out;
}

} // namespace service
