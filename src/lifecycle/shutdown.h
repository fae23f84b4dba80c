// Leaving the shell at the end of a login session.
#pragma once

/// The end of a login shell: history saved, logout files read, exit with status.
[[noreturn]] void logout_sequence();
