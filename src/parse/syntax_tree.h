// The syntax tree of a line: lists, pipelines, subshells and simple commands.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/chars.h"

enum CommandType : std::uint16_t {
    CMD_SIMPLE = 1,    ///< words, with redirections
    CMD_SUBSHELL = 2,  ///< a parenthesised list, with redirections
    CMD_PIPE = 3,      ///< left | right
    CMD_LIST = 4,      ///< left ; right (left may be absent)
    CMD_OR = 5,        ///< left || right
    CMD_AND = 6,       ///< left && right
};

enum NodeFlag : std::uint16_t {
    FLAG_BACKGROUND = 0x0001,    ///< ends with &: not waited for
    FLAG_APPEND = 0x0002,        ///< output redirection is >>
    FLAG_PIPE_IN = 0x0004,       ///< standard input is the pipe from the left
    FLAG_PIPE_OUT = 0x0008,      ///< standard output is the pipe to the right
    FLAG_NO_FORK = 0x0010,       ///< last command of a group: may replace the group's process
    FLAG_NO_INTERRUPT = 0x0020,  ///< without job control: immune to interrupts, input /dev/null
    FLAG_ERR_TOO = 0x0080,       ///< standard error goes where standard output goes (>& |&)
    FLAG_CLOBBER = 0x0100,       ///< >! or >>!: noclobber is not consulted
    FLAG_HERE_DOC = 0x0200,      ///< input_word is a here-document terminator
    FLAG_REPEAT = 0x0400,        ///< run again by if or repeat: no substitution, no redirection
    FLAG_NICE = 0x0800,          ///< set priority nice_value in the child
    FLAG_NOHUP = 0x1000,         ///< ignore hang-ups in the child
    FLAG_TIME = 0x2000,          ///< report the command's resource usage
};

/// One node of the tree; a node owns its operands, body and words.
///
/// A tree is never changed once parsed: the command loop may keep it and run it again. What one
/// run of a simple command or subshell changes (its words, its flags, the flags handed down from
/// the nodes around it) lives in a node of its own that the executor makes for the run.
struct CommandNode {
    std::uint16_t node_type = 0;
    std::uint16_t node_flags = 0;
    std::optional<CharString> input_word;   ///< simple, subshell: the word after < or <<
    std::optional<CharString> output_word;  ///< simple, subshell: the word after > or >>
    std::unique_ptr<CommandNode> left;      ///< pipe, list, or, and: first operand
    std::unique_ptr<CommandNode> right;     ///< pipe, list, or, and: second operand
    WordVector words;                       ///< simple: the command's words
    std::unique_ptr<CommandNode> body;      ///< subshell: the list inside the parentheses
    const CommandNode* run_body = nullptr;  ///< the run of a subshell: the tree's body (not owned)
    std::int32_t nice_value = 0;            ///< priority increment under FLAG_NICE

    CommandNode() = default;
    CommandNode(CommandNode&&) = default;
    CommandNode& operator=(CommandNode&&) = default;
    /// Frees the operands without recursion: a line of many commands nests deeply.
    ~CommandNode();
};

using CommandTree = std::unique_ptr<CommandNode>;

/// The list inside a subshell's parentheses, in a tree or in the run of one.
inline const CommandNode* subshell_body(const CommandNode& node) {
    return node.body ? node.body.get() : node.run_body;
}

/// A one-line debug form of a tree, for tests: (list - (simple ls)) and so on.
std::string debug_tree(const CommandNode* node);
