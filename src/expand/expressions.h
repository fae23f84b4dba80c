// Expressions of @, if, while and exit: integer arithmetic, bitwise and logical operators, word
// comparison and pattern matching, file inquiries and the exit status of a { command }.
//
// An expression is not a string but a run of words, one per operator or operand, as the lexer
// delivered them. The evaluator reads from a cursor and leaves it on the first word it could not
// use; the caller decides whether leftover words are an error.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/chars.h"

/// Flags of eval_expression.
enum ExpressionFlags : int {
    EXPR_SKIP = 1,    ///< the value cannot matter: examine and consume words, compute nothing
    EXPR_NOGLOB = 2,  ///< operands are taken literally (the pattern of =~ and !~)
};

/// Evaluates one expression from words[cursor] and leaves cursor on the first word not used.
/// Does not return on a malformed expression, a failed inquiry name or a division by 0.
std::int32_t eval_expression(const WordVector& words, std::size_t& cursor, int flags = 0);
