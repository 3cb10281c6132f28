// The program's resources, read from the same resource script that windres
// compiles: a small preprocessor (#include, #define, #if...), then BITMAP,
// ICON, STRINGTABLE and DIALOG/DIALOGEX statements. Bitmap files are decoded
// to true colour. LoadStringA and LoadIconA live here too.
//
// Parsed scripts and decoded bitmap files are kept across Reset, keyed by
// path and modification time, so long test runs don't parse or decode again.
#include "sim_internal.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace sim::detail {
namespace {

std::string Upper(std::string text) {
    for (char &c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool ReadFile(const std::string &path, std::string *bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream out;
    out << in.rdbuf();
    *bytes = out.str();
    return true;
}

bool FileStamp(const std::string &path, int64_t *stamp) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    *stamp = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec + (int64_t(st.st_size) << 1);
    return true;
}

std::string Folder(const std::string &path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string Join(const std::string &folder, std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    if (!name.empty() && name[0] == '/') return name;
    return folder + "/" + name;
}

// ---------------------------------------------------------------- names of resources

// A resource is named by a number or by a case-insensitive string.
struct ResName {
    bool isId = false;
    int id = 0;
    std::string text;  // upper case, as the resource compiler stores it
};

bool Matches(const ResName &name, LPCSTR wanted) {
    if (wanted == nullptr) return false;
    if (IS_INTRESOURCE(wanted)) return name.isId && name.id == int(reinterpret_cast<uintptr_t>(wanted));
    if (wanted[0] == '#') {  // "#123" names the integer resource 123
        char *end = nullptr;
        long value = std::strtol(wanted + 1, &end, 10);
        return end != wanted + 1 && *end == 0 && name.isId && name.id == int(value);
    }
    return !name.isId && name.text == Upper(wanted);
}

// ---------------------------------------------------------------- the parsed script

struct Script {
    std::string path;
    bool loaded = false;
    std::string error;
    std::vector<std::pair<ResName, std::string>> bitmaps;  // name, file path
    std::vector<std::pair<ResName, std::string>> icons;
    std::map<UINT, std::string> strings;
    std::vector<std::pair<ResName, DialogTemplate>> dialogs;
};

// ---------------------------------------------------------------- preprocessing

struct Token {
    enum Kind { End, Name, Number, String, Punct } kind = End;
    std::string text;   // names, strings (unescaped), punctuation
    long long value = 0;
    int line = 0;
};

struct Preprocessor {
    std::map<std::string, std::string> defines;
    std::string output;  // the script with directives and comments removed
    std::string error;
    int depth = 0;

    // Removes comments; keeps strings intact and line ends in place.
    static std::string StripComments(const std::string &text) {
        std::string out;
        out.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            char c = text[i];
            if (c == '"') {
                out += c;
                for (++i; i < text.size(); ++i) {
                    out += text[i];
                    if (text[i] == '\\' && i + 1 < text.size()) {
                        out += text[++i];
                    } else if (text[i] == '"') {
                        if (i + 1 < text.size() && text[i + 1] == '"') out += text[++i];
                        else break;
                    } else if (text[i] == '\n') {
                        break;
                    }
                }
            } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
                while (i < text.size() && text[i] != '\n') ++i;
                if (i < text.size()) out += '\n';
            } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
                i += 2;
                while (i + 1 < text.size() && !(text[i] == '*' && text[i + 1] == '/')) {
                    if (text[i] == '\n') out += '\n';
                    ++i;
                }
                ++i;
                out += ' ';
            } else {
                out += c;
            }
        }
        return out;
    }

    static std::string Trim(const std::string &s) {
        size_t a = s.find_first_not_of(" \t\r\n");
        if (a == std::string::npos) return "";
        size_t b = s.find_last_not_of(" \t\r\n");
        return s.substr(a, b - a + 1);
    }

    bool Condition(const std::string &text);

    void Run(const std::string &path, bool required) {
        std::string bytes;
        if (!ReadFile(path, &bytes)) {
            if (required && error.empty()) error = "can't read " + path;
            return;
        }
        if (++depth > 16) {
            if (error.empty()) error = "includes nested too deep at " + path;
            --depth;
            return;
        }
        std::string text = StripComments(bytes);
        std::istringstream lines(text);
        std::string line;
        // Each level: is this branch live, has one branch of it been taken.
        std::vector<std::pair<bool, bool>> conditions;
        auto live = [&]() {
            for (auto &c : conditions)
                if (!c.first) return false;
            return true;
        };
        // Only the script's own lines end lines of the output, so that line
        // numbers in messages are the script's; an included file's lines
        // are joined by blanks.
        const char lineEnd = depth == 1 ? '\n' : ' ';
        while (std::getline(lines, line)) {
            // Backslash continuations of directives.
            while (!line.empty() && (line.back() == '\\' || (line.back() == '\r' && line.size() > 1 &&
                                                               line[line.size() - 2] == '\\'))) {
                line.erase(line.find_last_of('\\'));
                std::string next;
                if (!std::getline(lines, next)) break;
                line += next;
                output += lineEnd;
            }
            std::string trimmed = Trim(line);
            if (trimmed.empty() || trimmed[0] != '#') {
                if (live()) output += line;
                output += lineEnd;
                continue;
            }
            output += lineEnd;
            std::string directive = Trim(trimmed.substr(1));
            size_t space = directive.find_first_of(" \t(");
            std::string word = directive.substr(0, space);
            std::string rest = space == std::string::npos ? "" : Trim(directive.substr(space));
            if (word == "ifdef" || word == "ifndef") {
                bool defined = defines.count(rest) != 0;
                bool value = word == "ifdef" ? defined : !defined;
                conditions.push_back({value, value});
            } else if (word == "if") {
                bool value = live() && Condition(rest);
                conditions.push_back({value, value});
            } else if (word == "elif") {
                if (!conditions.empty()) {
                    bool value = !conditions.back().second && Condition(rest);
                    conditions.back().first = value;
                    conditions.back().second = conditions.back().second || value;
                }
            } else if (word == "else") {
                if (!conditions.empty()) {
                    conditions.back().first = !conditions.back().second;
                    conditions.back().second = true;
                }
            } else if (word == "endif") {
                if (!conditions.empty()) conditions.pop_back();
            } else if (!live()) {
                continue;
            } else if (word == "define") {
                size_t end = rest.find_first_of(" \t(");
                std::string name = rest.substr(0, end);
                // Function-like macros are not used by resource scripts; keep the text.
                std::string value = end == std::string::npos ? "" : Trim(rest.substr(end));
                defines[name] = value;
            } else if (word == "undef") {
                defines.erase(rest);
            } else if (word == "include") {
                if (rest.size() >= 2 && rest[0] == '"') {
                    std::string name = rest.substr(1, rest.find('"', 1) - 1);
                    // A header that isn't next to the script (a system one) is skipped.
                    Run(Join(Folder(path), name), false);
                }
                // <windows.h> and friends: their names are built in here.
            }
            // #pragma, #error, #line: nothing to do.
        }
        --depth;
    }
};

