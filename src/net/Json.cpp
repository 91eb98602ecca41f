#include "net/Json.h"

#include <cstdlib>

namespace {
const std::string EmptyText;
const std::vector<TJson> NoItems;

void AppendUtf8(std::string& out, unsigned code)
{
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}
} // namespace

class TJsonParser {
public:
    explicit TJsonParser(const std::string& text) : s_(text) {}

    bool Document(TJson& out)
    {
        return Value(out, 0) && (SkipBlanks(), pos_ == s_.size());
    }

private:
    void SkipBlanks()
    {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }

    bool Literal(const char* word)
    {
        const std::string w(word);
        if (s_.compare(pos_, w.size(), w) != 0)
            return false;
        pos_ += w.size();
        return true;
    }

    bool Value(TJson& out, int depth)
    {
        if (depth > TJson::MaxDepth)
            return false;
        SkipBlanks();
        if (pos_ >= s_.size())
            return false;
        switch (s_[pos_]) {
        case '{':
            return Object(out, depth);
        case '[':
            return Array(out, depth);
        case '"':
            out.kind_ = TJson::TKind::String;
            return Text(out.string_);
        case 't':
            out.kind_ = TJson::TKind::Bool;
            out.bool_ = true;
            return Literal("true");
        case 'f':
            out.kind_ = TJson::TKind::Bool;
            return Literal("false");
        case 'n':
            return Literal("null");
        default:
            return NumberValue(out);
        }
    }

    // Skips blanks, then takes c when it comes next.
    bool Take(char c)
    {
        SkipBlanks();
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    // The items of an array or the members of an object, up to the closing
    // character; item reads one (the separators are handled here).
    template <typename Item> bool Sequence(char close, Item item)
    {
        ++pos_;  // the opening character
        if (Take(close))
            return true;
        do {
            if (!item())
                return false;
        } while (Take(','));
        return Take(close);
    }

    bool Object(TJson& out, int depth)
    {
        out.kind_ = TJson::TKind::Object;
        return Sequence('}', [&] {
            std::string name;
            SkipBlanks();
            if (pos_ >= s_.size() || s_[pos_] != '"' || !Text(name) || !Take(':'))
                return false;
            TJson value;
            if (!Value(value, depth + 1))
                return false;
            out.members_.emplace_back(std::move(name), std::move(value));
            return true;
        });
    }

    bool Array(TJson& out, int depth)
    {
        out.kind_ = TJson::TKind::Array;
        return Sequence(']', [&] {
            TJson value;
            if (!Value(value, depth + 1))
                return false;
            out.items_.push_back(std::move(value));
            return true;
        });
    }

    bool Hex4(unsigned& code)
    {
        if (s_.size() - pos_ < 4)
            return false;
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[pos_++];
            code <<= 4;
            if (c >= '0' && c <= '9')
                code |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                code |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                code |= static_cast<unsigned>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    bool Text(std::string& out)
    {
        ++pos_;  // the opening quote
        while (pos_ < s_.size()) {
            const char c = s_[pos_++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (pos_ >= s_.size())
                return false;
            const char e = s_[pos_++];
            switch (e) {
            case '"': case '\\': case '/': out.push_back(e); break;
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'u': {
                unsigned code = 0;
                if (!Hex4(code))
                    return false;
                if (code >= 0xD800 && code < 0xDC00) {
                    // A surrogate pair; a lone half becomes U+FFFD.
                    unsigned low = 0;
                    if (s_.compare(pos_, 2, "\\u") == 0) {
                        const std::size_t keep = pos_;
                        pos_ += 2;
                        if (Hex4(low) && low >= 0xDC00 && low < 0xE000)
                            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                        else {
                            pos_ = keep;
                            code = 0xFFFD;
                        }
                    } else {
                        code = 0xFFFD;
                    }
                } else if (code >= 0xDC00 && code < 0xE000) {
                    code = 0xFFFD;
                }
                AppendUtf8(out, code);
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }

    bool NumberValue(TJson& out)
    {
        const std::size_t start = pos_;
        if (pos_ < s_.size() && s_[pos_] == '-')
            ++pos_;
        auto digits = [this] {
            const std::size_t from = pos_;
            while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9')
                ++pos_;
            return pos_ > from;
        };
        if (!digits())
            return false;
        if (pos_ < s_.size() && s_[pos_] == '.') {
            ++pos_;
            if (!digits())
                return false;
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-'))
                ++pos_;
            if (!digits())
                return false;
        }
        out.kind_ = TJson::TKind::Number;
        out.number_ = std::strtod(s_.substr(start, pos_ - start).c_str(), nullptr);
        return true;
    }

    const std::string& s_;
    std::size_t pos_ = 0;
};

const std::string& TJson::String() const
{
    return kind_ == TKind::String ? string_ : EmptyText;
}

const TJson* TJson::Member(const std::string& name) const
{
    for (auto it = members_.rbegin(); it != members_.rend(); ++it)
        if (it->first == name)
            return &it->second;
    return nullptr;
}

std::string TJson::StringOf(const std::string& name) const
{
    const TJson* m = Member(name);
    return m ? m->String() : std::string();
}

double TJson::NumberOf(const std::string& name, double fallback) const
{
    const TJson* m = Member(name);
    return m ? m->Number(fallback) : fallback;
}

const std::vector<TJson>& TJson::Items() const
{
    return kind_ == TKind::Array ? items_ : NoItems;
}

const std::vector<TJson>& TJson::ItemsOf(const std::string& name) const
{
    const TJson* m = Member(name);
    return m ? m->Items() : NoItems;
}

std::optional<TJson> TJson::Parse(const std::string& text)
{
    TJson value;
    TJsonParser parser(text);
    if (!parser.Document(value))
        return std::nullopt;
    return value;
}
