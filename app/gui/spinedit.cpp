// Free-text integer box: the text is checked only when it is read, stepped or left.
#include "spinedit.h"

#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <algorithm>
#include <charconv>
#include <climits>

SpinEdit::SpinEdit(int minValue, int maxValue, int value, QWidget* parent)
    : QAbstractSpinBox(parent), lowerBound(minValue), upperBound(maxValue) {
    setValue(value);
}

std::optional<int> SpinEdit::typedInteger() const {
    const QByteArray digits = text().trimmed().toLatin1();
    const char* begin = digits.constData();
    const char* end = begin + digits.size();
    if (begin != end && *begin == '+') ++begin;
    int v = 0;
    auto [stop, error] = std::from_chars(begin, end, v);
    if (begin == end || error != std::errc() || stop != end) return std::nullopt;
    return v;
}

int SpinEdit::value() const {
    return typedInteger().value_or(lowerBound);
}

int SpinEdit::clamped(int v) const {
    if (lowerBound == upperBound) return v;
    return std::clamp(v, lowerBound, std::max(lowerBound, upperBound));
}

void SpinEdit::setValue(int v) {
    lineEdit()->setText(QString::number(clamped(v)));
}

QValidator::State SpinEdit::validate(QString&, int&) const {
    return QValidator::Acceptable;
}

void SpinEdit::stepBy(int steps) {
    const long long stepped = static_cast<long long>(value()) + steps;
    setValue(static_cast<int>(std::clamp<long long>(stepped, INT_MIN, INT_MAX)));
    selectAll();
}

QAbstractSpinBox::StepEnabled SpinEdit::stepEnabled() const {
    if (lowerBound == upperBound) return StepUpEnabled | StepDownEnabled;
    StepEnabled enabled = StepNone;
    if (value() < upperBound) enabled |= StepUpEnabled;
    if (value() > lowerBound) enabled |= StepDownEnabled;
    return enabled;
}

void SpinEdit::focusOutEvent(QFocusEvent* event) {
    QAbstractSpinBox::focusOutEvent(event);
    if (std::optional<int> typed = typedInteger(); typed && clamped(*typed) != *typed) setValue(*typed);
}

void SpinEdit::fitDigits(int digits) {
    // The line edit keeps a margin on each side of its text and room for the cursor.
    constexpr int textMargins = 2 * 2 + 2;
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    const QSize text(fontMetrics().horizontalAdvance(QString(digits, QLatin1Char('0'))) + textMargins,
                     lineEdit()->sizeHint().height());
    setFixedWidth(style()->sizeFromContents(QStyle::CT_SpinBox, &option, text, this).width());
}
