#pragma once
// A small JSON reader: the whole text into a tree of values, for the page
// engine's page information. Numbers are kept as doubles; strings as UTF-8.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class TJson {
public:
    enum class TKind { Null, Bool, Number, String, Array, Object };

    TKind Kind() const { return kind_; }
    bool IsNull() const { return kind_ == TKind::Null; }
    bool IsString() const { return kind_ == TKind::String; }
    bool IsNumber() const { return kind_ == TKind::Number; }
    bool IsArray() const { return kind_ == TKind::Array; }
    bool IsObject() const { return kind_ == TKind::Object; }

    // The value when it is of that kind, else the fallback.
    bool Bool(bool fallback = false) const { return kind_ == TKind::Bool ? bool_ : fallback; }
    double Number(double fallback = 0) const { return kind_ == TKind::Number ? number_ : fallback; }
    const std::string& String() const;  // empty for other kinds

    // An object's member (the last one of that name), or null when missing.
    const TJson* Member(const std::string& name) const;
    // A member's text or number, with a fallback when missing or of another kind.
    std::string StringOf(const std::string& name) const;
    double NumberOf(const std::string& name, double fallback = 0) const;
    // An array's items (empty for other kinds), and those of a member.
    const std::vector<TJson>& Items() const;
    const std::vector<TJson>& ItemsOf(const std::string& name) const;

    // The whole text must be one value (blanks around it allowed); nesting
    // deeper than MaxDepth is refused.
    static constexpr int MaxDepth = 256;
    static std::optional<TJson> Parse(const std::string& text);

private:
    friend class TJsonParser;
    TKind kind_ = TKind::Null;
    bool bool_ = false;
    double number_ = 0;
    std::string string_;
    std::vector<TJson> items_;
    std::vector<std::pair<std::string, TJson>> members_;
};
