// tarnelctl: the evaluation board from a script. See tarnelctl --help.
#include <cstdio>
#include <exception>
#include <string>
#include <variant>
#include <vector>

#include "command_line/command_failure.h"
#include "command_line/command_line.h"
#include "command_line/command_table.h"
#include "command_line/help_text.h"
#include "output/stderr_lines.h"

namespace {

using namespace tarnel::cli;

int Fail(ExitStatus status, const std::string& message) {
    std::fflush(stdout);
    PrintStderrLine("tarnelctl: " + message);
    return static_cast<int>(status);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const ParsedCommandLine parsed = ParseCommandLine({argv + 1, argv + argc});
        if (std::holds_alternative<HelpRequest>(parsed)) {
            std::fputs(HelpText().c_str(), stdout);
            return 0;
        }
        if (std::holds_alternative<VersionRequest>(parsed)) {
            std::printf("tarnelctl %s\n", TARNEL_CLI_VERSION);
            return 0;
        }
        return static_cast<int>(RunCommand(std::get<Invocation>(parsed)));
    } catch (const CommandFailure& failure) {
        return Fail(failure.Status(), failure.what());
    } catch (const std::exception& error) {
        return Fail(ExitStatus::Failed, std::string(error.what()) + " — report this to the maintainers of the board software");
    }
}
