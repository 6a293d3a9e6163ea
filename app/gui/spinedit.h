// An integer box with arrow buttons whose text is free: reading a text that is not an integer gives
// the lower bound, a written value is shown clamped to the range (unless both bounds are equal, which
// means "no range"), and a typed value outside the range is clamped when the box loses the focus.
#pragma once

#include <QAbstractSpinBox>
#include <optional>

class SpinEdit : public QAbstractSpinBox {
    Q_OBJECT
public:
    SpinEdit(int minValue, int maxValue, int value, QWidget* parent = nullptr);

    /// The integer in the text, or the lower bound when the text holds none.
    int value() const;
    /// Shows v clamped to the range.
    void setValue(int v);
    int minValue() const { return lowerBound; }
    int maxValue() const { return upperBound; }
    /// Changes the upper bound; the value shown is kept.
    void setMaxValue(int v) { upperBound = v; }
    /// Makes the box just wide enough to show that many digits whole.
    void fitDigits(int digits);

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    void stepBy(int steps) override;
    StepEnabled stepEnabled() const override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    /// The integer in the text, if the text holds one.
    std::optional<int> typedInteger() const;
    int clamped(int v) const;

    int lowerBound; ///< smallest value shown
    int upperBound; ///< largest value shown
};
