// Output files written whole or not at all: the text goes to a temporary file beside the destination,
// which replaces the destination only once every byte of it is on the disk, so a full disk, a failing
// device or a signal during the write leaves the earlier file as it was and no half file behind.
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace knn {

/// Writes what write puts into a stream to the file at path, atomically as above. False, with errno
/// saying why, when it could not be written; the temporary file is then gone. While it writes, SIGINT
/// and SIGTERM remove the temporary file before they end the process as they would have.
bool WriteFileAtomically(const std::string& path, const std::function<void(std::ostream&)>& write);

/// True when a and b name the same file: the same device and inode for files that exist, else the same
/// absolute path with every symbolic link of its existing part resolved.
bool SameFile(const std::string& a, const std::string& b);

} // namespace knn
