#pragma once
#include <QWidget>

#include "gui/widgets/forms.h"
#include "registry/registrylogic.h"

class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// frmContador: the one accountant of this installation, kept by AccountantStore and announced to the
// municipality's server with "Transferencia.contador".
class FrmContador : public FormBase<QWidget> {
  Q_OBJECT
 public:
  FrmContador();
  ~FrmContador() override;

  // CPF mode is told by the document box's mask.
  bool cpfMode() const;
  // What the twelve controls show now.
  ContadorDados dados() const;

  // Handlers, public so that tests and other windows can stand in for a click.
  void txtCNPJCPF_LostFocus();
  void btnOK_Click();
  void Command1_Click();  // Cancelar
  void Command2_Click();  // Remover

 private:
  // The constructor's parts, in the order the window is put together.
  QWidget* buildPersonType(QWidget* parent);
  void buildFields(QWidget* parent);
  void layOutFrame(QGroupBox* frame, QWidget* tipo);
  QHBoxLayout* buildButtons();
  void connectControls();
  void load();

  QRadioButton* opt_fisica_;
  QRadioButton* opt_juridica_;
  QLineEdit* txtCNPJCPF_;
  QLineEdit* txtCRC_;
  QLineEdit* txtRazaoSocial_;
  QLineEdit* txtLogradouro_;
  QLineEdit* txtNumero_;
  QLineEdit* txtComplemento_;
  QLineEdit* txtBairro_;
  QLineEdit* txtCidade_;
  QLineEdit* txtUF_;
  QLineEdit* txtTelefone_;
  QLineEdit* txtCEP_;
  QLineEdit* txtEmail_;
  QLabel* erroMsg_;
  QPushButton* btnOK_;
  QPushButton* Command1_;
  QPushButton* Command2_;
  QObject* leaveHook_;
};
