// The option vocabulary's captions as the texts of radio items and list items, so that the windows
// show the names the headless front end and the compare grid use.
#pragma once

#include <QStringList>
#include <array>
#include <string>
#include <string_view>

#include "vocabulary.h"

/// Every caption, its accelerator mark kept.
template <std::size_t N> QStringList captionTexts(const std::array<std::string_view, N>& captions) {
    QStringList texts;
    for (const std::string_view caption : captions)
        texts << QString::fromStdString(std::string(caption));
    return texts;
}

/// The first `count` captions without their accelerator marks, for lists that offer none.
template <std::size_t N>
QStringList plainCaptionTexts(const std::array<std::string_view, N>& captions, std::size_t count = N) {
    QStringList texts;
    for (std::size_t i = 0; i < count && i < N; ++i)
        texts << QString::fromStdString(knn::PlainCaption(captions[i]));
    return texts;
}
