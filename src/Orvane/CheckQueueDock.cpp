#include "Orvane/CheckQueueDock.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

#include "Orvane/OrvaneDoc.h"

namespace {

const char* StatusText(int status) {
    switch (static_cast<CheckState>(status)) {
        case CheckState::Checked:
            return "checked";
        case CheckState::Edited:
            return "edited";
        default:
            return "";
    }
}

}  // namespace

void CSuspectModel::Refresh(const COrvaneDoc* doc, double minScore, bool hideChecked) {
    beginResetModel();
    m_rows.clear();
    if (doc && doc->m_checks.Ranking()) {
        const CCheckRanking& ranking = *doc->m_checks.Ranking();
        // Ranks count every suspect above the threshold, also the hidden ones.
        std::vector<int> all = doc->m_checks.Suspects(minScore, false);
        for (size_t k = 0; k < all.size(); ++k) {
            const int i = all[k];
            const int status = static_cast<int>(doc->m_checks.Statuses().Get(i));
            if (hideChecked && status != static_cast<int>(CheckState::Unchecked)) continue;
            const TINPoint* p = doc->m_points.GetPoint(i);
            if (!p) continue;
            double match = std::numeric_limits<double>::quiet_NaN();
            if (auto m = doc->m_matchResults.find(i); m != doc->m_matchResults.end())
                match = m->second.status == MatchStatus::Matched ? m->second.correlation : -2.0;
            m_rows.push_back(
                {static_cast<int>(k) + 1, i, p->z, ranking.Score(i), p->weight, status, match});
        }
    }
    endResetModel();
    sort(m_nSortColumn, m_sortOrder);
}

int CSuspectModel::RecordAt(int row) const {
    return row >= 0 && row < static_cast<int>(m_rows.size())
               ? m_rows[static_cast<size_t>(row)].record
               : -1;
}

int CSuspectModel::RowOf(int record) const {
    for (size_t k = 0; k < m_rows.size(); ++k)
        if (m_rows[k].record == record) return static_cast<int>(k);
    return -1;
}

int CSuspectModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CSuspectModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant CSuspectModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size())) return QVariant();
    const Row& r = m_rows[static_cast<size_t>(index.row())];
    if (role == Qt::TextAlignmentRole)
        return index.column() == kStatus ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                         : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return QVariant();
    switch (index.column()) {
        case kRank:
            return r.rank;
        case kId:
            return r.record;
        case kZ:
            return QString::number(r.z, 'f', 2);
        case kScore:
            return QString::number(r.score, 'f', 1);
        case kWeight:
            return QString::number(r.weight, 'f', 2);
        case kStatus:
            return QString::fromLatin1(StatusText(r.status));
        case kMatch:
            if (std::isnan(r.match)) return QString();
            return r.match < -1.0 ? QStringLiteral("no match") : QString::number(r.match, 'f', 2);
        default:
            return QVariant();
    }
}

QVariant CSuspectModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
    static const char* const names[kColumns] = {"Rank",  "Status", "Id",   "Z",
                                                "Score", "Weight", "Match"};
    return section >= 0 && section < kColumns ? QString::fromLatin1(names[section]) : QVariant();
}

void CSuspectModel::sort(int column, Qt::SortOrder order) {
    m_nSortColumn = column;
    m_sortOrder = order;
    auto key = [column](const Row& r) -> double {
        switch (column) {
            case kId:
                return r.record;
            case kZ:
                return r.z;
            case kScore:
                return r.score;
            case kWeight:
                return r.weight;
            case kStatus:
                return r.status;
            case kMatch:
                return std::isnan(r.match) ? -3.0 : r.match;
            default:
                return r.rank;
        }
    };
    emit layoutAboutToBeChanged();
    std::stable_sort(m_rows.begin(), m_rows.end(), [&](const Row& a, const Row& b) {
        return order == Qt::AscendingOrder ? key(a) < key(b) : key(b) < key(a);
    });
    emit layoutChanged();
}

CCheckQueueDock::CCheckQueueDock(QWidget* parent)
    : QDockWidget(QStringLiteral("Check Queue"), parent) {
    setObjectName(QStringLiteral("CheckQueue"));
    auto* body = new QWidget(this);
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(4, 4, 4, 4);
    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(QStringLiteral("Score at least:"), body));
    m_pThreshold = new QDoubleSpinBox(body);
    m_pThreshold->setRange(0.0, 1000.0);
    m_pThreshold->setDecimals(1);
    m_pThreshold->setSingleStep(0.5);
    m_pThreshold->setValue(20.0);
    controls->addWidget(m_pThreshold);
    m_pHideChecked = new QCheckBox(QStringLiteral("Hide checked"), body);
    controls->addWidget(m_pHideChecked);
    controls->addStretch(1);
    column->addLayout(controls);
    m_pModel = new CSuspectModel(this);
    m_pTable = new QTableView(body);
    m_pTable->setModel(m_pModel);
    m_pTable->setSortingEnabled(true);
    m_pTable->sortByColumn(CSuspectModel::kRank, Qt::AscendingOrder);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->verticalHeader()->hide();
    m_pTable->horizontalHeader()->setStretchLastSection(true);
    column->addWidget(m_pTable, 1);
    m_pSummary = new QLabel(body);
    column->addWidget(m_pSummary);
    setWidget(body);

    // One click goes to the point (a double click is two clicks: the same point).
    connect(m_pTable, &QTableView::clicked, this, [this](const QModelIndex& index) {
        const int record = m_pModel->RecordAt(index.row());
        if (record >= 0 && m_fnGoTo) m_fnGoTo(record);
    });
    // The document is not kept here: the owner knows which one is active.
    auto refresh = [this] {
        if (m_fnFilterChanged) m_fnFilterChanged();
    };
    connect(m_pThreshold, &QDoubleSpinBox::valueChanged, this, refresh);
    connect(m_pHideChecked, &QCheckBox::toggled, this, refresh);
}

void CCheckQueueDock::Refresh(const COrvaneDoc* doc) {
    m_pModel->Refresh(doc, m_pThreshold->value(), m_pHideChecked->isChecked());
    // The progress in the title: suspects above the threshold (hidden ones
    // too) that the operator accepted or fixed.
    QString title = QStringLiteral("Check Queue");
    if (doc && doc->m_checks.Ranking()) {
        const std::vector<int> all = doc->m_checks.Suspects(m_pThreshold->value(), false);
        title += QStringLiteral(": %1 of %2 reviewed")
                     .arg(doc->m_checks.ReviewedCount(all))
                     .arg(all.size());
    }
    setWindowTitle(title);
    if (!doc || !doc->IsProjectLoaded()) {
        m_pSummary->setText(QStringLiteral("Load a project with TIN > Editing (Orvane)."));
        return;
    }
    if (!doc->m_checks.Ranking()) {
        m_pSummary->setText(QStringLiteral("Press n (TIN > Next Suspect) to rank the points."));
        return;
    }
    const CCheckStatuses& statuses = doc->m_checks.Statuses();
    m_pSummary->setText(QStringLiteral("%1 suspects shown; %2 checked, %3 edited; %4 points with "
                                       "too few neighbours to score.")
                            .arg(m_pModel->rowCount())
                            .arg(statuses.CountOf(CheckState::Checked))
                            .arg(statuses.CountOf(CheckState::Edited))
                            .arg(doc->m_checks.Ranking()->InsufficientCount()));
    const int row = m_pModel->RowOf(doc->m_checks.Current());
    if (row >= 0) {
        m_pTable->selectRow(row);
        m_pTable->scrollTo(m_pModel->index(row, 0));
    }
}
