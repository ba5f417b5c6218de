#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// One option that a program's command line may give.
struct KnownOption {
    std::string_view name; // as typed: "--area", "-h"
    int id;                // the program's own code for it
    bool takesValue;
};

// One item of a command line.
struct CommandLineItem {
    enum class Kind {
        Option,        // option names a known option; value holds its value, if it takes one
        Operand,       // value holds the argument
        UnknownOption, // an argument that starts with '-' and names no option; error says so
        BadOption,     // an option given without the value it needs, or with one it does not take; error says so
    };
    Kind kind = Kind::Operand;
    const KnownOption* option = nullptr;
    std::string_view value;
    std::string error; // one line, without the program's name
};

// Reads a command line one item at a time, in the one way both programs take theirs: "--name value" or
// "--name=value" for an option that takes a value, the bare name for one that takes none; "--" ends the options,
// after which every argument is an operand, as are "-" and every argument that does not start with '-'. The
// program decides what an item means and when to stop (at --help, say, or at its first error). Usage:
//
//     CommandLineScanner scanner(args, kOptions);
//     while (const std::optional<CommandLineItem> item = scanner.Next()) {
//         if (!item->error.empty()) { ... a usage error ... }
//         ...
//     }
class CommandLineScanner {
public:
    // args (without the program's name) must outlive the scanner: the items' values point into them.
    CommandLineScanner(std::vector<std::string_view> args, std::span<const KnownOption> options)
        : m_args(std::move(args)), m_options(options) {}

    // The next item; nothing once every argument has been read.
    std::optional<CommandLineItem> Next();

private:
    std::vector<std::string_view> m_args;
    std::span<const KnownOption> m_options;
    std::size_t m_next = 0;
    bool m_optionsEnded = false;
};

} // namespace morvane
