// The flags and their checks.
#include "options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace bench {
namespace {

std::vector<std::string> splitList(const char* text) {
    std::vector<std::string> items;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ','))
        if (!item.empty()) items.push_back(item);
    return items;
}

} // namespace

int usage(const char* program) {
    std::fprintf(
        stderr,
        "usage: %s [--quick | --batch | --per-query] [--family uniform,clustered,manifold] [--n LIST]\n"
        "          [--dim LIST] [--queries N] [--cap SECONDS] [--reps N]\n"
        "  --quick    the configurations of the performance targets only\n"
        "  --batch    the batch search and the parallel build against the peers (--reps rounds, --dim)\n"
        "  --per-query  one query at a time, in the given and a Z-curve order: the compact image\n"
        "             against the node walk and the peers (k = 10; with --n, --dim, --queries)\n"
        "  --family, --n, --dim   measure only the point sets matching every given list\n"
        "  --queries  queries per point set (default 10000)\n"
        "  --cap      CPU seconds after which a query run stops and its time is extrapolated\n"
        "  --reps     runs of every build and query set; the fastest counts\n",
        program);
    return 2;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--quick" || flag == "--batch" || flag == "--per-query") {
            (flag == "--quick" ? options.quick : flag == "--batch" ? options.batch : options.perQuery) = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        char* end = nullptr;
        if (flag == "--family") {
            options.families = splitList(value);
        } else if (flag == "--n" || flag == "--dim") {
            for (const std::string& item : splitList(value)) {
                const long number = std::strtol(item.c_str(), &end, 10);
                if (*end != '\0' || number < 1) return false;
                (flag == "--n" ? options.sizes : options.dims).push_back(static_cast<int>(number));
            }
        } else if (flag == "--queries" || flag == "--reps") {
            const long number = std::strtol(value, &end, 10);
            if (*end != '\0' || number < 1) return false;
            (flag == "--queries" ? options.queryCount : options.reps) = static_cast<int>(number);
        } else if (flag == "--cap") {
            options.cap = std::strtod(value, &end);
            if (*end != '\0' || !(options.cap > 0)) return false;
        } else {
            return false;
        }
    }
    for (const std::string& name : options.families) {
        Family family;
        if (!familyFromName(name, family)) return false;
    }
    return true;
}

bool wanted(const Options& options, const DataKey& key) {
    const bool family = options.families.empty() ||
                        std::find(options.families.begin(), options.families.end(), familyName(key.family)) !=
                            options.families.end();
    const bool size = options.sizes.empty() ||
                      std::find(options.sizes.begin(), options.sizes.end(), key.n) != options.sizes.end();
    const bool dim = options.dims.empty() ||
                     std::find(options.dims.begin(), options.dims.end(), key.dim) != options.dims.end();
    return family && size && dim;
}

} // namespace bench
