#pragma once
// HTML and SVG built so that text cannot become markup: element and attribute names are
// literals of this program (checked when it is compiled), and every text and attribute value
// goes through the escape on its way in. The page's only raw parts are the embedded stylesheet
// and template.
#include <initializer_list>
#include <string>
#include <string_view>

namespace kestrix::results {

std::string html_escape(std::string_view s);

// A name written in the source: a tag or an attribute.
class markup_name {
public:
    template <std::size_t N> consteval markup_name(const char (&s)[N]) : text_(s, N - 1) {
        for (std::size_t i = 0; i + 1 < N; ++i) {
            const char c = s[i];
            const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == ':';
            if (!ok) {
                throw "not a markup name"; // stops the compilation
            }
        }
    }
    std::string_view text() const { return text_; }

private:
    std::string_view text_;
};

struct attribute {
    markup_name name;
    std::string value; // escaped when written
};

class markup {
public:
    markup& open(markup_name tag, std::initializer_list<attribute> attrs = {}) {
        start(tag, attrs);
        out_ += '>';
        return *this;
    }
    // <tag .../>
    markup& leaf(markup_name tag, std::initializer_list<attribute> attrs = {}) {
        start(tag, attrs);
        out_ += "/>";
        return *this;
    }
    markup& close(markup_name tag) {
        out_ += "</";
        out_ += tag.text();
        out_ += '>';
        return *this;
    }
    markup& text(std::string_view s) {
        out_ += html_escape(s);
        return *this;
    }
    // <tag ...>text</tag>
    markup& element(markup_name tag, std::initializer_list<attribute> attrs, std::string_view s) {
        return open(tag, attrs).text(s).close(tag);
    }
    markup& append(const markup& other) {
        out_ += other.out_;
        return *this;
    }
    // A character reference by number ("&#9888;").
    markup& character(unsigned code) {
        out_ += "&#" + std::to_string(code) + ";";
        return *this;
    }
    const std::string& str() const { return out_; }

private:
    void start(markup_name tag, std::initializer_list<attribute> attrs) {
        out_ += '<';
        out_ += tag.text();
        for (const auto& a : attrs) {
            out_ += ' ';
            out_ += a.name.text();
            out_ += "=\"";
            out_ += html_escape(a.value);
            out_ += '"';
        }
    }
    std::string out_;
};

} // namespace kestrix::results
