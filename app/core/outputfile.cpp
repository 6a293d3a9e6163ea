// Atomic output files and the signals that may interrupt them.
#include "outputfile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace knn {

namespace {

/// The temporary file being written, for the signal handler; empty when none is.
char pendingTemporary[4096];

extern "C" void removeTemporaryAndRaise(int signal) {
    if (pendingTemporary[0] != '\0') unlink(pendingTemporary);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

/// Removes the temporary file on SIGINT and SIGTERM while it exists, restoring the handlers after.
class SignalGuard {
public:
    explicit SignalGuard(const std::string& temporary) {
        std::snprintf(pendingTemporary, sizeof pendingTemporary, "%s", temporary.c_str());
        previousInterrupt = std::signal(SIGINT, removeTemporaryAndRaise);
        previousTerminate = std::signal(SIGTERM, removeTemporaryAndRaise);
    }
    ~SignalGuard() {
        std::signal(SIGINT, previousInterrupt);
        std::signal(SIGTERM, previousTerminate);
        pendingTemporary[0] = '\0';
    }
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

private:
    void (*previousInterrupt)(int) = SIG_DFL;
    void (*previousTerminate)(int) = SIG_DFL;
};

/// Flushes the file's data to the disk; false with errno set when the device refuses.
bool syncFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    const int saved = errno;
    close(fd);
    errno = saved;
    return synced;
}

/// Writes into the stream of an open file; false, with errno saying why, when any of it failed.
bool writeStream(std::ofstream& out, const std::function<void(std::ostream&)>& write) {
    errno = 0;
    if (out) write(out);
    out.flush();
    bool written = static_cast<bool>(out);
    const int saved = errno;
    out.close();
    written = written && !out.fail();
    if (saved != 0) errno = saved;
    if (!written && errno == 0) errno = EIO;
    return written;
}

} // namespace

bool WriteFileAtomically(const std::string& path, const std::function<void(std::ostream&)>& write) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    // A device or a pipe cannot be replaced; it is written as it is.
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        return writeStream(out, write);
    }
    // A symbolic link keeps pointing where it did: its target is the file replaced.
    const std::filesystem::path destination = std::filesystem::is_symlink(path, error)
                                                  ? std::filesystem::canonical(path, error)
                                                  : std::filesystem::path(path);
    const std::filesystem::path folder =
        destination.has_parent_path() ? destination.parent_path() : std::filesystem::path(".");
    std::string name = destination.filename().string();
    name.insert(0, 1, '.').append(".XXXXXX");
    std::string temporary = (folder / name).string();
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return false;
    SignalGuard guard(temporary);
    // The new file takes the permissions of the one it replaces, or those a plain creation would give.
    const mode_t mask = umask(0);
    umask(mask);
    struct stat existing {};
    fchmod(fd, stat(destination.c_str(), &existing) == 0 ? existing.st_mode & 07777 : 0666 & ~mask);
    close(fd);
    // Removes the temporary file on every way out but its rename, an exception from write included.
    struct Remover {
        const std::string& path;
        bool renamed = false;
        ~Remover() {
            if (renamed) return;
            const int saved = errno;
            unlink(path.c_str());
            errno = saved;
        }
    } remover{temporary};
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    remover.renamed = writeStream(out, write) && syncFile(temporary) &&
                      std::rename(temporary.c_str(), destination.c_str()) == 0;
    return remover.renamed;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    if (std::filesystem::exists(a, error) && std::filesystem::exists(b, error))
        return std::filesystem::equivalent(a, b, error);
    const auto resolved = [](const std::string& path) {
        std::error_code ignored;
        const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ignored);
        return ignored ? std::filesystem::absolute(path, ignored) : canonical;
    };
    return resolved(a) == resolved(b);
}

} // namespace knn
