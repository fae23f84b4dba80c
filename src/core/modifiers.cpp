#include "core/modifiers.h"

std::optional<CharString> word_modifier(const CharString& word, int letter) {
    switch (letter) {
        case 'h':
        case 't': {
            std::size_t slash = word.rfind('/');  // a quoted / is another Char
            if (slash == CharString::npos) {
                if (letter == 'h') return std::nullopt;
                return word;
            }
            return letter == 'h' ? word.substr(0, slash) : word.substr(slash + 1);
        }
        case 'r':
        case 'e': {
            for (std::size_t i = word.size(); i-- > 0 && word[i] != '/';) {
                if (word[i] == '.') return letter == 'r' ? word.substr(0, i) : word.substr(i + 1);
            }
            return letter == 'r' ? word : CharString{};
        }
        case 'q': {
            CharString changed = word;
            for (Char& c : changed) c = quoted(c);
            return changed;
        }
        case 'x': {
            CharString changed = word;
            for (Char& c : changed) {
                if (c != ' ' && c != '\t') c = quoted(c);
            }
            return changed;
        }
        default:
            return std::nullopt;
    }
}
