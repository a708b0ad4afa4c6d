// The device grid: one record per device, kept in the order the records were
// added (that is the order the device admission and the HTTP device list
// read), shown through a sorting view so the operator may sort by a column
// without changing the records' order.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QProxyStyle>
#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "protocol/ports.h"

class QTableView;

namespace dorvane::console {

struct GridColumnSpec {
    const char* name;     // the column's name in the window's design
    const char* caption;
    int width;
};

inline constexpr GridColumnSpec kGridColumns[kGridColumnCount] = {
    {"cxGridTableViewTime", "Time", 115},
    {"cxGridTableViewUpdate", "Update", 50},
    {"cxGridTableViewType", "Type", 176},
    {"cxGridTableViewAddress", "Address", 137},
    {"cxGridTableViewVersionMajor", "Major", 40},
    {"cxGridTableViewVersionMinor", "Minor", 40},
    {"cxGridTableViewVersionCorrective", "Corrective", 55},
    {"cxGridTableViewVersionBuild", "Build", 76},
    {"cxGridTableViewVersionConfiguration", "Configuration", 68},
};

// The records: nine single-byte texts each. Read-only to the view.
class DeviceGridModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using Record = std::array<std::string, kGridColumnCount>;

    explicit DeviceGridModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    int recordCount() const { return static_cast<int>(records_.size()); }
    const Record& record(int row) const { return records_[static_cast<std::size_t>(row)]; }
    bool removeRecord(int row);
    int appendRecord();
    bool setCell(int row, int column, const char* text);

private:
    std::vector<Record> records_;
};

// The sorting view over the records. Cell backgrounds come from the window's
// content-style handler, asked with the row's position in the view.
class DeviceGridView final : public QSortFilterProxyModel {
    Q_OBJECT
public:
    using ContentStyle = std::function<QColor(int viewRow, int column)>;
    explicit DeviceGridView(QObject* parent = nullptr) : QSortFilterProxyModel(parent) {}
    void setContentStyle(ContentStyle style) { contentStyle_ = std::move(style); }
    QVariant data(const QModelIndex& index, int role) const override;

private:
    ContentStyle contentStyle_;
};

// Paints the selection only while the grid has the focus.
class GridDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// Gives the grid its line colour.
class GridStyle final : public QProxyStyle {
    Q_OBJECT
public:
    GridStyle();
    void setLineColour(const QColor& colour) { lineColour_ = colour; }
    QColor lineColour() const { return lineColour_; }
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override;

private:
    QColor lineColour_{192, 192, 192};
};

// The grid operations the device admission uses, by record index.
class DeviceGrid final : public IDeviceGrid {
public:
    DeviceGrid(DeviceGridModel& model, DeviceGridView& view, QTableView& table, GridStyle& style)
        : model_(model), view_(view), table_(table), style_(style) {}

    int rowCount() override;
    bool readCell(int row, int column, char* out, std::size_t size) override;
    bool deleteRow(int row) override;
    int appendRow() override;
    bool makeLastRowCurrent() override;
    bool writeCell(int row, int column, const char* text) override;
    bool setLineColour(std::uint8_t red, std::uint8_t green, std::uint8_t blue) override;

private:
    DeviceGridModel& model_;
    DeviceGridView& view_;
    QTableView& table_;
    GridStyle& style_;
};

}  // namespace dorvane::console
