// The check queue's dock beside the stereo view: the suspect points of the
// active document, worst first, with their rank, record id, height, score,
// weight, status and Match Z's correlation; a threshold on the score and "Hide checked". One click
// on a row takes the stereo view to the point (as the n key does); the title
// counts the suspects reviewed ("12 of 30 reviewed").
#pragma once

#include <QAbstractTableModel>
#include <QDockWidget>
#include <functional>
#include <vector>

class COrvaneDoc;
class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QTableView;

// Rows: the queue's suspects; sortable by any column.
class CSuspectModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { kRank, kStatus, kId, kZ, kScore, kWeight, kMatch, kColumns };
    explicit CSuspectModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    // Reads the suspects of `doc` (null: none) scoring at least minScore.
    void Refresh(const COrvaneDoc* doc, double minScore, bool hideChecked);
    int RecordAt(int row) const;
    int RowOf(int record) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

private:
    struct Row {
        int rank, record;
        double z, score, weight;
        int status;  // CheckState
        // Match Z's correlation for the record; NaN: not matched this
        // session; -2: matched without a match.
        double match;
    };
    std::vector<Row> m_rows;
    int m_nSortColumn = kRank;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};

class CCheckQueueDock : public QDockWidget {
    Q_OBJECT
public:
    explicit CCheckQueueDock(QWidget* parent = nullptr);

    // Shows the queue of `doc` (null: nothing loaded), keeping the current
    // suspect's row in sight.
    void Refresh(const COrvaneDoc* doc);
    // A click on a row asks for its record.
    std::function<void(int record)> m_fnGoTo;
    // The threshold or "Hide checked" changed: the owner refreshes the dock
    // (and whatever else shows the suspects) for the active document.
    std::function<void()> m_fnFilterChanged;

    QTableView* Table() const { return m_pTable; }
    CSuspectModel* Model() const { return m_pModel; }
    QDoubleSpinBox* Threshold() const { return m_pThreshold; }
    QCheckBox* HideChecked() const { return m_pHideChecked; }

private:
    CSuspectModel* m_pModel = nullptr;
    QTableView* m_pTable = nullptr;
    QDoubleSpinBox* m_pThreshold = nullptr;
    QCheckBox* m_pHideChecked = nullptr;
    QLabel* m_pSummary = nullptr;
};