// ---------------------------------------------------------------- tokens

class Lexer {
public:
    explicit Lexer(const std::string &text) : text_(text) {}

    Token Next() {
        Skip();
        Token t;
        t.line = line_;
        if (pos_ >= text_.size()) return t;
        char c = text_[pos_];
        if ((c == 'L' || c == 'l') && pos_ + 1 < text_.size() && text_[pos_ + 1] == '"') {
            ++pos_;
            c = '"';
        }
        if (c == '"') {
            t.kind = Token::String;
            t.text = ReadString();
            return t;
        }
        if (std::isdigit(static_cast<unsigned char>(c))) {
            t.kind = Token::Number;
            size_t start = pos_;
            while (pos_ < text_.size() && std::isalnum(static_cast<unsigned char>(text_[pos_]))) ++pos_;
            std::string digits = text_.substr(start, pos_ - start);
            // Type suffixes (1L, 2U) say nothing here.
            while (!digits.empty() && (digits.back() == 'L' || digits.back() == 'l' ||
                                       digits.back() == 'U' || digits.back() == 'u'))
                digits.pop_back();
            t.value = (long long)std::strtoull(digits.c_str(), nullptr, 0);
            t.text = digits;
            return t;
        }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            t.kind = Token::Name;
            size_t start = pos_;
            // File names may stand unquoted (map1.bmp), so '.' belongs to a name.
            while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) ||
                                          text_[pos_] == '_' || text_[pos_] == '.'))
                ++pos_;
            t.text = text_.substr(start, pos_ - start);
            return t;
        }
        t.kind = Token::Punct;
        t.text = std::string(1, c);
        ++pos_;
        return t;
    }

private:
    void Skip() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) {
            if (text_[pos_] == '\n') ++line_;
            ++pos_;
        }
    }

    // A string: "" is a quote, and the C escapes that windres knows.
    std::string ReadString() {
        std::string out;
        ++pos_;
        while (pos_ < text_.size()) {
            char c = text_[pos_++];
            if (c == '"') {
                if (pos_ < text_.size() && text_[pos_] == '"') {
                    out += '"';
                    ++pos_;
                    continue;
                }
                break;
            }
            if (c == '\n') {
                ++line_;
                break;
            }
            if (c != '\\' || pos_ >= text_.size()) {
                out += c;
                continue;
            }
            char e = text_[pos_++];
            switch (e) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'a': out += '\a'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'v': out += '\v'; break;
            case '\\': out += '\\'; break;
            case '"': out += '"'; break;
            case '\'': out += '\''; break;
            case 'x': {
                int value = 0, n = 0;
                while (pos_ < text_.size() && n < 2 && std::isxdigit(static_cast<unsigned char>(text_[pos_]))) {
                    char h = text_[pos_++];
                    value = value * 16 + (std::isdigit(static_cast<unsigned char>(h)) ? h - '0'
                                                                                       : std::tolower(h) - 'a' + 10);
                    ++n;
                }
                out += char(value);
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    int value = e - '0', n = 1;
                    while (pos_ < text_.size() && n < 3 && text_[pos_] >= '0' && text_[pos_] <= '7') {
                        value = value * 8 + (text_[pos_++] - '0');
                        ++n;
                    }
                    out += char(value);
                } else {
                    out += '\\';
                    out += e;
                }
            }
        }
        return out;
    }

    const std::string &text_;
    size_t pos_ = 0;
    int line_ = 1;
};

