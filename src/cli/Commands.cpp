#include "cli/Commands.h"

#include <array>

namespace vantorel::cli {

std::span<const Command> commands() {
    static constexpr std::array table{
        Command{"search", runSearch},
        Command{"fetch", runFetch},
        Command{"download", runDownload},
        Command{"resolve", runResolve},
        Command{"check-update", runCheckUpdate},
    };
    return table;
}

} // namespace vantorel::cli
