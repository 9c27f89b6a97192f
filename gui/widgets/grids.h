#pragma once
#include <QTableWidget>
#include <algorithm>

// Widens columns first..last to their contents. The widths they already have are the minimum: a
// document number or a period is never cut short on screen.
inline void WidenToContents(QTableWidget* grid, int first, int last) {
  for (int c = first; c <= last; ++c) {
    const int wanted = grid->columnWidth(c);
    grid->resizeColumnToContents(c);
    grid->setColumnWidth(c, std::max(grid->columnWidth(c), wanted));
  }
}
