#include "gui/widgets/grids.h"

#include <QHeaderView>
#include <QTableWidget>
#include <algorithm>

namespace {
// Each column's alignment for its data cells, kept on the grid.
QByteArray alignProperty(int column) { return "zideAlign" + QByteArray::number(column); }
constexpr char kHeaderKept[] = "zideHeaderKept";

// The title row is never the current one: when the rows under it go (a list emptied for another
// company), or when an empty grid takes the focus (Qt then makes its first cell current), it would
// be painted as the highlighted row. The first data row takes its place when there is one.
void keepCurrentOffHeader(QTableWidget* grid) {
  if (grid->property(kHeaderKept).toBool()) return;
  grid->setProperty(kHeaderKept, true);
  const auto leaveHeader = [grid] {
    if (grid->currentRow() != 0) return;
    if (grid->rowCount() > 1) grid->setCurrentCell(1, grid->currentColumn());
    else grid->selectionModel()->clearCurrentIndex();
  };
  QObject::connect(grid->model(), &QAbstractItemModel::rowsRemoved, grid, leaveHeader);
  QObject::connect(grid->selectionModel(), &QItemSelectionModel::currentChanged, grid, leaveHeader,
                   Qt::QueuedConnection);
}
}  // namespace

void SetUpGrid(QTableWidget* grid, const QList<GridColumn>& columns, QAbstractItemView::SelectionMode mode) {
  const int n = static_cast<int>(columns.size());
  grid->setColumnCount(n);
  grid->setRowCount(1);
  grid->horizontalHeader()->hide();
  grid->verticalHeader()->hide();
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(mode);
  grid->setWordWrap(false);
  // Tab goes on to the next control: moving the current cell would change the selection the user made.
  grid->setTabKeyNavigation(false);
  for (int c = 0; c < n; ++c) {
    const GridColumn& col = columns[c];
    auto* item = new QTableWidgetItem(col.header);
    item->setTextAlignment(Qt::AlignCenter);
    item->setFlags(Qt::ItemIsEnabled);
    item->setBackground(grid->palette().button());
    QFont f = item->font();
    f.setBold(true);
    item->setFont(f);
    grid->setItem(0, c, item);
    grid->setProperty(alignProperty(c).constData(), int(col.align));
    if (col.twips != GridColumn::kDefaultWidth && TwipsToPixels(col.twips) == 0) {
      grid->setColumnHidden(c, true);
      continue;
    }
    if (col.twips != GridColumn::kDefaultWidth) grid->setColumnWidth(c, TwipsToPixels(col.twips));
    // The widths in twips were measured for another font: the header's text is never cut short.
    WidenToContents(grid, c, c);
  }
  if (grid->currentRow() == 0) grid->selectionModel()->clearCurrentIndex();
  keepCurrentOffHeader(grid);
}

void SetGridRow(QTableWidget* grid, int row, const QStringList& cells) {
  for (int c = 0; c < cells.size() && c < grid->columnCount(); ++c) {
    auto* item = new QTableWidgetItem(cells[c]);
    item->setTextAlignment(Qt::Alignment(grid->property(alignProperty(c).constData()).toInt()));
    grid->setItem(row, c, item);
  }
}

int AppendGridRow(QTableWidget* grid, const QStringList& cells) {
  const int row = grid->rowCount();
  grid->insertRow(row);
  SetGridRow(grid, row, cells);
  return row;
}

void WidenToContents(QTableWidget* grid, int first, int last) {
  for (int c = first; c <= last; ++c) {
    const int wanted = grid->columnWidth(c);
    grid->resizeColumnToContents(c);
    grid->setColumnWidth(c, std::max(grid->columnWidth(c), wanted));
  }
}
