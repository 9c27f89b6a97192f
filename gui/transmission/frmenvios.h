#pragma once
#include <QList>
#include <QWidget>

#include "gui/widgets/forms.h"
#include "registry/deliverystore.h"

class QComboBox;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

// "Envios": the journal of deliveries, newest first, filtered by company, with the details of the
// chosen row and the export to CSV. Object names: cboEmpresa, GridEnvios, txtDetalhes, cmdExportar,
// cmdFechar.
class FrmEnvios : public FormBase<QWidget> {
  Q_OBJECT
 public:
  FrmEnvios();

  // Reads the journal again (the company filter stays).
  void Carrega();
  // Shows only this company's rows (empty: all); false when the filter does not list it.
  bool filtrar(const QString& ie);
  void GridEnvios_Click();
  // Asks where to save and writes the rows shown; false when nothing was written.
  bool cmdExportar_Click();

  const QList<DeliveryStore::Delivery>& shown() const { return shown_; }

 private:
  void fillCompanies();
  void fillGrid();

  QComboBox* cboEmpresa_;
  QTableWidget* GridEnvios_;
  QPlainTextEdit* txtDetalhes_;
  QPushButton* cmdExportar_;
  QPushButton* cmdFechar_;
  QList<DeliveryStore::Delivery> all_;
  QList<DeliveryStore::Delivery> shown_;
};
