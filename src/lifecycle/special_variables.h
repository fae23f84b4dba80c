// The shell variables with a meaning to the shell: what setting or unsetting one does besides
// storing the value.
#pragma once

/// Hands the table of special variables to the variable store (start-up does, once).
void install_special_variables();
