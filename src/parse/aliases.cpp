#include "parse/aliases.h"

// Aliases are expanded once alias definitions exist; until then a line passes unchanged.
void expand_aliases(WordList&) {}
