#pragma once
#include <QString>
#include <QWidget>

#include "gui/widgets/forms.h"

class QPushButton;
class QTableWidget;

// The three list windows: one grid of every taxpayer, OK acts on the chosen row.
class TaxpayerListForm : public FormBase<QWidget> {
  Q_OBJECT
 public:
  struct Escolha {
    QString ie, razaoSocial, cnpj, cnae, chave;
  };
  QTableWidget* grid() const { return grid_; }
  // The chosen row: the current row, when its company-name column is neither empty nor the header.
  bool escolha(Escolha* out) const;
  // Makes the row of this IE current and selected; when no row holds it, nothing changes.
  void highlight(const QString& ie);

  void cmdOK_Click();
  void cmdCancelar_Click();

 protected:
  TaxpayerListForm(const QString& objectName, const QString& caption, const QString& label);
  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;
  // What OK does with a choice, and without one.
  virtual void comEscolha(const Escolha& e) = 0;
  virtual void semEscolha() = 0;

 private:
  void fill();
  QTableWidget* grid_;
  QPushButton* cmdOK_;
  QPushButton* cmdCancelar_;
};