// Names every resource script may use without including a header.
const std::map<std::string, long long> &BuiltinNames() {
    static const std::map<std::string, long long> names = {
        {"WS_OVERLAPPED", 0x00000000L}, {"WS_POPUP", 0x80000000L}, {"WS_CHILD", 0x40000000L},
        {"WS_MINIMIZE", 0x20000000L}, {"WS_VISIBLE", 0x10000000L}, {"WS_DISABLED", 0x08000000L},
        {"WS_CLIPSIBLINGS", 0x04000000L}, {"WS_CLIPCHILDREN", 0x02000000L}, {"WS_MAXIMIZE", 0x01000000L},
        {"WS_CAPTION", 0x00C00000L}, {"WS_BORDER", 0x00800000L}, {"WS_DLGFRAME", 0x00400000L},
        {"WS_VSCROLL", 0x00200000L}, {"WS_HSCROLL", 0x00100000L}, {"WS_SYSMENU", 0x00080000L},
        {"WS_THICKFRAME", 0x00040000L}, {"WS_GROUP", 0x00020000L}, {"WS_TABSTOP", 0x00010000L},
        {"WS_MINIMIZEBOX", 0x00020000L}, {"WS_MAXIMIZEBOX", 0x00010000L},
        {"WS_OVERLAPPEDWINDOW", 0x00CF0000L}, {"WS_POPUPWINDOW", 0x80880000L},
        {"WS_EX_DLGMODALFRAME", 0x1L}, {"WS_EX_TOPMOST", 0x8L}, {"WS_EX_TRANSPARENT", 0x20L},
        {"WS_EX_TOOLWINDOW", 0x80L}, {"WS_EX_WINDOWEDGE", 0x100L}, {"WS_EX_CLIENTEDGE", 0x200L},
        {"WS_EX_CONTEXTHELP", 0x400L}, {"WS_EX_STATICEDGE", 0x20000L}, {"WS_EX_APPWINDOW", 0x40000L},
        {"DS_ABSALIGN", 0x01L}, {"DS_SYSMODAL", 0x02L}, {"DS_LOCALEDIT", 0x20L}, {"DS_SETFONT", 0x40L},
        {"DS_MODALFRAME", 0x80L}, {"DS_NOIDLEMSG", 0x100L}, {"DS_SETFOREGROUND", 0x200L},
        {"DS_3DLOOK", 0x4L}, {"DS_FIXEDSYS", 0x8L}, {"DS_NOFAILCREATE", 0x10L}, {"DS_CONTROL", 0x400L},
        {"DS_CENTER", 0x800L}, {"DS_CENTERMOUSE", 0x1000L}, {"DS_CONTEXTHELP", 0x2000L},
        {"DS_SHELLFONT", 0x48L},
        {"BS_PUSHBUTTON", 0x0L}, {"BS_DEFPUSHBUTTON", 0x1L}, {"BS_CHECKBOX", 0x2L},
        {"BS_AUTOCHECKBOX", 0x3L}, {"BS_RADIOBUTTON", 0x4L}, {"BS_3STATE", 0x5L}, {"BS_AUTO3STATE", 0x6L},
        {"BS_GROUPBOX", 0x7L}, {"BS_USERBUTTON", 0x8L}, {"BS_AUTORADIOBUTTON", 0x9L},
        {"BS_OWNERDRAW", 0xBL}, {"BS_LEFTTEXT", 0x20L}, {"BS_TEXT", 0x0L}, {"BS_LEFT", 0x100L},
        {"BS_RIGHT", 0x200L}, {"BS_CENTER", 0x300L}, {"BS_TOP", 0x400L}, {"BS_BOTTOM", 0x800L},
        {"BS_VCENTER", 0xC00L}, {"BS_MULTILINE", 0x2000L}, {"BS_FLAT", 0x8000L},
        {"ES_LEFT", 0x0L}, {"ES_CENTER", 0x1L}, {"ES_RIGHT", 0x2L}, {"ES_MULTILINE", 0x4L},
        {"ES_UPPERCASE", 0x8L}, {"ES_LOWERCASE", 0x10L}, {"ES_PASSWORD", 0x20L},
        {"ES_AUTOVSCROLL", 0x40L}, {"ES_AUTOHSCROLL", 0x80L}, {"ES_NOHIDESEL", 0x100L},
        {"ES_OEMCONVERT", 0x400L}, {"ES_READONLY", 0x800L}, {"ES_WANTRETURN", 0x1000L},
        {"ES_NUMBER", 0x2000L},
        {"SS_LEFT", 0x0L}, {"SS_CENTER", 0x1L}, {"SS_RIGHT", 0x2L}, {"SS_ICON", 0x3L},
        {"SS_BLACKRECT", 0x4L}, {"SS_GRAYRECT", 0x5L}, {"SS_WHITERECT", 0x6L}, {"SS_BLACKFRAME", 0x7L},
        {"SS_GRAYFRAME", 0x8L}, {"SS_WHITEFRAME", 0x9L}, {"SS_SIMPLE", 0xBL},
        {"SS_LEFTNOWORDWRAP", 0xCL}, {"SS_BITMAP", 0xEL}, {"SS_ETCHEDFRAME", 0x12L},
        {"SS_NOPREFIX", 0x80L}, {"SS_NOTIFY", 0x100L}, {"SS_CENTERIMAGE", 0x200L},
        {"SS_SUNKEN", 0x1000L},
        {"IDOK", 1}, {"IDCANCEL", 2}, {"IDABORT", 3}, {"IDRETRY", 4}, {"IDIGNORE", 5},
        {"IDYES", 6}, {"IDNO", 7}, {"IDCLOSE", 8}, {"IDHELP", 9}, {"IDC_STATIC", -1},
        {"LANG_NEUTRAL", 0}, {"LANG_ENGLISH", 0x09}, {"SUBLANG_NEUTRAL", 0}, {"SUBLANG_DEFAULT", 1},
        {"SUBLANG_ENGLISH_US", 1}, {"SUBLANG_SYS_DEFAULT", 2},
        {"FW_NORMAL", 400}, {"FW_BOLD", 700}, {"FW_DONTCARE", 0},
    };
    return names;
}

// ---------------------------------------------------------------- the statement parser

class Parser {
public:
    Parser(const std::string &text, const Preprocessor &pre, const std::string &folder, Script *script)
        : lexer_(text), pre_(pre), folder_(folder), script_(script) {
        Advance();
    }

    void Run() {
        while (cur_.kind != Token::End && error_.empty()) Statement();
        if (!error_.empty() && script_->error.empty()) script_->error = error_;
    }

private:
    void Advance() { cur_ = lexer_.Next(); }

    void Fail(const std::string &what) {
        if (error_.empty()) error_ = Format("line %d: %s", cur_.line, what.c_str());
        cur_ = Token();
    }

    bool IsWord(const char *word) const { return cur_.kind == Token::Name && Upper(cur_.text) == word; }
    bool IsPunct(const char *p) const { return cur_.kind == Token::Punct && cur_.text == p; }
    bool IsBegin() const { return IsWord("BEGIN") || IsPunct("{"); }
    bool IsEnd() const { return IsWord("END") || IsPunct("}"); }
    void SkipComma() {
        if (IsPunct(",")) Advance();
    }

