#pragma once

#include <QList>
#include <QWidget>
#include <optional>

class QButtonGroup;
class QPushButton;

// A segmented control: one row of joined segments, at most one of them on. Each segment is a
// checkable button named by its text, so assistive tools read its label and its state.
class Segmented : public QWidget {
    Q_OBJECT
public:
    // `values[i]` is the value of the segment labelled `labels[i]`.
    Segmented(const QStringList& labels, const QList<int>& values, QWidget* parent = nullptr);

    // The value of the segment that is on; nothing when none is.
    std::optional<int> value() const;
    // Turns on the segment of `value`; a value without a segment leaves them all off.
    void setValue(int value);
    QPushButton* segment(int value) const;

signals:
    // The user chose a segment.
    void chosen(int value);

private:
    QButtonGroup* m_group;
};
