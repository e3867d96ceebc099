#pragma once

// "高程来历…": where one elevation came from and every change of it, with
// the file it was read from (to be saved again) and the way back to a
// value it had.

#include "survey/provenanceview.h"

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;
class QTableWidget;
class Session;

class ProvenanceDialog : public QDialog
{
public:
    // `undo` puts back the value a history row replaced; true when it did.
    ProvenanceDialog(Session &session, int cjNo, int cjdNo, std::function<bool(const HistoryRow &)> undo,
                     QWidget *parent = nullptr);

private:
    void load();
    void saveSource();
    void undoSelected();

    Session &m_session;
    int m_cjNo, m_cjdNo;
    std::function<bool(const HistoryRow &)> m_undo;
    std::vector<HistoryLine> m_lines;
    std::optional<ElevationOrigin> m_origin;
    QLabel *m_originText;
    QTableWidget *m_table;
    QPushButton *m_save, *m_undoButton;
};
