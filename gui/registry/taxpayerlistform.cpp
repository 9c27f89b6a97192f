#include "gui/registry/taxpayerlistform.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMargins>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/widgets/errorreportbox.h"
#include "gui/widgets/grids.h"
#include "gui/widgets/okcancelrow.h"
#include "registry/localdb.h"
#include "registry/session.h"
#include "registry/taxpayerstore.h"

namespace {
const QString kHeaderRazao = QStringLiteral("RAZÃO SOCIAL");

}  // namespace

TaxpayerListForm::TaxpayerListForm(const QString& objectName, const QString& caption, const QString& label) {
  setObjectName(objectName);
  setWindowTitle(caption);
  auto* lbl = new QLabel(label, this);
  lbl->setObjectName(QStringLiteral("Label1"));
  grid_ = new QTableWidget(this);
  grid_->setObjectName(QStringLiteral("GridSelContribuinte"));
  QHBoxLayout* buttons = OkCancelRow(this, &cmdOK_, &cmdCancelar_);
  auto* lay = new QVBoxLayout(this);
  lay->addWidget(lbl);
  lay->addWidget(grid_, 1);
  lay->addLayout(buttons);
  resize(720, 380);

  connect(cmdOK_, &QPushButton::clicked, this, &TaxpayerListForm::cmdOK_Click);
  // A double-click on a company chooses it, as OK would.
  connect(grid_, &QTableWidget::cellDoubleClicked, this, [this](int row) {
    if (row > 0) cmdOK_Click();
  });
  connect(cmdCancelar_, &QPushButton::clicked, this, &TaxpayerListForm::cmdCancelar_Click);
  fill();
}

void TaxpayerListForm::fill() {
  SetUpGrid(grid_, {{QStringLiteral("IE"), 1300},
                    {kHeaderRazao, 4400},
                    {QStringLiteral("CNPJ"), 1600},
                    {QStringLiteral("CNAE"), 1000},
                    {QStringLiteral("Chave de Acesso"), GridColumn::kDefaultWidth, Qt::AlignHCenter | Qt::AlignTop}});
  grid_->horizontalHeader()->setStretchLastSection(true);

  QList<ContribuinteDados> rows;
  try {
    LocalDatabase::Connection db;
    rows = TaxpayerStore::all(db);
  } catch (const DbError& e) {
    // The list stays empty; OK then says there is nothing to choose.
    ErrorReport::show(this, e);
    return;
  }
  for (const ContribuinteDados& r : rows) {
    // An empty key leaves its cell without an item.
    QStringList cells{r.ie, r.razaoSocial, r.cnpj, r.cnae};
    if (!r.chave.isEmpty()) cells << r.chave;
    AppendGridRow(grid_, cells);
  }
  WidenToContents(grid_, 0, 3);
  // Every title whole without scrolling: the window grows when this display's font needs the room.
  const QMargins m = layout()->contentsMargins();
  const int last = grid_->columnCount() - 1;
  int needed = 2 * grid_->frameWidth() + m.left() + m.right();
  for (int c = 0; c < last; ++c) needed += grid_->columnWidth(c);
  // The last column stretches, so its own width says nothing: its widest text, with the style's margins.
  int widest = 0;
  for (int r = 0; r < grid_->rowCount(); ++r)
    if (const QTableWidgetItem* item = grid_->item(r, last)) {
      const QVariant font = item->data(Qt::FontRole);
      const QFontMetrics fm(font.isValid() ? font.value<QFont>() : grid_->font());
      widest = qMax(widest, fm.horizontalAdvance(item->text()));
    }
  needed += widest + 2 * (grid_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid_) + 1) + 4;
  if (needed > width()) resize(needed, height());
  // The current row starts on the first company; an empty list has none (not the header).
  if (grid_->rowCount() > 1) grid_->setCurrentCell(1, 0);
}

bool TaxpayerListForm::escolha(Escolha* out) const {
  const int row = grid_->currentRow();
  if (row < 0) return false;
  auto text = [&](int col) {
    const QTableWidgetItem* item = grid_->item(row, col);
    return item ? item->text() : QString();
  };
  const QString razao = text(1);
  if (razao.isEmpty() || razao == kHeaderRazao) return false;
  *out = {text(0), razao, text(2), text(3), text(4)};
  return true;
}

void TaxpayerListForm::highlight(const QString& ie) {
  if (ie.isEmpty()) return;
  for (int row = 1; row < grid_->rowCount(); ++row) {
    const QTableWidgetItem* item = grid_->item(row, 0);
    if (!item || item->text() != ie) continue;
    // The view scrolls to its current row when it is shown.
    grid_->setCurrentCell(row, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    return;
  }
}

void TaxpayerListForm::showEvent(QShowEvent* e) {
  FormBase<QWidget>::showEvent(e);
  // The current company in view once the window has its real size (it may have grown for the font).
  QTimer::singleShot(0, grid_, [g = grid_] {
    if (g->currentIndex().isValid()) g->scrollTo(g->currentIndex());
  });
}

void TaxpayerListForm::cmdOK_Click() {
  Escolha e;
  if (escolha(&e)) comEscolha(e);
  else semEscolha();
}

void TaxpayerListForm::cmdCancelar_Click() { close(); }

void TaxpayerListForm::closeEvent(QCloseEvent* e) {
  Session::current().releaseMainWindow();
  FormBase<QWidget>::closeEvent(e);
}