    // A #define'd name evaluated as a number (resource.h may define names
    // by other names or small expressions).
    bool DefinedValue(const std::string &name, long long *value, int depth) {
        auto it = pre_.defines.find(name);
        if (it == pre_.defines.end() || depth > 16) return false;
        Lexer lexer(it->second);
        std::vector<Token> tokens;
        for (Token t = lexer.Next(); t.kind != Token::End; t = lexer.Next()) tokens.push_back(t);
        size_t pos = 0;
        bool ok = true;
        long long v = EvalTokens(tokens, &pos, depth + 1, &ok);
        if (!ok || pos != tokens.size()) return false;
        *value = v;
        return true;
    }

    bool NameValue(const std::string &name, long long *value, int depth) {
        if (DefinedValue(name, value, depth)) return true;
        auto it = BuiltinNames().find(name);
        if (it == BuiltinNames().end()) return false;
        *value = it->second;
        return true;
    }

    // Expressions inside #define values: | & + - ~ ( ) with the usual C precedence kept simple.
    long long EvalTokens(const std::vector<Token> &t, size_t *pos, int depth, bool *ok) {
        std::function<long long(int)> binary;
        std::function<long long()> unary = [&]() -> long long {
            if (*pos >= t.size()) {
                *ok = false;
                return 0;
            }
            const Token &tok = t[(*pos)++];
            if (tok.kind == Token::Number) return tok.value;
            if (tok.kind == Token::Name) {
                long long v = 0;
                if (!NameValue(tok.text, &v, depth)) *ok = false;
                return v;
            }
            if (tok.kind == Token::Punct) {
                if (tok.text == "-") return -unary();
                if (tok.text == "+") return unary();
                if (tok.text == "~") return ~unary();
                if (tok.text == "(") {
                    long long v = binary(0);
                    if (*pos < t.size() && t[*pos].text == ")") ++*pos;
                    else *ok = false;
                    return v;
                }
            }
            *ok = false;
            return 0;
        };
        binary = [&](int level) -> long long {
            static const char *ops[] = {"|", "&", "+-"};
            if (level == 3) return unary();
            long long v = binary(level + 1);
            while (*pos < t.size() && t[*pos].kind == Token::Punct &&
                   std::strchr(ops[level], t[*pos].text[0]) != nullptr) {
                char op = t[(*pos)++].text[0];
                long long r = binary(level + 1);
                v = op == '|' ? (v | r) : op == '&' ? (v & r) : op == '+' ? v + r : v - r;
            }
            return v;
        };
        return binary(0);
    }

    // A numeric expression of the script at the current token.
    long long Number() {
        std::vector<Token> tokens;
        int parens = 0;
        // Collect the expression's tokens: operands and operators up to a
        // comma, a keyword or anything else that ends it.
        bool wantOperand = true;
        while (cur_.kind != Token::End) {
            if (cur_.kind == Token::Punct) {
                const std::string &p = cur_.text;
                if (p == "(") {
                    ++parens;
                } else if (p == ")") {
                    if (parens == 0) break;
                    --parens;
                } else if (p == "," || p == "{" || p == "}") {
                    break;
                } else if (!(p == "|" || p == "&" || p == "+" || p == "-" || p == "~")) {
                    break;
                }
                wantOperand = p != ")";
            } else if (cur_.kind == Token::Number || cur_.kind == Token::Name) {
                if (!wantOperand) break;
                wantOperand = false;
            } else {
                break;
            }
            tokens.push_back(cur_);
            Advance();
        }
        if (tokens.empty()) {
            Fail("number expected");
            return 0;
        }
        size_t pos = 0;
        bool ok = true;
        long long v = EvalTokens(tokens, &pos, 0, &ok);
        if (!ok || pos != tokens.size()) Fail("unknown name or bad expression near " + tokens[0].text);
        return v;
    }

    // A style: terms joined by | or +, where NOT term clears bits; starts from base.
    DWORD Style(DWORD base) {
        long long v = base;
        bool first = true;
        while (true) {
            bool negate = false;
            if (IsWord("NOT")) {
                negate = true;
                Advance();
            }
            long long term = Term();
            if (negate) v &= ~term;
            else v |= term;
            first = false;
            if (IsPunct("|") || IsPunct("+")) {
                Advance();
                continue;
            }
            break;
        }
        (void)first;
        return DWORD(v);
    }

    long long Term() {
        if (IsPunct("(")) {
            Advance();
            long long v = Number();
            if (IsPunct(")")) Advance();
            else Fail("')' expected");
            return v;
        }
        if (IsPunct("~")) {
            Advance();
            return ~Term();
        }
        if (IsPunct("-")) {
            Advance();
            return -Term();
        }
        if (cur_.kind == Token::Number) {
            long long v = cur_.value;
            Advance();
            return v;
        }
        if (cur_.kind == Token::Name) {
            long long v = 0;
            if (!NameValue(cur_.text, &v, 0)) Fail("unknown name " + cur_.text);
            else Advance();
            return v;
        }
        Fail("style expected");
        return 0;
    }

    std::string String() {
        if (cur_.kind != Token::String) {
            Fail("string expected");
            return "";
        }
        std::string s = cur_.text;
        Advance();
        while (cur_.kind == Token::String) {
            s += cur_.text;
            Advance();
        }
        return s;
    }

    ResName NameOf(const Token &t) {
        ResName name;
        long long v = 0;
        if (t.kind == Token::Number) {
            name.isId = true;
            name.id = int(t.value & 0xFFFF);
        } else if (t.kind == Token::Name && DefinedValue(t.text, &v, 0)) {
            name.isId = true;
            name.id = int(v & 0xFFFF);
        } else {
            name.text = Upper(t.text);
        }
        return name;
    }

    static bool IsMemoryOption(const std::string &word) {
        static const char *options[] = {"DISCARDABLE", "MOVEABLE", "FIXED", "PURE", "IMPURE", "PRELOAD",
                                        "LOADONCALL", "SHARED", "NONSHARED"};
        for (const char *o : options)
            if (word == o) return true;
        return false;
    }
    void SkipMemoryOptions() {
        while (cur_.kind == Token::Name && IsMemoryOption(Upper(cur_.text))) Advance();
    }

