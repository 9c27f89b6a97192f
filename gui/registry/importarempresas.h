#pragma once
#include <QList>
#include <QString>
#include <QWidget>
#include <optional>

#include "gui/widgets/forms.h"
#include "registry/novagia.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

// ImportarEmpresas: brings the companies of a NovaGIA export into the local registry, each with the
// key the server gives for it.
class ImportarEmpresas : public FormBase<QWidget> {
  Q_OBJECT
 public:
  ImportarEmpresas();

  // "Selecionar Arquivo": the file dialog.
  void Command2_Click();
  // "Carregar Dados": fills the grid and marks the inconsistent rows.
  void Command3_Click();
  // "Impo&rtar": one certificate, one request and one insert per company.
  void Command1_Click();

  QLineEdit* Text1() const { return Text1_; }
  QTableWidget* MSFlexGrid1() const { return MSFlexGrid1_; }

 private:
  // The companies of the file named in Text1; nullopt after the invalid-file message.
  std::optional<QList<EmpresaNovaGIA>> lerArquivo();
  QLineEdit* Text1_;
  QPushButton* Command1_;
  QPushButton* Command2_;
  QPushButton* Command3_;
  QTableWidget* MSFlexGrid1_;
  QLabel* Label1_;
  QLabel* Label2_;
};
