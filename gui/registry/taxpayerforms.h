#pragma once
#include <QWidget>

#include "gui/widgets/forms.h"
#include "registry/registrylogic.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

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

// frmtbl_CriaContribuinte: registers a new taxpayer; also the door to the key retrieval with a
// digital certificate and to the company import.
class FrmCriaContribuinte : public TaxpayerForm {
  Q_OBJECT
 public:
  FrmCriaContribuinte();
  // "Gerar chave através do Cert. Digital": the certificate-based key retrieval.
  void Command1_Click();
  // "Importação de Empresas": opens the company import window.
  void Command2_Click();
};

// frmtbl_CadastroContribuinte: edits the taxpayer chosen in frmtbl_atualizarContribuinte.
class FrmCadastroContribuinte : public TaxpayerForm {
  Q_OBJECT
 public:
  FrmCadastroContribuinte();
};

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

  void cmdOK_Click();
  void cmdCancelar_Click();

 protected:
  TaxpayerListForm(const QString& objectName, const QString& caption, const QString& label);
  void closeEvent(QCloseEvent* e) override;
  // What OK does with a choice, and without one.
  virtual void comEscolha(const Escolha& e) = 0;
  virtual void semEscolha() = 0;

 private:
  void fill();
  QTableWidget* grid_;
  QPushButton* cmdOK_;
  QPushButton* cmdCancelar_;
};

// frmtbl_SelecionaContribuinte: the chosen taxpayer becomes the main window's selection.
class FrmSelecionaContribuinte : public TaxpayerListForm {
  Q_OBJECT
 public:
  FrmSelecionaContribuinte();

 protected:
  void comEscolha(const Escolha& e) override;
  void semEscolha() override;
};

// frmtbl_atualizarContribuinte: opens the chosen taxpayer in frmtbl_CadastroContribuinte.
class FrmAtualizarContribuinte : public TaxpayerListForm {
  Q_OBJECT
 public:
  FrmAtualizarContribuinte();

 protected:
  void comEscolha(const Escolha& e) override;
  void semEscolha() override;
};

// frmtbl_exclusaoContribuinte: deletes the chosen taxpayer after asking.
class FrmExclusaoContribuinte : public TaxpayerListForm {
  Q_OBJECT
 public:
  FrmExclusaoContribuinte();

 protected:
  void comEscolha(const Escolha& e) override;
  void semEscolha() override;
};