    void SkipBlock() {
        int depth = 0;
        do {
            if (IsBegin()) ++depth;
            else if (IsEnd()) --depth;
            if (cur_.kind == Token::End) {
                Fail("END expected");
                return;
            }
            Advance();
        } while (depth > 0);
    }

    std::string FileName() {
        if (cur_.kind == Token::String) return Join(folder_, String());
        if (cur_.kind == Token::Name) {
            std::string name = cur_.text;
            Advance();
            return Join(folder_, name);
        }
        Fail("file name expected");
        return "";
    }

    void Statement() {
        if (IsWord("LANGUAGE")) {
            Advance();
            Number();
            SkipComma();
            Number();
            return;
        }
        if (IsWord("STRINGTABLE")) {
            Advance();
            StringTable();
            return;
        }
        if (cur_.kind != Token::Name && cur_.kind != Token::Number && cur_.kind != Token::String) {
            Fail("resource statement expected at '" + cur_.text + "'");
            return;
        }
        Token nameToken = cur_;
        Advance();
        if (cur_.kind != Token::Name && cur_.kind != Token::Number && cur_.kind != Token::String) {
            Fail("resource type expected after " + nameToken.text);
            return;
        }
        std::string type = cur_.kind == Token::Name ? Upper(cur_.text) : cur_.text;
        Advance();
        ResName name = NameOf(nameToken);
        if (type == "BITMAP" || type == "ICON") {
            SkipMemoryOptions();
            std::string file = FileName();
            (type == "BITMAP" ? script_->bitmaps : script_->icons).push_back({name, file});
        } else if (type == "DIALOG" || type == "DIALOGEX") {
            Dialog(name, type == "DIALOGEX");
        } else {
            // Other resources (VERSIONINFO, MENU, RCDATA, a file of a type of
            // its own): nothing the simulation serves; skip the statement.
            SkipMemoryOptions();
            while (cur_.kind != Token::End && !IsBegin()) {
                if (cur_.kind == Token::String) {  // a file: the statement ends here
                    Advance();
                    return;
                }
                Advance();
            }
            if (IsBegin()) SkipBlock();
        }
    }

    void StringTable() {
        while (cur_.kind == Token::Name && !IsBegin()) {
            std::string word = Upper(cur_.text);
            Advance();
            if (word == "LANGUAGE") {
                Number();
                SkipComma();
                Number();
            } else if (word == "CHARACTERISTICS" || word == "VERSION") {
                Number();
            }
        }
        if (!IsBegin()) {
            Fail("BEGIN expected after STRINGTABLE");
            return;
        }
        Advance();
        while (!IsEnd() && cur_.kind != Token::End) {
            long long id = Number();
            SkipComma();
            std::string text = String();
            if (!error_.empty()) return;
            script_->strings[UINT(id & 0xFFFF)] = text;
        }
        if (IsEnd()) Advance();
    }

    void Dialog(const ResName &name, bool extended) {
        DialogTemplate d{};
        d.id = name.isId ? name.id : -1;
        d.style = WS_POPUP | WS_BORDER | WS_SYSMENU;  // when the script gives no STYLE
        d.exStyle = 0;
        d.pointSize = 0;
        SkipMemoryOptions();
        d.x = int(Number());
        SkipComma();
        d.y = int(Number());
        SkipComma();
        d.cx = int(Number());
        SkipComma();
        d.cy = int(Number());
        if (extended && IsPunct(",")) {  // help id
            Advance();
            Number();
        }
        bool hasCaption = false, hasFont = false;
        while (!IsBegin() && cur_.kind != Token::End && error_.empty()) {
            std::string word = Upper(cur_.text);
            Advance();
            if (word == "STYLE") {
                d.style = Style(0);
            } else if (word == "EXSTYLE") {
                d.exStyle = Style(0);
            } else if (word == "CAPTION") {
                d.caption = String();
                hasCaption = true;
            } else if (word == "FONT") {
                d.pointSize = int(Number());
                SkipComma();
                d.fontName = String();
                hasFont = true;
                while (IsPunct(",")) {  // weight, italic, charset
                    Advance();
                    Number();
                }
            } else if (word == "CLASS") {
                if (cur_.kind == Token::String) String();
                else Advance();
            } else if (word == "MENU") {
                Advance();
            } else if (word == "LANGUAGE") {
                Number();
                SkipComma();
                Number();
            } else if (word == "CHARACTERISTICS" || word == "VERSION") {
                Number();
            } else {
                Fail("unknown dialog option " + word);
            }
        }
        // The resource compiler adds these bits for a caption and a font.
        if (hasCaption) d.style |= WS_CAPTION;
        if (hasFont) d.style |= DS_SETFONT;
        if (!IsBegin()) {
            Fail("BEGIN expected in dialog");
            return;
        }
        Advance();
        while (!IsEnd() && cur_.kind != Token::End && error_.empty()) d.controls.push_back(Control(extended));
        if (IsEnd()) Advance();
        if (error_.empty()) script_->dialogs.push_back({name, d});
    }

    // Text of a control: a string, or a number naming a resource.
    std::string ControlText() {
        if (cur_.kind == Token::String) return String();
        long long v = Number();
        return Format("#%lld", v);
    }

    void Rect(DialogControl *c) {
        c->x = int(Number());
        SkipComma();
        c->y = int(Number());
        SkipComma();
        c->cx = int(Number());
        SkipComma();
        c->cy = int(Number());
    }

    // The optional ", style [, exstyle [, helpid]]" of a control statement.
    void Tail(DialogControl *c, bool extended, bool styleAllowed) {
        if (styleAllowed && IsPunct(",")) {
            Advance();
            c->style = Style(c->style);
        }
        if (IsPunct(",")) {
            Advance();
            c->exStyle = Style(0);
        }
        if (extended && IsPunct(",")) {
            Advance();
            Number();
        }
        if (extended && IsBegin()) SkipBlock();  // creation data
    }

