#pragma once

// "核对可疑高程": the elevations of an epoch that look like slips, kept as
// typed and marked in the grid. Each is confirmed as observed (a history
// row) or gone back to for correction. Nothing here answers to Enter: a
// key typed on from the field book never confirms a value.

#include "base/result.h"
#include "domain/settlementrules.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

class QuestionableDialog : public QDialog
{
public:
    // `names`: a point's name by number; `confirm` records one confirmation.
    QuestionableDialog(const QString &epochLabel, std::vector<QuestionableElevation> questionable,
                       const QString &unit, std::function<QString(int)> names,
                       std::function<Result<void>(int)> confirm, QWidget *parent = nullptr);

    // The point chosen to be corrected ("返回修改"), if any.
    std::optional<int> pointToCorrect() const { return m_correct; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void confirmSelected();
    void correctSelected();
    std::vector<int> selectedPoints() const;

    std::vector<QuestionableElevation> m_questionable;
    std::function<Result<void>(int)> m_confirm;
    std::optional<int> m_correct;
    QTableWidget *m_table;
    QPushButton *m_confirmButton, *m_correctButton;
};
