#include "imagefile.h"

#include <QSaveFile>

bool SaveImageAtomically(const QPixmap& image, const QString& path) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && image.save(&file, "PNG") && file.commit();
}
