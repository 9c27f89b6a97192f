#pragma once
#include <QAbstractItemView>
#include <QList>
#include <QString>
#include <QStringList>

class QTableWidget;

// The grids of the windows, laid out like the flex grids they replace: row 0 is a fixed header row
// and the data rows start at 1; widths are given in twips.

constexpr int kTwipsPerPixel = 15;
constexpr int TwipsToPixels(int twips) { return twips / kTwipsPerPixel; }

struct GridColumn {
  QString header;
  // Less than a pixel hides the column; kDefaultWidth leaves the grid's own width.
  int twips;
  Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter;
  static constexpr int kDefaultWidth = -1;
};

// Columns, widths and the header row; the data rows are removed.
void SetUpGrid(QTableWidget* grid, const QList<GridColumn>& columns,
               QAbstractItemView::SelectionMode mode = QAbstractItemView::SingleSelection);
// Writes one data row with each column's alignment; cells beyond the list are left without an item.
void SetGridRow(QTableWidget* grid, int row, const QStringList& cells);
// Adds a data row at the bottom; its index.
int AppendGridRow(QTableWidget* grid, const QStringList& cells);
// Widens columns first..last to their contents. The widths they already have are the minimum: a
// document number or a period is never cut short on screen.
void WidenToContents(QTableWidget* grid, int first, int last);
