// Images written whole or not at all, as the other outputs are.
#pragma once

#include <QPixmap>
#include <QString>

/// Saves image as a PNG file at path through a temporary file that replaces it only once complete, so
/// a full disk leaves the earlier file as it was; false when it could not be written.
bool SaveImageAtomically(const QPixmap& image, const QString& path);
