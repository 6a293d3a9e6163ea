// Clocks and the text of times.
#include "timing.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace bench {

double wallNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double cpuNow() {
    timespec time{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) + 1e-9 * static_cast<double>(time.tv_nsec);
}

double processCpuNow() {
    timespec time{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) + 1e-9 * static_cast<double>(time.tv_nsec);
}

std::string loadAverage() {
    std::FILE* file = std::fopen("/proc/loadavg", "r");
    if (!file) return "unknown";
    double averages[3] = {0.0, 0.0, 0.0};
    const int read = std::fscanf(file, "%lf %lf %lf", &averages[0], &averages[1], &averages[2]);
    std::fclose(file);
    if (read != 3) return "unknown";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f, %.2f, %.2f", averages[0], averages[1], averages[2]);
    return text;
}

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string micros(double secondsValue) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", secondsValue * 1e6);
    return text;
}

std::string ratio(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

} // namespace bench
