// A small writer for one flat JSON object on one line.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

class JsonObject {
public:
    JsonObject& Add(const std::string& key, const std::string& value) { return Raw(key, Quote(value)); }
    JsonObject& Add(const std::string& key, const char* value) { return Raw(key, Quote(value)); }
    JsonObject& Add(const std::string& key, bool value) { return Raw(key, value ? "true" : "false"); }
    JsonObject& Add(const std::string& key, int value) { return Raw(key, std::to_string(value)); }
    JsonObject& Add(const std::string& key, int64_t value) { return Raw(key, std::to_string(value)); }
    // Numbers with `decimals` places; what JSON cannot hold (inf, nan) is null.
    JsonObject& Add(const std::string& key, double value, int decimals) {
        if (!std::isfinite(value)) return Raw(key, "null");
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
        return Raw(key, buf);
    }
    JsonObject& Add(const std::string& key, const std::vector<std::string>& values) {
        std::string list = "[";
        for (size_t i = 0; i < values.size(); ++i) list += (i ? ", " : "") + Quote(values[i]);
        return Raw(key, list + "]");
    }

    // Pairs of numbers with `decimals` places: [[a, b], ...].
    JsonObject& Add(const std::string& key, const std::vector<std::pair<double, double>>& pairs, int decimals) {
        std::string list = "[";
        char buf[96];
        for (size_t i = 0; i < pairs.size(); ++i) {
            std::snprintf(buf, sizeof buf, "%s[%.*f, %.*f]", i ? ", " : "", decimals, pairs[i].first, decimals,
                          pairs[i].second);
            list += buf;
        }
        return Raw(key, list + "]");
    }

    std::string Text() const { return "{" + body_ + "}"; }

    // A JSON string: quotes, backslashes and control characters escaped;
    // UTF-8 text passes through as it is, a byte that is not part of a valid
    // UTF-8 character (file names can hold any) becomes U+FFFD.
    static std::string Quote(const std::string& s) {
        std::string q = "\"";
        for (size_t i = 0; i < s.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(s[i]);
            if (c >= 0x80) {
                const size_t n = Utf8Length(s, i);
                if (n == 0) {
                    q += "\ufffd";
                } else {
                    q.append(s, i, n);
                    i += n - 1;
                }
                continue;
            }
            switch (c) {
            case '"': q += "\\\""; break;
            case '\\': q += "\\\\"; break;
            case '\n': q += "\\n"; break;
            case '\r': q += "\\r"; break;
            case '\t': q += "\\t"; break;
            case '\b': q += "\\b"; break;
            case '\f': q += "\\f"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    q += buf;
                } else {
                    q += char(c);
                }
            }
        }
        return q + "\"";
    }

private:
    // Bytes of the well-formed UTF-8 character at `i`, or 0.
    static size_t Utf8Length(const std::string& s, size_t i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) n = 2, cp = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF) n = 3, cp = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4) n = 4, cp = c & 0x07;
        else return 0;
        if (i + n > s.size()) return 0;
        for (size_t k = 1; k < n; ++k) {
            const unsigned char t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) return 0;
            cp = cp << 6 | (t & 0x3F);
        }
        // No overlong forms, surrogates or values past U+10FFFF.
        if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
            return 0;
        return n;
    }

    JsonObject& Raw(const std::string& key, const std::string& value) {
        if (!body_.empty()) body_ += ", ";
        body_ += Quote(key) + ": " + value;
        return *this;
    }
    std::string body_;
};
