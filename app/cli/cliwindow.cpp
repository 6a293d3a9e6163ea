// Output of the headless front end.
#include "cliwindow.h"

#include <cerrno>
#include <cstring>
#include <iostream>

#include "outputfile.h"

namespace knn::cli {

namespace {

void writeLine(std::FILE* out, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), out);
    std::fputc('\n', out);
}

} // namespace

void CliWindow::showMessage(const std::string& text) {
    std::fflush(stdout); // keep the report and the messages in order on a shared terminal
    writeLine(stderr, text);
}

void CliWindow::addReportLine(const std::string& line) {
    writeLine(stdout, line);
}

bool CliWindow::tableShown(TableId which) {
    return which == TableId::DataTable ? options.dataTablePath.has_value() : options.resultsPath.has_value();
}

void CliWindow::showTimings(const RunTimings& timings) {
    if (!options.timing) return;
    std::fprintf(stderr,
                 "Load: %.6f s\nBuild: %.6f s\nQueries: %.6f s (%lld queries, mean %.9f s, slowest %.9f s)\n",
                 timings.loadSeconds, timings.buildSeconds, timings.queriesSeconds,
                 static_cast<long long>(timings.queriesAnswered), timings.meanQuerySeconds(),
                 timings.slowestQuerySeconds);
    if (timings.end != RunEnd::Complete) std::fprintf(stderr, "%s\n", RunEndLine(timings).c_str());
}

namespace {

/// Names what could not be written, after the message that says so.
void reportWriteFailure(const std::string& path) {
    const std::string what = path == "-" ? "standard output" : "file \"" + path + "\"";
    std::fprintf(stderr, "Cannot write %s. %s\n", what.c_str(), std::strerror(errno));
}

} // namespace

bool writeTable(const ResultTable& table, const std::string& path) {
    return writeOutput(path, [&](std::ostream& out) { WriteTable(table, out, '\t'); });
}

bool writeOutput(const std::string& path, const std::function<void(std::ostream&)>& write) {
    std::fflush(stdout); // the report comes first when both go to the same place
    if (path == "-") {
        write(std::cout);
        if (std::cout.flush()) return true;
    } else if (WriteFileAtomically(path, write)) {
        return true;
    }
    reportWriteFailure(path);
    return false;
}

bool finishStandardOutput() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    reportWriteFailure("-");
    return false;
}

} // namespace knn::cli
