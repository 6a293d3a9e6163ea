// knnbench-cli: the test bench's run without windows. The flags stand for the option panel, the
// report goes to standard output, message-box texts to standard error; the exit status tells whether
// the run completed (0), ended early or could not write its output (1), or the flags were bad (2).
#include <algorithm>
#include <cstdio>
#include <thread>
#include <variant>

#include "cliwindow.h"
#include "comparetable.h"
#include "numbers.h"
#include "options.h"
#include "session.h"
#include "treereport.h"
#include "version.h"

int main(int argc, char** argv) {
    using namespace knn::cli;
    const auto parsed = parseArguments(argc, argv);
    if (std::holds_alternative<HelpRequested>(parsed)) {
        std::fputs(UsageText, stdout);
        return finishStandardOutput() ? 0 : 1;
    }
    if (std::holds_alternative<VersionRequested>(parsed)) {
        std::printf("knnbench-cli %s\n", knn::ProgramVersion);
        return finishStandardOutput() ? 0 : 1;
    }
    const auto usageError = [](const UsageError& error) {
        std::fprintf(stderr, "knnbench-cli: %s\n\n%s", error.text.c_str(), UsageText);
        return 2;
    };
    if (const auto* error = std::get_if<UsageError>(&parsed)) return usageError(*error);
    const CliOptions& options = std::get<CliOptions>(parsed);
    if (options.decimalSeparator) knn::setDecimalSeparator(*options.decimalSeparator);
    if (const auto error = checkNumberTexts(options)) return usageError(*error);

    static char reportBuffer[1 << 16];
    std::setvbuf(stdout, reportBuffer, _IOFBF, sizeof reportBuffer);
    CliWindow window(options);
    knn::RunDriver driver(window);
    driver.setThreads(
        options.threads.value_or(std::max(1, static_cast<int>(std::thread::hardware_concurrency()))));
    if (options.compare) {
        const auto result = driver.CompareConfigurations(*options.compare, options.repetitions);
        const bool written = result && writeTable(knn::CompareTable(*result), "-") && finishStandardOutput();
        return written ? 0 : 1;
    }
    bool complete = driver.BitBtn1Click();
    if (complete && options.dataTablePath) complete = writeTable(driver.dataTable(), *options.dataTablePath);
    if (complete && options.resultsPath) complete = writeTable(driver.queryTable(), *options.resultsPath);
    if (complete && options.treeStats) {
        std::fflush(stdout);
        for (const std::string& line : knn::TreeStatsLines(*driver.answeringTree()))
            std::fprintf(stderr, "%s\n", line.c_str());
    }
    if (complete && options.dumpPath)
        complete = writeOutput(*options.dumpPath,
                               [&](std::ostream& out) { driver.answeringTree()->dumpTree(true, out); });
    // A run that already failed has said why; its exit status is 1 either way.
    complete = complete && finishStandardOutput();
    return complete ? 0 : 1;
}
