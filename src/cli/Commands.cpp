#include "cli/Commands.h"

#include <array>

namespace vantorel::cli {

std::span<const Command> commands() {
    static constexpr std::array<Command, 0> table{};
    return table;
}

} // namespace vantorel::cli