    DialogControl Control(bool extended) {
        DialogControl c{};
        c.id = -1;
        c.exStyle = 0;
        const DWORD base = WS_CHILD | WS_VISIBLE;
        std::string word = Upper(cur_.text);
        if (cur_.kind != Token::Name) {
            Fail("control statement expected");
            return c;
        }
        Advance();
        if (word == "CONTROL") {
            c.text = ControlText();
            SkipComma();
            c.id = int(Number());
            SkipComma();
            if (cur_.kind == Token::String) {
                c.className = String();
            } else {
                c.className = cur_.text;
                Advance();
            }
            SkipComma();
            c.style = Style(base);
            SkipComma();
            Rect(&c);
            Tail(&c, extended, false);
            return c;
        }
        struct Generic { const char *word; const char *cls; DWORD style; bool hasText; };
        static const Generic generics[] = {
            {"LTEXT", "Static", SS_LEFT | WS_GROUP, true},
            {"CTEXT", "Static", SS_CENTER | WS_GROUP, true},
            {"RTEXT", "Static", 0x2 | WS_GROUP, true},
            {"PUSHBUTTON", "Button", BS_PUSHBUTTON | WS_TABSTOP, true},
            {"DEFPUSHBUTTON", "Button", BS_DEFPUSHBUTTON | WS_TABSTOP, true},
            {"CHECKBOX", "Button", BS_CHECKBOX | WS_TABSTOP, true},
            {"AUTOCHECKBOX", "Button", BS_AUTOCHECKBOX | WS_TABSTOP, true},
            {"RADIOBUTTON", "Button", 0x4 | WS_TABSTOP, true},
            {"AUTORADIOBUTTON", "Button", 0x9 | WS_TABSTOP, true},
            {"STATE3", "Button", 0x5 | WS_TABSTOP, true},
            {"AUTO3STATE", "Button", 0x6 | WS_TABSTOP, true},
            {"GROUPBOX", "Button", 0x7, true},
            {"ICON", "Static", 0x3, true},
            {"EDITTEXT", "Edit", ES_LEFT | WS_BORDER | WS_TABSTOP, false},
            {"LISTBOX", "ListBox", 0x1 | WS_BORDER, false},
            {"COMBOBOX", "ComboBox", 0x0, false},
            {"SCROLLBAR", "ScrollBar", 0x0, false},
        };
        for (const Generic &g : generics) {
            if (word != g.word) continue;
            c.className = g.cls;
            c.style = base | g.style;
            if (g.hasText) {
                c.text = ControlText();
                SkipComma();
            }
            c.id = int(Number());
            SkipComma();
            if (word == "ICON") {  // ICON text, id, x, y [, cx, cy [, style]]
                c.x = int(Number());
                SkipComma();
                c.y = int(Number());
                c.cx = c.cy = 0;
                if (IsPunct(",")) {
                    Advance();
                    c.cx = int(Number());
                    SkipComma();
                    c.cy = int(Number());
                }
                Tail(&c, extended, true);
                return c;
            }
            Rect(&c);
            Tail(&c, extended, true);
            return c;
        }
        Fail("unknown control statement " + word);
        return c;
    }

    Lexer lexer_;
    const Preprocessor &pre_;
    std::string folder_;
    Script *script_;
    Token cur_;
    std::string error_;
};

bool Preprocessor::Condition(const std::string &text) {
    // defined(X) / defined X become 1 or 0, then the rest is evaluated as numbers.
    std::string expr;
    Lexer lexer(text);
    std::vector<Token> tokens;
    for (Token t = lexer.Next(); t.kind != Token::End; t = lexer.Next()) tokens.push_back(t);
    std::vector<Token> out;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind == Token::Name && tokens[i].text == "defined") {
            size_t j = i + 1;
            bool paren = j < tokens.size() && tokens[j].text == "(";
            if (paren) ++j;
            Token value;
            value.kind = Token::Number;
            value.value = j < tokens.size() && defines.count(tokens[j].text) ? 1 : 0;
            out.push_back(value);
            i = paren ? j + 1 : j;
            continue;
        }
        out.push_back(tokens[i]);
    }
    // ! && || and comparisons on numbers; names that aren't macros are 0.
    size_t pos = 0;
    std::function<long long()> primary;
    std::function<long long(int)> binary;
    auto valueOf = [&](const Token &t) -> long long {
        if (t.kind == Token::Number) return t.value;
        auto it = defines.find(t.text);
        if (it != defines.end()) return std::strtoll(it->second.c_str(), nullptr, 0);
        return 0;
    };
    primary = [&]() -> long long {
        if (pos >= out.size()) return 0;
        const Token &t = out[pos++];
        if (t.text == "!") return !primary();
        if (t.text == "-") return -primary();
        if (t.text == "(") {
            long long v = binary(0);
            if (pos < out.size() && out[pos].text == ")") ++pos;
            return v;
        }
        return valueOf(t);
    };
    // Two-character operators arrive as two punctuation tokens.
    auto op = [&](const char *o) {
        if (pos >= out.size() || out[pos].text != std::string(1, o[0])) return false;
        if (o[1] == 0) return true;
        return pos + 1 < out.size() && out[pos + 1].text == std::string(1, o[1]);
    };
    binary = [&](int level) -> long long {
        if (level == 0) {
            long long v = binary(1);
            while (op("||")) {
                pos += 2;
                long long r = binary(1);
                v = v || r;
            }
            return v;
        }
        if (level == 1) {
            long long v = binary(2);
            while (op("&&")) {
                pos += 2;
                long long r = binary(2);
                v = v && r;
            }
            return v;
        }
        long long v = primary();
        while (true) {
            if (op("==")) {
                pos += 2;
                v = v == primary();
            } else if (op("!=")) {
                pos += 2;
                v = v != primary();
            } else {
                break;
            }
        }
        return v;
    };
    return binary(0) != 0;
}

