#include "vars/environment.h"

#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "core/descriptors.h"
#include "core/shell.h"
#include "vars/variables.h"

WordVector env_words;

namespace {

// The 8-bit form of env_words, word for word, and the null-terminated array of pointers into it
// that environ points to. A change rewrites only the strings it touches; the pointer array is
// rebuilt whole, since moving strings (a vector growing, an entry removed) moves short ones.
std::vector<std::string> env_bytes;
std::vector<char*> env_pointers;

char* no_environment[] = {nullptr};

// At exit the arrays above are destroyed; environ must not be left pointing into them.
struct EnvironReset {
    ~EnvironReset() { environ = no_environment; }
} environ_reset;

void fill_bytes(std::string& out, CharView word) {
    out.resize(word.size());
    for (std::size_t i = 0; i < word.size(); ++i) out[i] = static_cast<char>(word[i] & 0xff);
}

void point_environ() {
    env_pointers.clear();
    env_pointers.reserve(env_bytes.size() + 1);
    for (std::string& s : env_bytes) env_pointers.push_back(s.data());
    env_pointers.push_back(nullptr);
    environ = env_pointers.data();
}

// A name compares without quote marks: the entries never carry them.
inline Char name_char(Char c) {
    return static_cast<Char>(trim(c));
}
inline Char name_char(char c) {
    return static_cast<unsigned char>(c);
}

// The index of the entry NAME=..., or -1.
template <class Name>
std::ptrdiff_t find_entry(const Name& name) {
    const std::size_t n = name.size();
    for (std::size_t i = 0; i < env_words.size(); ++i) {
        const CharString& word = env_words[i];
        if (word.size() <= n || word[n] != '=') continue;
        std::size_t k = 0;
        while (k < n && word[k] == name_char(name[k])) ++k;
        if (k == n) return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

template <class Name>
void set_entry(const Name& name, CharView value) {
    CharString word;
    word.reserve(name.size() + 1 + value.size());
    for (auto c : name) word.push_back(name_char(c));
    word.push_back('=');
    for (Char c : value) word.push_back(static_cast<Char>(trim(c)));
    std::ptrdiff_t i = find_entry(name);
    if (i >= 0) {
        env_words[static_cast<std::size_t>(i)] = std::move(word);
        fill_bytes(env_bytes[static_cast<std::size_t>(i)], env_words[static_cast<std::size_t>(i)]);
    } else {
        env_words.push_back(std::move(word));
        env_bytes.emplace_back();
        fill_bytes(env_bytes.back(), env_words.back());
    }
    point_environ();
}

template <class Name>
std::optional<CharView> lookup_entry(const Name& name) {
    std::ptrdiff_t i = find_entry(name);
    if (i < 0) return std::nullopt;
    return CharView(env_words[static_cast<std::size_t>(i)]).substr(name.size() + 1);
}

// The super-user at an interactive shell is warned about relative path components.
bool warn_relative_components() {
    bool superuser = shell.real_uid == 0 || shell.effective_uid == 0;
    if (!superuser) return false;
    return shell.forced_interactive || (shell.interactive && isatty(fds.shell_out));
}

}  // namespace

void env_init(char** envp) {
    WordVector words;
    std::vector<std::string> bytes;
    for (char** p = envp; p && *p; ++p) {
        words.push_back(to_char_string(*p));
        bytes.emplace_back(*p);
    }
    // envp may be the current environ, which points into env_bytes: copy before replacing.
    env_words = std::move(words);
    env_bytes = std::move(bytes);
    point_environ();
}

void env_set(CharView name, CharView value) {
    set_entry(name, value);
}
void env_set(std::string_view name, CharView value) {
    set_entry(name, value);
}

void env_unset(CharView name) {
    std::ptrdiff_t i = find_entry(name);
    if (i < 0) return;
    env_words.erase(env_words.begin() + i);
    env_bytes.erase(env_bytes.begin() + i);
    point_environ();
}

std::optional<CharView> env_lookup(CharView name) {
    return lookup_entry(name);
}
std::optional<CharView> env_lookup(std::string_view name) {
    return lookup_entry(name);
}

// Every word would be joined by ":" into a buffer of 1024 Chars with its terminator; a word
// that does not fit ends the export with a warning. The separator goes in only before a word
// that is added, so a cut path never ends in ":" (which would add the current directory).
void export_path(const WordVector& words) {
    constexpr std::size_t PATH_LIMIT = 1023;
    CharString buffer;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const CharString& word = words[i];
        const std::size_t separator = i > 0 ? 1 : 0;
        if (i > 0 && equals(word, ")")) break;
        if (buffer.size() + separator + word.size() >= PATH_LIMIT) {
            std::fputs("Warning: ridiculously long PATH truncated\n", diagnostic_stream);
            break;
        }
        if ((word.empty() || word[0] != '/') && warn_relative_components()) {
            std::fputs("Warning: exported path contains relative components.\n", diagnostic_stream);
        }
        if (separator) buffer.push_back(':');
        buffer += word;
    }
    env_set("PATH", buffer);
}

WordVector path_components(CharView value) {
    std::size_t colons = 0;
    for (Char c : value) colons += c == ':';
    WordVector path;
    path.reserve(colons + 1);
    std::size_t start = 0;
    for (;;) {
        std::size_t end = value.find(static_cast<Char>(':'), start);
        CharView component =
            value.substr(start, end == CharView::npos ? CharView::npos : end - start);
        if ((component.empty() || component[0] != '/') && warn_relative_components()) {
            std::fputs("Warning: imported path contains relative components\n", diagnostic_stream);
        }
        path.push_back(component.empty() ? to_char_string(".") : CharString(component));
        if (end == CharView::npos) break;
        start = end + 1;
    }
    return path;
}

bool is_locale_variable(CharView name) {
    auto is = [name](std::string_view text) {
        if (name.size() != text.size()) return false;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (name_char(name[i]) != name_char(text[i])) return false;
        }
        return true;
    };
    return is("LANG") || is("LC_ALL") || is("LC_CTYPE") || is("LC_COLLATE");
}

void locale_reinit() {
    std::setlocale(LC_ALL, "");
    locale_changed();
}
