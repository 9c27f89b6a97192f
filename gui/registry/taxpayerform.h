#pragma once
#include <QList>
#include <QWidget>

#include "gui/widgets/forms.h"
#include "registry/registrylogic.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The taxpayer form: the same controls create a taxpayer (frmtbl_CriaContribuinte) and update one
// (frmtbl_CadastroContribuinte). Closing it gives the main window back.
class TaxpayerForm : public FormBase<QWidget> {
  Q_OBJECT
 public:
  // The boxes, for the windows that fill them (update choice, key retrieval, import).
  QLineEdit* txtIE() const { return txtIE_; }
  QLineEdit* txtRazaoSocial() const { return txtRazaoSocial_; }
  QLineEdit* txtCNPJ() const { return txtCNPJ_; }
  QLineEdit* txtCNAE() const { return txtCNAE_; }
  QLineEdit* chave() const { return Chave_; }
  QLineEdit* txtInscMunicipal() const { return txtInscMunicipal_; }
  QCheckBox* flagOptanteSimples() const { return flag_optantesimples_; }
  QLabel* erroMsg() const { return erroMsg_; }

  // What the controls hold now (masked boxes with punctuation and "_").
  ContribuinteDados dados() const;

  void txtIE_LostFocus();
  void txtCNPJ_LostFocus();
  void cmdOK_Click();
  void cmdCancelar_Click();

 protected:
  // update=false: creation window; true: update window.
  TaxpayerForm(bool update, const QString& objectName, const QString& caption);
  ~TaxpayerForm() override;
  void closeEvent(QCloseEvent* e) override;
  // Where the creation window puts its own buttons.
  QWidget* extraArea() const { return extra_; }

 private:
  bool update_;
  QLineEdit* txtIE_;
  QLineEdit* txtRazaoSocial_;
  QLineEdit* txtCNPJ_;
  QLineEdit* txtCNAE_;
  QLineEdit* Chave_;
  QLineEdit* txtInscMunicipal_;
  QCheckBox* flag_optantesimples_;
  QLabel* erroMsg_;
  QPushButton* cmdOK_;
  QPushButton* cmdCancelar_;
  QWidget* extra_;
  QList<QObject*> leaveHooks_;
};
