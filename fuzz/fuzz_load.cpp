// Fuzz target: whole runs of the test bench's driver on arbitrary point files. The input's first bytes
// set the option panel (statistics block, dimensions, k, metric, structure, search range, rules,
// bucket size, visit limit, error bound and radius texts, decimal separator); the rest is cut into a
// data file and a query file. The driver runs "OK" (and sometimes "Reload data" and "OK" again)
// through a window that answers with those options. A run may end early, but only with one of the
// system's own messages, never with an unknown error; a complete run has a report of the right shape
// and a results row per query.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "fieldlist.h"
#include "fuzzsupport.h"
#include "numbers.h"
#include "pointfile.h"
#include "session.h"

namespace {

struct PanelOptions {
    bool statistics = true;
    bool dimensionsAuto = true;
    int dimensions = 2;
    int neighbours = 1;
    std::string errorBound = "0.0";
    int metric = 1;
    int power = 2;
    bool early = false;
    int limit = 0;
    int bucket = 1;
    int split = 5;
    int shrink = 3;
    int mode = 1;
    int range = 0;
    std::string radius = "0.0";
    std::string dataPath;
    std::string queryPath;
};

/// The option panel of `PanelOptions`; the report and the messages are kept for the checks.
class FuzzWindow : public knn::WindowOps {
public:
    explicit FuzzWindow(const PanelOptions& options) : o(options) {}

    int neighbourCount() override { return o.neighbours; }
    void setNeighbourCount(int) override {}
    std::string errorBoundText() override { return o.errorBound; }
    void setErrorBoundText(const std::string&) override {}
    int metricItem() override { return o.metric; }
    int customPower() override { return o.power; }
    bool earlyTermination() override { return o.early; }
    int visitLimit() override { return o.limit; }
    void setVisitLimit(int) override {}
    int bucketSize() override { return o.bucket; }
    int splitRuleItem() override { return o.split; }
    int shrinkRuleItem() override { return o.shrink; }
    int searchModeItem() override { return o.mode; }
    bool standardRangeSelected() override { return o.range == 0; }
    bool fixedRadiusSelected() override { return o.range == 1; }
    bool priorityRangeSelected() override { return o.range == 2; }
    std::string radiusText() override { return o.radius; }
    void setRadiusText(const std::string&) override {}
    bool showGraph() override { return true; }
    std::string inputPath() override { return o.dataPath; }
    std::string queryPath() override { return o.queryPath; }
    int dimensionsValue() override { return o.dimensions; }
    bool dimensionsAuto() override { return o.dimensionsAuto; }
    void setDimensionsValue(int) override {}
    void setMaxDataUpperBound(int) override {}
    bool maxDataAuto() override { return true; }
    void setMaxDataValue(int) override {}
    bool displayStatistics() override { return o.statistics; }
    void writeStatus(int panel, const std::string&) override { FUZZ_CHECK(panel >= 0 && panel <= 2); }
    void showMessage(const std::string& text) override { messages.push_back(text); }
    void clearReport() override { report.clear(); }
    void addReportLine(const std::string& line) override { report.push_back(line); }
    bool tableShown(knn::TableId) override { return true; }
    void tableAboutToReshape(knn::TableId, const knn::ResultTable&) override {}
    void tableReshaped(knn::TableId, const knn::ResultTable&) override {}
    void tableCellsChanged(knn::TableId, const knn::ResultTable&) override {}
    void clearChart() override {}
    void showChart(const knn::ChartContent&) override {}
    void showResults() override {}
    void progress(knn::RunPhase, std::int64_t done, std::int64_t total) override {
        FUZZ_CHECK(done >= 0 && done <= total);
    }
    void showTimings(const knn::RunTimings&) override {}

