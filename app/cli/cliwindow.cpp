// Output of the headless front end.
#include "cliwindow.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace knn::cli {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

void writeLine(std::FILE* out, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), out);
    std::fputc('\n', out);
}

} // namespace

void CliWindow::showMessage(const std::string& text) {
    std::fflush(stdout); // keep the report and the messages in order on a shared terminal
    writeLine(stderr, text);
}

void CliWindow::addReportLine(const std::string& line) { writeLine(stdout, line); }

bool CliWindow::tableShown(TableId which) {
    return which == TableId::DataTable ? options.dataTablePath.has_value() : options.resultsPath.has_value();
}

void CliWindow::showTimings(const RunTimings& timings) {
    if (!options.timing) return;
    std::fprintf(stderr, "Load: %.6f s\nBuild: %.6f s\nQueries: %.6f s (%lld queries, mean %.9f s, slowest %.9f s)\n",
                 timings.loadSeconds, timings.buildSeconds, timings.queriesSeconds,
                 static_cast<long long>(timings.queriesAnswered), timings.meanQuerySeconds(),
                 timings.slowestQuerySeconds);
}

bool writeTable(const ResultTable& table, const std::string& path) {
    std::fflush(stdout); // the report comes first when both go to the same place
    std::unique_ptr<std::FILE, FileCloser> opened;
    std::FILE* out = stdout;
    if (path != "-") {
        opened.reset(std::fopen(path.c_str(), "wb"));
        if (!opened) {
            std::fprintf(stderr, "Cannot create file \"%s\". %s\n", path.c_str(), std::strerror(errno));
            return false;
        }
        out = opened.get();
    }
    const int columns = table.columnCount();
    for (int c = 0; c < columns; ++c) {
        if (c > 0) std::fputc('\t', out);
        const auto caption = table.columnCaption(c);
        std::fwrite(caption.data(), 1, caption.size(), out);
    }
    std::fputc('\n', out);
    for (int r = 0; r < table.rowCount(); ++r) {
        for (int c = 0; c < std::max(columns, 1); ++c) {
            if (c > 0) std::fputc('\t', out);
            const auto cell = table.cell(r, c);
            std::fwrite(cell.data(), 1, cell.size(), out);
        }
        std::fputc('\n', out);
    }
    if (std::fflush(out) != 0 || std::ferror(out)) {
        std::fprintf(stderr, "Cannot write file \"%s\". %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace knn::cli