// ---------------------------------------------------------------- bitmap files

uint32_t Read32(const std::string &b, size_t at) {
    if (at + 4 > b.size()) return 0;
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
}
uint16_t Read16(const std::string &b, size_t at) {
    if (at + 2 > b.size()) return 0;
    return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}

// Decodes an uncompressed BMP (1, 4, 8 bits with a colour table; 24 or 32
// bits) into 0x00RRGGBB pixels, rows from the top. False on anything else.
bool DecodeBmp(const std::string &b, Image *image, std::string *error) {
    if (b.size() < 26 || b[0] != 'B' || b[1] != 'M') {
        *error = "not a BMP file";
        return false;
    }
    uint32_t offBits = Read32(b, 10);
    uint32_t headerSize = Read32(b, 14);
    int64_t width, height;
    int bitCount;
    uint32_t compression = 0, clrUsed = 0;
    size_t entrySize = 4;
    if (headerSize == 12) {
        width = Read16(b, 18);
        height = int16_t(Read16(b, 20));
        bitCount = Read16(b, 24);
        entrySize = 3;
    } else if (headerSize >= 40 && b.size() >= 14 + 40) {
        width = int32_t(Read32(b, 18));
        height = int32_t(Read32(b, 22));
        bitCount = Read16(b, 28);
        compression = Read32(b, 30);
        clrUsed = Read32(b, 46);
    } else {
        *error = "unknown BMP header";
        return false;
    }
    bool topDown = height < 0;
    if (topDown) height = -height;
    if (width <= 0 || height <= 0 || width > 65536 || height > 65536) {
        *error = "bad BMP size";
        return false;
    }
    if (!(compression == 0 || (compression == 3 && bitCount == 32)) ||
        !(bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 24 || bitCount == 32)) {
        *error = Format("unsupported BMP format (%d bits, compression %u)", bitCount, unsigned(compression));
        return false;
    }
    std::vector<uint32_t> table;
    if (bitCount <= 8) {
        size_t entries = clrUsed != 0 ? clrUsed : (size_t(1) << bitCount);
        size_t at = 14 + headerSize;
        if (entries > 256 || at + entries * entrySize > b.size()) {
            *error = "bad BMP colour table";
            return false;
        }
        for (size_t i = 0; i < entries; ++i) {
            size_t e = at + i * entrySize;
            table.push_back(uint32_t(uint8_t(b[e + 2])) << 16 | uint32_t(uint8_t(b[e + 1])) << 8 |
                            uint32_t(uint8_t(b[e])));
        }
    }
    size_t stride = ((size_t(width) * size_t(bitCount) + 31) / 32) * 4;
    if (offBits > b.size() || b.size() - offBits < stride * size_t(height)) {
        *error = "BMP pixel data cut short";
        return false;
    }
    image->width = int(width);
    image->height = int(height);
    image->pixels.assign(size_t(width) * size_t(height), 0);
    for (int64_t row = 0; row < height; ++row) {
        const uint8_t *src = reinterpret_cast<const uint8_t *>(b.data()) + offBits + size_t(row) * stride;
        int64_t y = topDown ? row : height - 1 - row;
        uint32_t *out = image->pixels.data() + size_t(y) * size_t(width);
        for (int64_t x = 0; x < width; ++x) {
            uint32_t pixel = 0;
            if (bitCount <= 8) {
                size_t bit = size_t(x) * size_t(bitCount);
                unsigned index = (src[bit / 8] >> (8 - bitCount - bit % 8)) & ((1u << bitCount) - 1);
                pixel = index < table.size() ? table[index] : 0;  // beyond the table: black, as GDI does
            } else {
                const uint8_t *p = src + size_t(x) * size_t(bitCount / 8);
                pixel = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
            }
            out[x] = pixel;
        }
    }
    return true;
}

struct DecodedFile {
    int64_t stamp = 0;
    std::shared_ptr<const Image> image;
};

std::shared_ptr<const Image> DecodeFile(const std::string &path) {
    static std::map<std::string, DecodedFile> cache;  // lives across Reset on purpose
    int64_t stamp = 0;
    if (!FileStamp(path, &stamp)) return nullptr;
    auto it = cache.find(path);
    if (it != cache.end() && it->second.stamp == stamp) return it->second.image;
    std::string bytes, error;
    auto image = std::make_shared<Image>();
    if (!ReadFile(path, &bytes) || !DecodeBmp(bytes, image.get(), &error)) {
        std::fprintf(stderr, "sim: bitmap %s: %s\n", path.c_str(), error.empty() ? "unreadable" : error.c_str());
        cache[path] = DecodedFile{stamp, nullptr};
        return nullptr;
    }
    cache[path] = DecodedFile{stamp, image};
    return image;
}

// ---------------------------------------------------------------- the current script

struct ScriptCacheEntry {
    int64_t stamp = 0;
    std::shared_ptr<Script> script;
};

std::string ScriptPath() {
    const std::string &configured = CurrentConfig().resourceScript;
    if (!configured.empty()) return configured;
#ifdef VELLOMIRE_RESOURCE_SCRIPT
    return VELLOMIRE_RESOURCE_SCRIPT;
#else
    return "resources/vellomire.rc";
#endif
}

std::shared_ptr<Script> Load(const std::string &path) {
    auto script = std::make_shared<Script>();
    script->path = path;
    Preprocessor pre;
    pre.Run(path, true);
    if (!pre.error.empty()) {
        script->error = pre.error;
        return script;
    }
    Parser parser(pre.output, pre, Folder(path), script.get());
    parser.Run();
    // A script that windres would reject gives no resources at all, so the
    // mistake shows at once instead of as a half-loaded program.
    if (!script->error.empty()) {
        auto empty = std::make_shared<Script>();
        empty->path = path;
        empty->error = script->error;
        return empty;
    }
    script->loaded = true;
    return script;
}