    std::vector<std::string> report;
    std::vector<std::string> messages;

private:
    const PanelOptions& o;
};

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

/// A message a run may end with: the loader's, the query reader's, and the query loop's faults.
bool isSystemMessage(const std::string& text) {
    static const char* const exact[] = {
        "The data & query dimensions do not coincide!\nPlease check input file structure.",
        "Could not load data!\nPlease check input file structure.",
        "Floating point overflow",
        "Floating point division by zero",
        "Invalid floating point operation",
        "Out of range error: check root-taking function!",
        "Domain error: check root-taking function!",
    };
    for (const char* message : exact)
        if (text == message) return true;
    return (startsWith(text, "List index out of bounds (0)\nFile ") &&
            text.ends_with(" is empty: it holds no line.")) ||
           startsWith(text, "ReadPt:\nSome error occured while processing index ") ||
           startsWith(text, "Can't read query point ") ||
           (startsWith(text, "Cannot read file \"") &&
            text.ends_with(
                "\". It holds NUL characters: it is not a text file (UTF-16 needs a byte-order mark)"));
}

/// A folder of this process for the two files, under the memory file system when there is one; removed
/// when the fuzzer ends normally.
const std::filesystem::path& workFolder() {
    static const std::filesystem::path folder = [] {
        const std::filesystem::path base =
            std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        auto path = base / ("knnfuzz-load-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    static const bool removedAtExit = std::atexit([] { std::filesystem::remove_all(workFolder()); }) == 0;
    (void)removedAtExit;
    return folder;
}

std::string writeFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const auto path = (workFolder() / name).string();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string numberText(FuzzedDataProvider& input) {
    static const char* const texts[] = {"0.0", "0",   "0,5", "0.25",  "1",    "1e3",
                                        "-1",  "abc", "",    "1e400", "2.5.5"};
    if (input.ConsumeBool()) return texts[input.ConsumeIntegralInRange<std::size_t>(0, std::size(texts) - 1)];
    return input.ConsumeRandomLengthString(12);
}

/// True when no number the run reads can make a distance, bound or factor leave the double range:
/// every field of both files, the error bound and the radius are at most 1e15 in magnitude, and the
/// power is at most 8 (so even 120 terms of (2e15)^8 stay far below the largest double).
bool faultsImpossible(const PanelOptions& o) {
    if (o.metric == 3 && o.power > 8) return false;
    std::string scratch;
    auto small = [&](std::string_view text) {
        const auto value = knn::ConvertField(text, scratch);
        return !value || std::fabs(*value) <= 1e15;
    };
    if (!small(o.errorBound) || !small(o.radius)) return false;
    knn::FieldList fields;
    for (const std::string& path : {o.dataPath, o.queryPath}) {
        knn::TextLines lines;
        try {
            lines = knn::ReadTextFile(path);
        } catch (const knn::RunError&) {
            return false; // a refused file yields no fault message at all
        }
        for (std::size_t i = 0; i < lines.size(); ++i) {
            knn::SplitFields(lines[i], fields);
            for (std::size_t j = 0; j < fields.size(); ++j)
                if (!small(fields[j])) return false;
        }
    }
    return true;
}

bool isFloatingPointFault(const std::string& message) {
    return message == "Floating point overflow" || message == "Floating point division by zero" ||
           message == "Invalid floating point operation" || message.ends_with("check root-taking function!");
}

void checkMessages(const FuzzWindow& window, const PanelOptions& o) {
    for (const auto& message : window.messages) {
        if (isFloatingPointFault(message) && faultsImpossible(o))
            fuzz::fail("\"" + message + "\" although every number is small", __FILE__, __LINE__);
        if (!isSystemMessage(message))
            fuzz::fail("unexpected message \"" + message + "\" (last library fatal: \"" + fuzz::lastFatal +
                           "\")",
                       __FILE__, __LINE__);
    }
}

void checkRun(const FuzzWindow& window, const knn::RunDriver& driver, bool complete, const PanelOptions& o) {
    checkMessages(window, o);
    if (!complete) {
        FUZZ_CHECK(!window.messages.empty());
        return;
    }
    FUZZ_CHECK(window.messages.empty());
    const knn::SearchSession& s = driver.session();
    FUZZ_CHECK(s.k >= 1);
    FUZZ_CHECK(driver.queryTable().rowCount() == s.queryCount);
    FUZZ_CHECK(driver.queryTable().columnCount() == s.dim + 2 * s.k + 1);
    const std::size_t statisticsLines = o.statistics ? 3 + 17 * static_cast<std::size_t>(s.dim) : 0;
    FUZZ_CHECK(window.report.size() >= statisticsLines + 15); // 6 load lines and 9 option lines

    FUZZ_CHECK(window.report[statisticsLines + 1] == "SEARCH OPTIONS");
    for (int q = 0; q < s.queryCount; ++q) {
        for (int j = 0; j < s.k; ++j) {
            const int number = s.resultIdx[static_cast<std::size_t>(q * s.k + j)];
            FUZZ_CHECK(number >= 0 && number <= s.dataCount);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::throwOnFatal();
    FuzzedDataProvider input(data, size);
    PanelOptions o;
    const std::uint8_t flags = input.ConsumeIntegral<std::uint8_t>();
    o.statistics = (flags & 1) == 0;
    o.dimensionsAuto = (flags & 2) == 0;
    o.early = (flags & 4) != 0;
    const bool reload = (flags & 8) != 0;
    knn::setDecimalSeparator((flags & 16) != 0 ? ',' : '.');
    o.dimensions = input.ConsumeIntegralInRange(1, 120);
    o.neighbours = input.ConsumeIntegralInRange(1, 12);
    o.metric = input.ConsumeIntegralInRange(0, 3);
    o.power = input.ConsumeIntegralInRange(1, 100);
    o.limit = input.ConsumeIntegralInRange(0, 1000);
    o.bucket = input.ConsumeIntegralInRange(1, 100);
    o.split = input.ConsumeIntegralInRange(0, 5);
    o.shrink = input.ConsumeIntegralInRange(0, 3);
    o.mode = input.ConsumeIntegralInRange(0, 2);
    o.range = input.ConsumeIntegralInRange(0, o.mode == 0 ? 1 : 2); // the panel offers no brute priority
    o.errorBound = numberText(input);
    o.radius = numberText(input);
    const auto dataSize = input.ConsumeIntegralInRange<std::size_t>(0, input.remaining_bytes());
    o.dataPath = writeFile("data.pts", input.ConsumeBytes<std::uint8_t>(dataSize));
    o.queryPath = writeFile("query.pts", input.ConsumeRemainingBytes<std::uint8_t>());

    FuzzWindow window(o);
    knn::RunDriver driver(window);
    // The driver keeps k and the rules valid, so no library fatal may be reached from a file: its
    // exception would reach the window as an unknown error, which checkMessages refuses.
    checkRun(window, driver, driver.BitBtn1Click(), o);
    if (reload) {
        window.messages.clear();
        driver.BitBtn3Click();
        checkMessages(window, o);
        window.messages.clear();
        checkRun(window, driver, driver.BitBtn1Click(), o);
    }
    return 0;
}
