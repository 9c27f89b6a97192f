#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

#include "registry/accesskey.h"

class QWidget;

// The certificate routine that the taxpayer creation window, the company import and the two
// transmission windows each run: one implementation, told which copy it is.

enum class CopiaCertificado {
  CriacaoContribuinte,  // key retrieval: field checks, company or accountant, then the server
  ImportacaoEmpresas,   // any certificate; the server is asked once per company
  Transmissao,          // the accountant's own certificate, valid at the server's date
};

// One window's certificate state and its copy of the routine.
class CertificadoDigital {
 public:
  explicit CertificadoDigital(CopiaCertificado copia) : copia_(copia) {}

  // The accountant's document digits; the transmission windows fill it when they load.
  QString docContador;
  // A certificate was accepted (cleared when a transmission window refuses one).
  bool certificadoOk = false;

  // Reads the stored accountant's document into docContador. Throws DbError.
  void DadosContador();

  // Dialog with the copy's title and prompt (every source listed), Base64 export decoded back,
  // validity and CRL distribution points. nullopt when the user cancels. Throws std::exception (the
  // component failure) when the chosen certificate or its decoding fails.
  std::optional<CertificadoEscolhido> Escolher(QWidget* parent);

  // The creation window's copy, start to end, with every message. Returns what goes into the form;
  // nullopt when nothing changes (cancel, a refusal, an expired certificate, a failure).
  std::optional<ChaveObtida> SelecionarCertificado(QWidget* window, const DadosEmpresa& empresa);

  // A transmission window's copy: sets certificadoOk when the accountant's certificate is chosen and
  // DataServidor is not after its end of validity, clears it (with the message) when refused, and
  // leaves it when the dialog is cancelled. Returns certificadoOk.
  bool SelecionarCertificado(QWidget* window, const QDateTime& DataServidor);

  // The CRL distribution points of the certificate; the URLs are not used further (no CRL is
  // fetched), a failure only shows its code.
  void ObterUrlsCDP(QWidget* window, const QByteArray& der);

 private:
  CopiaCertificado copia_;
};
