// rqm5-devsim: an RQ-M5 device on a pseudo-terminal, for tests, benchmarks and demos.
#include <iostream>
#include <string_view>
#include <vector>

#include "options.h"
#include "pty_front_end.h"

int main(int argc, char** argv) {
    using namespace rqm5::devsim;
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    const ParsedOptions parsed = parseOptions(arguments);
    if (!parsed.options) {
        std::cerr << "rqm5-devsim: " << parsed.error << "\n"
                  << "Try 'rqm5-devsim --help'.\n";
        return kExitUsage;
    }
    if (parsed.options->showHelp) {
        std::cout << usageText();
        return 0;
    }
    return runSimulator(*parsed.options);
}