std::shared_ptr<Script> &Current() {
    static std::shared_ptr<Script> current;
    return current;
}

const Script &TheScript() {
    std::shared_ptr<Script> &current = Current();
    if (current) return *current;
    static std::map<std::string, ScriptCacheEntry> cache;  // lives across Reset on purpose
    std::string path = ScriptPath();
    int64_t stamp = -1;
    FileStamp(path, &stamp);
    auto it = cache.find(path);
    if (it != cache.end() && it->second.stamp == stamp) {
        current = it->second.script;
    } else {
        current = Load(path);
        cache[path] = ScriptCacheEntry{stamp, current};
        if (!current->error.empty())
            std::fprintf(stderr, "sim: resource script %s: %s\n", path.c_str(), current->error.c_str());
    }
    return *current;
}

const std::string *FindFile(const std::vector<std::pair<ResName, std::string>> &list, LPCSTR name) {
    for (const auto &entry : list)
        if (Matches(entry.first, name)) return &entry.second;
    return nullptr;
}

bool IsProgramModule(HINSTANCE instance) { return instance == nullptr || instance == sim::ProgramInstance(); }

constexpr uint64_t kIconKind = 0x1C;

}  // namespace

// ---------------------------------------------------------------- the contract

const DialogTemplate *FindDialogTemplate(LPCSTR name) {
    for (const auto &entry : TheScript().dialogs)
        if (Matches(entry.first, name)) return &entry.second;
    return nullptr;
}

bool FindString(UINT id, std::string *text) {
    const auto &strings = TheScript().strings;
    auto it = strings.find(id & 0xFFFF);
    if (it == strings.end()) return false;
    *text = it->second;
    return true;
}

bool HasBitmapResource(LPCSTR name) { return FindFile(TheScript().bitmaps, name) != nullptr; }
bool HasIconResource(LPCSTR name) { return FindFile(TheScript().icons, name) != nullptr; }

std::shared_ptr<const Image> BitmapResourceImage(LPCSTR name) {
    const std::string *file = FindFile(TheScript().bitmaps, name);
    return file ? DecodeFile(*file) : nullptr;
}

// Dialog base units of a font at 96 dpi, as Wine 8 answers MapDialogRect on
// Debian's fonts (measured with a dialog of each font on Xvfb):
// - Times New Roman 10 pt: 8 x 15 (a 191 x 86 template has a 382 x 161 client);
// - no font (the system font): 7 x 16.
// Other fonts and sizes scale the Times New Roman figures by the pixel
// height of the em (10 pt is 13 pixels), which is only an estimate.
void DialogBaseUnits(const DialogTemplate &dialog, int *baseX, int *baseY) {
    if (dialog.fontName.empty() || dialog.pointSize <= 0) {
        *baseX = 7;
        *baseY = 16;
        return;
    }
    int em = (dialog.pointSize * 96 + 36) / 72;
    *baseX = std::max(1, (8 * em + 6) / 13);
    *baseY = std::max(1, (15 * em + 6) / 13);
}

void ResetResources() {
    // The script is looked up again for the new world's configuration; the
    // parsed and decoded files stay cached.
    Current().reset();
}

}  // namespace sim::detail

using namespace sim::detail;

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
    Call call = BeginCall("LoadStringA", Name(HMODULE(instance)) + Format(", %u, ", id) +
                                             (buffer ? "ptr" : "null") + Format(", %d", size));
    // A size of 0 asks LoadStringW for a pointer to the resource itself; the
    // ANSI function has no such form and returns -1 without writing (Wine).
    if (size == 0) {
        EndCall(call, "-1", -1);
        return -1;
    }
    if (buffer == nullptr) {
        RecordMisuse("LoadStringA into a null buffer");
        SetLastErrorInternal(ERROR_INVALID_PARAMETER);
        EndCall(call, "0");
        return 0;
    }
    std::string text;
    bool found = !call.fail && IsProgramModule(instance) && FindString(id, &text);
    if (!found) SetLastErrorInternal(ERROR_RESOURCE_NAME_NOT_FOUND);
    // At most size - 1 characters and a terminating zero; a negative size
    // is taken as unlimited, as Wine's unsigned arithmetic does.
    size_t room = size < 0 ? text.size() : size_t(size - 1);
    size_t n = std::min(text.size(), room);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
    EndCall(call, Format("%d \"%s\"", int(n), std::string(buffer, n).c_str()), LRESULT(n));
    return int(n);
}

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
    Call call = BeginCall("LoadIconA", Name(HMODULE(instance)) + ", " + Quote(name));
    if (call.fail) {
        SetLastErrorInternal(ERROR_NOT_ENOUGH_MEMORY);
        EndCall(call, "null");
        return nullptr;
    }
    // A null instance asks for one of the system's icons (IDI_APPLICATION 32512 ... 32517).
    if (instance == nullptr && IS_INTRESOURCE(name) && reinterpret_cast<uintptr_t>(name) >= 32512 &&
        reinterpret_cast<uintptr_t>(name) <= 32517) {
        HICON icon = reinterpret_cast<HICON>(uintptr_t((kIconKind << 24) | reinterpret_cast<uintptr_t>(name)));
        EndCall(call, Format("icon:%u", unsigned(reinterpret_cast<uintptr_t>(name))),
                LRESULT(reinterpret_cast<intptr_t>(icon)));
        return icon;
    }
    const auto &icons = TheScript().icons;
    for (size_t i = 0; i < icons.size(); ++i) {
        if (instance == sim::ProgramInstance() && Matches(icons[i].first, name)) {
            HICON icon = reinterpret_cast<HICON>(uintptr_t((kIconKind << 24) | (0x10000 + i)));
            EndCall(call, Format("icon%u", unsigned(i + 1)), LRESULT(reinterpret_cast<intptr_t>(icon)));
            return icon;
        }
    }
    SetLastErrorInternal(ERROR_RESOURCE_NAME_NOT_FOUND);
    EndCall(call, "null");
    return nullptr;
}
