#include "console/deviceGrid.h"

#include <QPainter>
#include <QTableView>

#include <cstdio>

namespace dorvane::console {

int DeviceGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : recordCount();
}

int DeviceGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kGridColumnCount; }

QVariant DeviceGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= recordCount() || index.column() >= kGridColumnCount) return {};
    if (role == Qt::DisplayRole) {
        const std::string& cell = records_[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())];
        return QString::fromLatin1(cell.data(), static_cast<qsizetype>(cell.size()));
    }
    return {};
}

QVariant DeviceGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kGridColumnCount)
        return QString::fromLatin1(kGridColumns[section].caption);
    return {};
}

Qt::ItemFlags DeviceGridModel::flags(const QModelIndex& index) const {
    // Read-only: an edited Address cell would break the one-row-per-device rule.
    return index.isValid() ? (Qt::ItemIsEnabled | Qt::ItemIsSelectable) : Qt::NoItemFlags;
}

bool DeviceGridModel::removeRecord(int row) {
    if (row < 0 || row >= recordCount()) return false;
    beginRemoveRows(QModelIndex(), row, row);
    records_.erase(records_.begin() + row);
    endRemoveRows();
    return true;
}

int DeviceGridModel::appendRecord() {
    const int row = recordCount();
    beginInsertRows(QModelIndex(), row, row);
    records_.emplace_back();
    endInsertRows();
    return row;
}

bool DeviceGridModel::setCell(int row, int column, const char* text) {
    if (row < 0 || row >= recordCount() || column < 0 || column >= kGridColumnCount) return false;
    records_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = text != nullptr ? text : "";
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
    return true;
}

QVariant DeviceGridView::data(const QModelIndex& index, int role) const {
    if (role == Qt::BackgroundRole && contentStyle_ && index.isValid()) return contentStyle_(index.row(), index.column());
    return QSortFilterProxyModel::data(index, role);
}

void GridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt(option);
    const QWidget* view = opt.widget;
    if (view == nullptr || !view->hasFocus()) opt.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
    QStyledItemDelegate::paint(painter, opt, index);
}

GridStyle::GridStyle() : QProxyStyle() {}

int GridStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                         QStyleHintReturn* returnData) const {
    if (hint == QStyle::SH_Table_GridLineColor) return static_cast<int>(lineColour_.rgba());
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

int DeviceGrid::rowCount() { return model_.recordCount(); }

bool DeviceGrid::readCell(int row, int column, char* out, std::size_t size) {
    if (out == nullptr || size == 0 || row < 0 || row >= model_.recordCount() || column < 0 ||
        column >= kGridColumnCount)
        return false;
    std::snprintf(out, size, "%s", model_.record(row)[static_cast<std::size_t>(column)].c_str());
    return true;
}

bool DeviceGrid::deleteRow(int row) { return model_.removeRecord(row); }

int DeviceGrid::appendRow() { return model_.appendRecord(); }

bool DeviceGrid::makeLastRowCurrent() {
    const int last = model_.recordCount() - 1;
    if (last < 0) return false;
    const QModelIndex shown = view_.mapFromSource(model_.index(last, 0));
    if (!shown.isValid()) return false;
    table_.setCurrentIndex(shown);
    table_.scrollTo(shown);
    return true;
}

bool DeviceGrid::writeCell(int row, int column, const char* text) { return model_.setCell(row, column, text); }

bool DeviceGrid::setLineColour(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    const QColor colour(red, green, blue);
    if (style_.lineColour() != colour) {
        style_.setLineColour(colour);
        table_.viewport()->update();
    }
    return true;
}

}  // namespace dorvane::console
